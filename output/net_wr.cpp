#include "output/net_wr.h"

#include <bit>
#include <cstdio>
#include <cstring>

#include "common/numeric.h"
#include "output/heads.h"

namespace dropix {

namespace {

// A flush is due after more than this many whole seconds.
constexpr s64 flush_interval = 3;

void append_buffer(writer_state& wr, diagnostics& d) {
  std::FILE* fp = wr.pix_fp.get();
  if (!write_all(fp, wr.pix_buf.get(), wr.pix_indx, wr.faults)) write_failed(wr, d, " net_wr02 ", wr.pix_nam);
  // The records are on disk before the minute index and the resume file point past them.
  if (!sync_file(fp, wr.faults)) write_failed(wr, d, " net_wr14 ", wr.pix_nam);
  if (seek64(fp, 0, SEEK_END) != 0) write_failed(wr, d, " netwr01 ", wr.pix_nam);
  const s64 end = tell64(fp);
  if (end < 0) write_failed(wr, d, " net_wr03 ", wr.pix_nam);
  wr.pix_end = static_cast<u32>(end);
  hprintf(d, " written \n");
}

void rewrite_hd_head(writer_state& wr, diagnostics& d) {
  hprintf(d, "hd_nam=%s\n", wr.hd_nam);
  if (const char* tag = write_hd_head(wr.hd_fp.get(), wr.pos_pix, wr.oldlen,
                                      {" net_wr05 ", " net_wr05 ", " net_wr06 ", nullptr, " net_wr07 "}, wr.faults))
    write_failed(wr, d, tag, wr.hd_nam);
  if (seek64(wr.hd_fp.get(), 0, SEEK_END) != 0) write_failed(wr, d, " netwr08 ", wr.hd_nam);
}

// Writes the buffer to .hyd, then the minute index of .hd and the whole .abh, in this order,
// so that the files on disk always allow a restart.
// With `always`, .hd and .abh are rewritten even when no record is buffered.
void flush(writer_state& wr, const raw_positions& pos, s64 now, bool always, diagnostics& d) {
  wr.wr_time = now;
  const bool data = wr.pix_indx > 0;
  if ((data || always) && wr.pix_fp && wr.hd_fp && wr.abh_fp) {
    if (data) append_buffer(wr, d);
    rewrite_hd_head(wr, d);
    if (data) wr.lastpix_y = stored_line(wr.last_y);
    if (const char* tag = write_abh(wr.abh_fp.get(), pos, wr.lastpix_y, true,
                                    {" net_wr09 ", " net_wr09 ", " net_wr10 ", " net_wr11 ", " net_wr12 "}, wr.faults))
      write_failed(wr, d, tag, wr.abh_nam);
  }
  wr.wr_force = 0;
  wr.pix_indx = 0;
}

}  // namespace

void enter_pos_pix(writer_state& wr, f64 y, f64 line_fr, u32 position, diagnostics& d) {
  const int m = minute_of(y, line_fr);
  if (m < 0 || m <= wr.last_minute) return;
  for (int k = wr.last_minute + 1; k <= m; ++k) {
    if (wr.pos_pix[k] == pos_unset) wr.pos_pix[k] = position;
    hprintf(d, "i=%d pos_pix=%lu pix_end=%lu pix_indx=%lu \n", k, wr.pos_pix[k], wr.pix_end, wr.pix_indx);
  }
  wr.last_minute = static_cast<s16>(m);
}

void net_wr(writer_state& wr, const raw_positions& pos, f64 line_fr, const u8* head, const u16* data,
            clock_source& clock, diagnostics& d) {
  const bool pair = head != nullptr;
  u32 len = 0;
  f64 y_first = 0;
  if (pair) {
    len = drop_fmt::length_of(get_u16(head + drop_fmt::len_bits));
    y_first = get_f64(head + drop_fmt::y_first);
    // Drops that were on disk when this run started are not written again.
    if (wr.disk_y >= y_first) return;
  }
  const s64 now = clock.clock_seconds();
  if (now > wr.wr_time + flush_interval || wr.pix_indx + len >= pix_buf_limit || wr.wr_force)
    flush(wr, pos, now, false, d);
  if (!pair) return;
  u8* at = wr.pix_buf.get() + wr.pix_indx;
  std::memcpy(at, head, drop_fmt::head_size);
  const u32 words = (len - drop_fmt::head_size) / 2;
  if constexpr (std::endian::native == std::endian::little)
    std::memcpy(at + drop_fmt::head_size, data, 2 * words);
  else
    for (u32 i = 0; i < words; ++i) put_u16(at + drop_fmt::head_size + 2 * i, data[i]);
  wr.oldlen = static_cast<s16>(len);
  wr.last_y = y_first;
  enter_pos_pix(wr, wr.last_y, line_fr, wr.pix_end + wr.pix_indx, d);
  wr.pix_indx += len;
}

void flush_request(writer_state& wr, const raw_positions& pos, clock_source& clock, diagnostics& d) {
  wr.wr_force = 1;
  net_wr(wr, pos, 0, nullptr, nullptr, clock, d);
}

void final_flush(writer_state& wr, const raw_positions& pos, clock_source& clock, diagnostics& d) {
  flush(wr, pos, clock.clock_seconds(), true, d);
}

void append_header(writer_state& wr, const main_rec& r, diagnostics& d) {
  u8 bytes[main_rec_fmt::size];
  encode_main_rec(r, bytes);
  // .hd first: a run that ends between the two appends leaves .hd one header ahead, which
  // the next run cuts back to what .hyd holds.
  if (std::FILE* hd = wr.hd_fp.get()) {
    if (seek64(hd, 0, SEEK_END) != 0) write_failed(wr, d, " main_hr02 ", wr.hd_nam);
    if (!write_all(hd, bytes, sizeof bytes, wr.faults)) write_failed(wr, d, " main_hr03 ", wr.hd_nam);
    if (!flush_file(hd, wr.faults)) write_failed(wr, d, " main_hr04 ", wr.hd_nam);
  }
  if (std::FILE* hyd = wr.pix_fp.get()) {
    if (seek64(hyd, 0, SEEK_END) != 0) write_failed(wr, d, " main_hr05 ", wr.pix_nam);
    if (!write_all(hyd, bytes, sizeof bytes, wr.faults)) write_failed(wr, d, " main_hr06 ", wr.pix_nam);
    if (!flush_file(hyd, wr.faults)) write_failed(wr, d, " main_hr07 ", wr.pix_nam);
    const s64 end = tell64(hyd);
    if (end < 0) write_failed(wr, d, " main_hr32 ", wr.pix_nam);
    wr.pix_end = static_cast<u32>(end);
  }
  // The .hyd file now ends with this header: .hd says so at once, so that a run stopped
  // before the next flush still chains the next record back to it.
  if (std::FILE* hd = wr.hd_fp.get()) {
    u8 len[2];
    put_s16(len, main_rec_fmt::size);
    if (seek64(hd, hd_fmt::oldlen, SEEK_SET) != 0 || !write_all(hd, len, sizeof len, wr.faults) ||
        !flush_file(hd, wr.faults))
      write_failed(wr, d, " main_hr08 ", wr.hd_nam);
    if (seek64(hd, 0, SEEK_END) != 0) write_failed(wr, d, " main_hr02 ", wr.hd_nam);
  }
  wr.oldlen = static_cast<s16>(main_rec_fmt::size);
  wr.wr_force = 1;
}

}  // namespace dropix
