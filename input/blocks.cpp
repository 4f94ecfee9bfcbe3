#include "input/blocks.h"

#include <algorithm>
#include <cstdio>

#include "common/numeric.h"
#include "platform/files.h"

namespace dropix {

namespace {

// The file is read up to mp.raw_limit, the largest position the 32-bit resume tables can
// hold; a longer file is noted, so that the run can end saying so once the data up to there
// are used up.
void measure_raw(const camera_reader& r, mp_state& mp, std::FILE* raw_fp, s64 need, diagnostics& d) {
  if (need <= mp.rawend) return;
  if (seek64(raw_fp, 0, SEEK_END) != 0) report_errno(d, r.end_seek_tag);
  const s64 end = tell64(raw_fp);
  if (end < 0) {
    report_errno(d, r.end_tell_tag);
    return;
  }
  mp.rawend = std::min(end, mp.raw_limit);
  if (end > mp.raw_limit) mp.raw_beyond = end;
}

}  // namespace

camera_reader reader_a(mp_state& mp, raw_state& raw) {
  return {'A', ident_camera_a, mp.pos_a, mp.prev_a, mp.last_a, mp.cnt_a, mp.cut_a,
          raw.win_a, "mp01", "mp02", "mp03", "mp71", "mp32"};
}

camera_reader reader_b(mp_state& mp, raw_state& raw) {
  return {'B', ident_camera_b, mp.pos_b, mp.prev_b, mp.last_b, mp.cnt_b, mp.cut_b,
          raw.win_b, "mp31", "mp04", "mp05", "mp72", "mp33"};
}

block_read next_block(camera_reader& r, mp_state& mp, std::FILE* raw_fp, s16& ident, s16& cmpr_n,
                      diagnostics& d) {
  measure_raw(r, mp, raw_fp, r.pos + static_cast<s64>(block_fmt::size), d);
  if (r.pos >= mp.rawend) return block_read::end;
  const auto cut_short = [&](s64 need) {
    // A block across the end of what the resume tables can address is no cut: the run ends
    // saying why at the end of the data.
    const bool at_limit = mp.raw_beyond > 0 && r.pos + need > mp.raw_limit;
    if (r.cut != r.pos && !at_limit)
      err_printf(d,
                 "block at offset %lld needs %lld bytes, but the raw file ends at %lld: "
                 "camera %c reader stops there\n",
                 static_cast<long long>(r.pos), static_cast<long long>(need),
                 static_cast<long long>(mp.rawend), r.name);
    r.cut = r.pos;
    return block_read::end;
  };
  if (mp.rawend - r.pos < static_cast<s64>(block_fmt::size)) return cut_short(block_fmt::size);
  raw_cursor cur{&r.win, r.pos, mp.rawend};
  u8 framing[block_fmt::size];
  switch (raw_read(cur, framing, sizeof framing)) {
    case raw_read_result::ok:
      break;
    case raw_read_result::seek_failed:
      report_errno(d, r.seek_tag);
      return block_read::corrupt;
    case raw_read_result::short_read:
      report_errno(d, r.ident_tag);
      return block_read::corrupt;
  }
  ident = get_s16(framing + block_fmt::ident);
  cmpr_n = get_s16(framing + block_fmt::cmpr_n);
  if (cmpr_n < 0) {
    err_printf(d, "corrupt raw file: block at offset %lld has the negative length %d\n",
               static_cast<long long>(r.pos), cmpr_n);
    return block_read::corrupt;
  }
  measure_raw(r, mp, raw_fp, r.pos + static_cast<s64>(block_fmt::size) + cmpr_n, d);
  if (mp.rawend - r.pos < static_cast<s64>(block_fmt::size) + cmpr_n)
    return cut_short(static_cast<s64>(block_fmt::size) + cmpr_n);
  r.prev = r.pos;
  r.pos += static_cast<s64>(block_fmt::size) + cmpr_n;
  return block_read::ok;
}

std::optional<u32> first_header_time(raw_state& raw, s64 raw_length) {
  constexpr int blocks_looked_at = 4096;
  raw_window win;
  win.fp = raw.raw_fp.get();
  s64 at = 0;
  for (int i = 0; i < blocks_looked_at && at + static_cast<s64>(block_fmt::size) <= raw_length; ++i) {
    raw_cursor cur{&win, at, raw_length};
    u8 framing[block_fmt::size];
    if (raw_read(cur, framing, sizeof framing) != raw_read_result::ok) return std::nullopt;
    const s16 ident = get_s16(framing + block_fmt::ident);
    const s16 cmpr_n = get_s16(framing + block_fmt::cmpr_n);
    if (cmpr_n < 0) return std::nullopt;
    if (ident == ident_main_header && cmpr_n >= static_cast<s16>(hd_par_fmt::size)) {
      u8 body[hd_par_fmt::size];
      if (raw_read(cur, body, sizeof body) != raw_read_result::ok) return std::nullopt;
      const hd_par h = decode_hd_par(body);
      if (usable_line_fr(h.line_fr)) return h.valid_since;
    }
    at += static_cast<s64>(block_fmt::size) + cmpr_n;
  }
  return std::nullopt;
}

raw_cursor body_of(const camera_reader& r) {
  return {&r.win, r.prev + static_cast<s64>(block_fmt::size), r.pos};
}

}  // namespace dropix
