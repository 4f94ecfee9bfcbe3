#include "input/main_hr.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "common/numeric.h"
#include "control/diag.h"
#include "control/entry.h"
#include "control/quit.h"
#include "platform/platform.h"

namespace dropix {

namespace {

constexpr u32 seconds_per_day = 86400;

// The line count, counted from midnight at the header's own line frequency, from which the
// header holds.
f64 line_of(const main_rec& r) { return static_cast<f64>(r.main_time % seconds_per_day) * r.line_fr; }

void report_time_jump(const main_rec& stored, const main_rec& fresh) {
  std::FILE* e = errs();
  std::fprintf(e, " indic    = %d %d \n", stored.indic, fresh.indic);
  std::fprintf(e, " len_prev = %d %d \n", stored.len_prev, fresh.len_prev);
  std::fprintf(e, " L0_1     = %f %f \n", stored.L0_1, fresh.L0_1);
  std::fprintf(e, " L0_2     = %f %f \n", stored.L0_2, fresh.L0_2);
  std::fprintf(e, " main_time= %ld %ld \n", static_cast<long>(stored.main_time),
               static_cast<long>(fresh.main_time));
  std::fprintf(e, " gate1    = %d %d \n", stored.gate1, fresh.gate1);
  std::fprintf(e, " gate2    = %d %d \n", stored.gate2, fresh.gate2);
  std::fprintf(e, " line_fr  = %lf %lf \n", stored.line_fr, fresh.line_fr);
  std::fprintf(e, " XSCALE0_1= %f %f \n", stored.XSCALE0_1, fresh.XSCALE0_1);
  std::fprintf(e, " XSCALE0_2= %f %f \n", stored.XSCALE0_2, fresh.XSCALE0_2);
  std::fprintf(e, " HBL      = %f %f \n", stored.HBL, fresh.HBL);
  std::fprintf(e, " HBR      = %f %f \n", stored.HBR, fresh.HBR);
  std::fprintf(e, " HFR      = %f %f \n", stored.HFR, fresh.HFR);
  std::fputs("\n\n neg. time jump ?!?!?! \n", e);
  std::fputs("please rename or delete current set of data files", e);
}

bool same_record(const main_rec& a, const main_rec& b) {
  u8 ea[main_rec_fmt::size], eb[main_rec_fmt::size];
  encode_main_rec(a, ea);
  encode_main_rec(b, eb);
  return std::memcmp(ea, eb, sizeof ea) == 0;
}

void link_at_tail(const main_rec& r, f64 line) {
  std::unique_ptr<hd_node> node(new (std::nothrow) hd_node);
  if (!node) {
    err_printf(" malloc failed in main_tim\n");
    quit(exit_status::failure);
  }
  node->rec = r;
  node->line = line;
  node->index = hdr.tail ? static_cast<s16>(hdr.tail->index + 1) : 0;
  node->prev = hdr.tail;
  if (hdr.tail)
    hdr.tail->next = node.get();
  else
    hdr.head = node.get();
  hdr.tail = node.get();
  hdr.nodes.push_back(std::move(node));
}

// Appends the record to .hd (after the stored headers) and .hyd (after the last record).
void append_record(const main_rec& r) {
  u8 bytes[main_rec_fmt::size];
  encode_main_rec(r, bytes);
  if (std::FILE* hd = wr.hd_fp) {
    if (platform::seek64(hd, 0, SEEK_END) != 0) report_errno(" main_hr02 ");
    if (std::fwrite(bytes, sizeof bytes, 1, hd) != 1) report_errno(" main_hr03 ");
    if (std::fflush(hd) != 0) report_errno(" main_hr04 ");
  }
  if (std::FILE* hyd = wr.pix_fp) {
    const s64 at = platform::tell64(hyd);
    if (at < 0) report_errno(" main_hr31 ");
    if (platform::seek64(hyd, 0, SEEK_END) != 0) report_errno(" main_hr05 ");
    if (std::fwrite(bytes, sizeof bytes, 1, hyd) != 1) report_errno(" main_hr06 ");
    if (std::fflush(hyd) != 0) report_errno(" main_hr07 ");
    const s64 end = platform::tell64(hyd);
    if (end < 0)
      report_errno(" main_hr32 ");
    else
      wr.pix_end = static_cast<u32>(end);
    if (at >= 0 && platform::seek64(hyd, at, SEEK_SET) != 0) report_errno(" main_hr33 ");
  }
  // The .hyd file now ends with this header: .hd says so at once, so that a run stopped
  // before the next flush still chains the next record back to it.
  if (std::FILE* hd = wr.hd_fp) {
    u8 len[2];
    put_s16(len, main_rec_fmt::size);
    if (platform::seek64(hd, hd_fmt::oldlen, SEEK_SET) != 0 || std::fwrite(len, sizeof len, 1, hd) != 1 ||
        std::fflush(hd) != 0)
      report_errno(" main_hr08 ");
    if (platform::seek64(hd, 0, SEEK_END) != 0) report_errno(" main_hr02 ");
  }
}

}  // namespace

main_rec make_main_rec(const hd_par& h, s16 len_prev, const std::string& pix_nam) {
  main_rec r;
  r.len_prev = len_prev;
  const std::string name = base_name(pix_nam);
  std::memcpy(r.file_name, name.data(), std::min<std::size_t>(name.size(), file_name_len - 1));
  r.main_time = h.valid_since;
  r.line_fr = h.line_fr;
  r.HBL = h.HBL;
  r.HBR = h.HBR;
  r.HFR = h.HFR;
  r.gate1 = h.gate1;
  r.gate2 = h.gate2;
  r.hd_word18 = h.hd_word18;
  r.XSCALE0_1 = h.XSCALE0_1;
  r.XSCALE0_2 = h.XSCALE0_2;
  r.L0_1 = h.L0_1;
  r.L0_2 = h.L0_2;
  r.hd_word4 = h.hd_word4;
  // A percentage of two header words; a zero denominator gives 0.
  if (h.ratio_den != 0)
    r.ratio = static_cast<s16>(static_cast<u16>(trunc_s32(100.0 * h.ratio_num / h.ratio_den)));
  return r;
}

void main_tim() {
  const main_rec& r = hdr.cur;
  const f64 x = line_of(r);
  hd_node* n = hdr.head;
  while (n && n->line < x) n = n->next;
  if (!n) {
    link_at_tail(r, x);
    return;
  }
  if (same_record(n->rec, r)) return;
  report_time_jump(n->rec, r);
  quit(exit_status::failure);
}

void main_hr(raw_cursor& body) {
  hprintf("main_hr: \n");
  u8 bytes[hd_par_fmt::size];
  if (raw_read(body, bytes, sizeof bytes) != raw_read_result::ok) {
    // A body shorter than a header holds no header: nothing of it is used.
    report_errno(" main_hr01 ");
    return;
  }
  const hd_par h = decode_hd_par(bytes);
  hdr.line_fr = h.line_fr;
  for (int i = 0; i < hdr.maincnt; ++i) {
    hprintf("i=%d maint=%ld loc_hd_par.valid_since=%ld \n", i, hdr.maint[i], h.valid_since);
    if (hdr.maint[i] == h.valid_since) {
      hprintf("identical found \n");
      return;
    }
  }
  if (hdr.maincnt >= max_headers) {
    std::fputs(" more than 100 mainheaders ! \n", stdout);
    err_printf(" more than 100 mainheaders ! \n");
    quit(exit_status::failure);
  }
  hdr.maint[hdr.maincnt++] = h.valid_since;
  hdr.cur = make_main_rec(h, wr.oldlen, wr.pix_nam);
  hprintf("now writing oldlen=%d main_time=%lu \n", wr.oldlen, hdr.cur.main_time);
  main_tim();
  append_record(hdr.cur);
  wr.oldlen = static_cast<s16>(main_rec_fmt::size);
  wr.wr_force = 1;
}

}  // namespace dropix
