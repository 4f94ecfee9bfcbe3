#include "output/net_wr.h"

#include <cstdio>
#include <cstring>

#include "common/numeric.h"
#include "control/diag.h"
#include "platform/platform.h"
#include "reconstruct/transf.h"

namespace dropix {

namespace {

// A flush is due after more than this many whole seconds.
constexpr s64 flush_interval = 3;

// The stored lastpix_y is 32 bits: line counts beyond it are kept as its largest value.
u32 stored_line(f64 y) {
  const u64 t = line_trunc(y);
  return t > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(t);
}

void write_table(std::FILE* fp, const u32* v, std::size_t n, const char* tag) {
  if (!write_u32s(fp, v, n)) report_errno(tag);
}

void append_buffer() {
  std::FILE* fp = wr.pix_fp;
  if (std::fwrite(wr.pix_buf.data(), wr.pix_indx, 1, fp) != 1) report_errno(" net_wr02 ");
  // The records are on disk before the minute index and the resume file point past them.
  if (platform::file_sync(fp) != 0) report_errno(" net_wr14 ");
  wr.drop_written += wr.pix_indx;
  if (platform::seek64(fp, 0, SEEK_END) != 0) report_errno(" netwr01 ");
  const s64 end = platform::tell64(fp);
  if (end < 0)
    report_errno(" net_wr03 ");
  else
    wr.pix_end = static_cast<u32>(end);
  hprintf(" written \n");
}

void rewrite_hd_head() {
  std::FILE* fp = wr.hd_fp;
  if (platform::seek64(fp, 0, SEEK_SET) != 0) report_errno(" net_wr05 ");
  write_table(fp, wr.pos_pix, minutes_per_day_table, " net_wr05 ");
  u8 len[2];
  put_s16(len, wr.oldlen);
  if (std::fwrite(len, sizeof len, 1, fp) != 1) report_errno(" net_wr06 ");
  hprintf("hd_nam=%s\n", wr.hd_nam);
  if (std::fflush(fp) != 0) report_errno(" net_wr07 ");
  if (platform::seek64(fp, 0, SEEK_END) != 0) report_errno(" netwr08 ");
}

void rewrite_abh() {
  std::FILE* fp = wr.abh_fp;
  if (platform::seek64(fp, 0, SEEK_SET) != 0) report_errno(" net_wr09 ");
  write_table(fp, timing.posa_bf, minutes_per_day_table, " net_wr09 ");
  write_table(fp, timing.posb_bf, minutes_per_day_table, " net_wr10 ");
  const u32 tail[2] = {wr.lastpix_y, 0};
  write_table(fp, tail, 2, " net_wr11 ");
  if (std::fflush(fp) != 0) report_errno(" net_wr12 ");
}

// Writes the buffer to .hyd, then the minute index of .hd and the whole .abh, in this order,
// so that the files on disk always allow a restart.
// With `always`, .hd and .abh are rewritten even when no record is buffered.
void flush(s64 now, bool always) {
  wr.wr_time = now;
  const bool data = wr.pix_indx > 0;
  if ((data || always) && wr.pix_fp && wr.hd_fp && wr.abh_fp) {
    if (data) append_buffer();
    rewrite_hd_head();
    if (data) wr.lastpix_y = stored_line(wr.last_y);
    rewrite_abh();
  }
  wr.wr_force = 0;
  wr.pix_indx = 0;
}

}  // namespace

void enter_pos_pix(f64 y, f64 line_fr, u32 position) {
  const int m = minute_of(y, line_fr);
  if (m < 0 || m <= wr.last_minute) return;
  for (int k = wr.last_minute + 1; k <= m; ++k) {
    if (wr.pos_pix[k] == pos_unset) wr.pos_pix[k] = position;
    hprintf("i=%d pos_pix=%lu pix_end=%lu pix_indx=%lu \n", k, wr.pos_pix[k], wr.pix_end, wr.pix_indx);
  }
  wr.last_minute = static_cast<s16>(m);
}

void net_wr(const drop_rec* drop_a, const drop_rec* drop_b) {
  static u16 data[max_packed_values];
  static u8 head[drop_fmt::head_size];
  const bool pair = drop_a && drop_b;
  u32 len = 0;
  if (pair) {
    if (transf_1(drop_a, drop_b, data, head) == 0) return;
    len = drop_fmt::length_of(get_u16(head + drop_fmt::len_bits));
    // Drops that were on disk when this run started are not written again.
    if (wr.disk_y >= drop_a->y_first) return;
  }
  const s64 now = platform::clock_seconds();
  if (now > wr.wr_time + flush_interval || wr.pix_indx + len >= pix_buf_limit || wr.wr_force)
    flush(now, false);
  if (!pair) return;
  u8* at = wr.pix_buf.data() + wr.pix_indx;
  std::memcpy(at, head, drop_fmt::head_size);
  for (u32 i = 0; i < (len - drop_fmt::head_size) / 2; ++i) put_u16(at + drop_fmt::head_size + 2 * i, data[i]);
  wr.oldlen = static_cast<s16>(len);
  wr.last_y = drop_a->y_first;
  enter_pos_pix(wr.last_y, hdr.line_fr, wr.pix_end + wr.pix_indx);
  wr.pix_indx += len;
}

void flush_request() {
  wr.wr_force = 1;
  net_wr(nullptr, nullptr);
}

void final_flush() { flush(platform::clock_seconds(), true); }

}  // namespace dropix
