#include "output/resume.h"

#include <algorithm>
#include <cstdio>

#include "common/numeric.h"
#include "platform/files.h"
#include "platform/raw_reader.h"

namespace dropix {

namespace {

void cut_off(writer_state& wr, s64 at, s64 end, diagnostics& d) {
  err_printf(d, "%s ends inside a record at offset %lld (%lld bytes): cut off there\n", wr.pix_nam.c_str(),
             static_cast<long long>(at), static_cast<long long>(end));
  if (truncate_file(wr.pix_fp.get(), at) != 0) report_errno(d, " pixfil34 ");
  wr.pix_end = static_cast<u32>(at);
}

void append_missing_header(writer_state& wr, const main_rec& r, diagnostics& d) {
  u8 bytes[main_rec_fmt::size];
  encode_main_rec(r, bytes);
  err_printf(d, "main header %lu of %s missing at the end of %s: appended\n", static_cast<unsigned long>(r.main_time),
             wr.hd_nam.c_str(), wr.pix_nam.c_str());
  std::FILE* fp = wr.pix_fp.get();
  if (seek64(fp, 0, SEEK_END) != 0 || std::fwrite(bytes, sizeof bytes, 1, fp) != 1 || std::fflush(fp) != 0)
    report_errno(d, " pixfil35 ");
  wr.pix_end += static_cast<u32>(sizeof bytes);
  wr.oldlen = static_cast<s16>(sizeof bytes);
}

}  // namespace

void walk_hyd(writer_state& wr, const std::vector<main_rec>& stored, diagnostics& d) {
  raw_window win;
  win.fp = wr.pix_fp.get();
  const s64 end = wr.pix_end;
  s64 at = 0;
  f64 line_fr = 0;  // of the header in force where the walk stands
  f64 last_drop_y = 0;
  std::size_t headers_seen = 0;
  u8 rec[drop_fmt::max_len];
  wr.oldlen = 0;
  while (at < end) {
    raw_cursor cur{&win, at, end};
    if (raw_read(cur, rec, 2) != raw_read_result::ok) {
      cut_off(wr, at, end, d);
      break;
    }
    const s16 first = get_s16(rec);
    const bool header = first == main_rec_indic;
    const s64 len = header ? static_cast<s64>(main_rec_fmt::size) : static_cast<s64>(first & 0x7FF);
    if (!header && (first < 0 || len < static_cast<s64>(drop_fmt::head_size)))
      fail(d, "%s holds no record at offset %lld: rename or delete it\n", wr.pix_nam.c_str(),
           static_cast<long long>(at));
    if (raw_read(cur, rec + 2, static_cast<std::size_t>(len - 2)) != raw_read_result::ok) {
      cut_off(wr, at, end, d);
      break;
    }
    if (header) {
      line_fr = decode_main_rec(rec).line_fr;
      ++headers_seen;
    } else {
      last_drop_y = get_f64(rec + drop_fmt::y_first);
      enter_pos_pix(wr, last_drop_y, line_fr, static_cast<u32>(at), d);
    }
    wr.oldlen = static_cast<s16>(len);
    at += len;
  }
  for (std::size_t i = headers_seen; i < stored.size(); ++i) append_missing_header(wr, stored[i], d);
  wr.disk_y = std::max(static_cast<f64>(wr.lastpix_y), last_drop_y);
}

u32 resume_entry(const u32* bf, int m) {
  int k = m;
  while (k > 1 && bf[k] == bf[k - 1]) --k;
  k = std::max(k - 1, 0);
  return bf[k];
}

resume_point resume_positions(const raw_positions& pos, f64 disk_y, f64 line_fr, u32 lastpix_y, diagnostics& d) {
  int m = minute_of(disk_y, line_fr);
  if (m < 0) m = disk_y > 0 && line_fr > 0 ? minutes_per_day_table - 1 : 0;
  resume_point r;
  r.pos_a = resume_entry(pos.posa_bf, m);
  r.pos_b = resume_entry(pos.posb_bf, m);
  hprintf(d, "lastpix_y=%lu minute=%d pos_a=%ld pos_b=%ld i=%d\n", lastpix_y, m, r.pos_a, r.pos_b, m);
  hprintf(d, "pixfil: pos_a=%ld pos_b=%ld \n", r.pos_a, r.pos_b);
  return r;
}

}  // namespace dropix
