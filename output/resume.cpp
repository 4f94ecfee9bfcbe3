#include "output/resume.h"

#include <algorithm>
#include <cstdio>

#include "common/numeric.h"
#include "output/heads.h"
#include "platform/files.h"
#include "platform/raw_reader.h"

namespace dropix {

hyd_contents walk_hyd(writer_state& wr, diagnostics& d) {
  raw_window win;
  win.fp = wr.pix_fp.get();
  const s64 end = wr.pix_end;
  hyd_contents h;
  s64 at = 0;
  f64 line_fr = 0;       // of the header met last
  header_list in_order;  // the headers met so far
  u8 rec[drop_fmt::max_len];
  wr.oldlen = 0;
  for (u32& e : wr.pos_pix) e = pos_unset;
  wr.pos_pix[0] = 0;
  wr.last_minute = 0;
  while (at < end) {
    raw_cursor cur{&win, at, end};
    if (raw_read(cur, rec, 2) != raw_read_result::ok) break;
    const s16 first = get_s16(rec);
    const bool header = first == main_rec_indic;
    const s64 len = header ? static_cast<s64>(main_rec_fmt::size) : static_cast<s64>(first & 0x7FF);
    if (!header && (first < 0 || len < static_cast<s64>(drop_fmt::head_size)))
      fail(d, "%s holds no record at offset %lld: rename or delete it\n", wr.pix_nam.c_str(),
           static_cast<long long>(at));
    if (raw_read(cur, rec + 2, static_cast<std::size_t>(len - 2)) != raw_read_result::ok) break;
    if (header) {
      const main_rec r = decode_main_rec(rec);
      h.headers.push_back(r);
      line_fr = r.line_fr;
      in_order.append(r, static_cast<f64>(r.main_time % 86400) * r.line_fr);
    } else {
      // The writer counted the drop's minute at the line frequency of the header in force.
      h.last_drop_y = get_f64(rec + drop_fmt::y_first);
      h.has_drops = true;
      enter_pos_pix(wr, h.last_drop_y, in_order.line_fr_at(h.last_drop_y, line_fr), static_cast<u32>(at), d);
    }
    wr.oldlen = static_cast<s16>(len);
    at += len;
  }
  h.whole = at;
  h.pos_pix.assign(wr.pos_pix, wr.pos_pix + minutes_per_day_table);
  return h;
}

void cut_hyd_tail(writer_state& wr, const hyd_contents& h, diagnostics& d) {
  if (h.whole >= static_cast<s64>(wr.pix_end)) return;
  err_printf(d, "%s ends inside a record at offset %lld (%lld bytes): cut off there\n", wr.pix_nam.c_str(),
             static_cast<long long>(h.whole), static_cast<long long>(wr.pix_end));
  if (!cut_file(wr.pix_fp.get(), h.whole, wr.faults)) write_failed(wr, d, " pixfil34 ", wr.pix_nam);
  wr.pix_end = static_cast<u32>(h.whole);
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

const char* abh_fault(const raw_positions& pos, s64 raw_length) {
  for (const u32* bf : {pos.posa_bf, pos.posb_bf}) {
    int last = -1;  // last minute with an entry
    for (int k = 0; k < minutes_per_day_table; ++k)
      if (bf[k] != 0) last = k;
    for (int k = 0; k <= last; ++k) {
      if (static_cast<s64>(bf[k]) > raw_length) return "positions beyond the end of the raw file";
      if (k > 0 && bf[k] < bf[k - 1]) return "positions out of order";
    }
  }
  return nullptr;
}

}  // namespace dropix
