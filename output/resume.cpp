#include "output/resume.h"

#include <algorithm>
#include <cstdio>

#include "common/numeric.h"
#include "control/diag.h"
#include "control/quit.h"
#include "input/raw_reader.h"
#include "output/net_wr.h"
#include "platform/platform.h"

namespace dropix {

namespace {

void cut_off(s64 at, s64 end) {
  err_printf("%s ends inside a record at offset %lld (%lld bytes): cut off there\n", wr.pix_nam.c_str(),
             static_cast<long long>(at), static_cast<long long>(end));
  if (platform::truncate_file(wr.pix_fp, at) != 0) report_errno(" pixfil34 ");
  wr.pix_end = static_cast<u32>(at);
}

void append_missing_header(const main_rec& r) {
  u8 bytes[main_rec_fmt::size];
  encode_main_rec(r, bytes);
  err_printf("main header %lu of %s missing at the end of %s: appended\n", static_cast<unsigned long>(r.main_time),
             wr.hd_nam.c_str(), wr.pix_nam.c_str());
  if (platform::seek64(wr.pix_fp, 0, SEEK_END) != 0 || std::fwrite(bytes, sizeof bytes, 1, wr.pix_fp) != 1 ||
      std::fflush(wr.pix_fp) != 0)
    report_errno(" pixfil35 ");
  wr.pix_end += static_cast<u32>(sizeof bytes);
  wr.oldlen = static_cast<s16>(sizeof bytes);
}

}  // namespace

void walk_hyd(const std::vector<main_rec>& stored) {
  raw_window win;
  win.fp = wr.pix_fp;
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
      cut_off(at, end);
      break;
    }
    const s16 first = get_s16(rec);
    const bool header = first == main_rec_indic;
    const s64 len = header ? static_cast<s64>(main_rec_fmt::size) : static_cast<s64>(first & 0x7FF);
    if (!header && (first < 0 || len < static_cast<s64>(drop_fmt::head_size))) {
      err_printf("%s holds no record at offset %lld: rename or delete it\n", wr.pix_nam.c_str(),
                 static_cast<long long>(at));
      quit(exit_status::failure);
    }
    if (raw_read(cur, rec + 2, static_cast<std::size_t>(len - 2)) != raw_read_result::ok) {
      cut_off(at, end);
      break;
    }
    if (header) {
      line_fr = decode_main_rec(rec).line_fr;
      ++headers_seen;
    } else {
      last_drop_y = get_f64(rec + drop_fmt::y_first);
      enter_pos_pix(last_drop_y, line_fr, static_cast<u32>(at));
    }
    wr.oldlen = static_cast<s16>(len);
    at += len;
  }
  for (std::size_t i = headers_seen; i < stored.size(); ++i) append_missing_header(stored[i]);
  wr.disk_y = std::max(static_cast<f64>(wr.lastpix_y), last_drop_y);
}

u32 resume_entry(const u32* bf, int m) {
  int k = m;
  while (k > 1 && bf[k] == bf[k - 1]) --k;
  k = std::max(k - 1, 0);
  return bf[k];
}

void resume_positions() {
  int m = minute_of(wr.disk_y, hdr.line_fr);
  if (m < 0) m = wr.disk_y > 0 && hdr.line_fr > 0 ? minutes_per_day_table - 1 : 0;
  mp.pos_a = resume_entry(timing.posa_bf, m);
  mp.pos_b = resume_entry(timing.posb_bf, m);
  hprintf("lastpix_y=%lu minute=%d pos_a=%ld pos_b=%ld i=%d\n", wr.lastpix_y, m, mp.pos_a, mp.pos_b, m);
  hprintf("pixfil: pos_a=%ld pos_b=%ld \n", mp.pos_a, mp.pos_b);
}

}  // namespace dropix
