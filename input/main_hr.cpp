#include "input/main_hr.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/numeric.h"
#include "platform/files.h"

namespace dropix {

namespace {

constexpr u32 seconds_per_day = 86400;

// The line count, counted from midnight at the header's own line frequency, from which the
// header holds.
f64 line_of(const main_rec& r) { return static_cast<f64>(r.main_time % seconds_per_day) * r.line_fr; }

void report_time_jump(const main_rec& stored, const main_rec& fresh, diagnostics& d) {
  err_printf(d, " indic    = %d %d \n", stored.indic, fresh.indic);
  err_printf(d, " len_prev = %d %d \n", stored.len_prev, fresh.len_prev);
  err_printf(d, " L0_1     = %f %f \n", stored.L0_1, fresh.L0_1);
  err_printf(d, " L0_2     = %f %f \n", stored.L0_2, fresh.L0_2);
  err_printf(d, " main_time= %ld %ld \n", static_cast<long>(stored.main_time),
               static_cast<long>(fresh.main_time));
  err_printf(d, " gate1    = %d %d \n", stored.gate1, fresh.gate1);
  err_printf(d, " gate2    = %d %d \n", stored.gate2, fresh.gate2);
  err_printf(d, " line_fr  = %lf %lf \n", stored.line_fr, fresh.line_fr);
  err_printf(d, " XSCALE0_1= %f %f \n", stored.XSCALE0_1, fresh.XSCALE0_1);
  err_printf(d, " XSCALE0_2= %f %f \n", stored.XSCALE0_2, fresh.XSCALE0_2);
  err_printf(d, " HBL      = %f %f \n", stored.HBL, fresh.HBL);
  err_printf(d, " HBR      = %f %f \n", stored.HBR, fresh.HBR);
  err_printf(d, " HFR      = %f %f \n", stored.HFR, fresh.HFR);
  err_printf(d, "\n\n neg. time jump ?!?!?! \n");
}

bool same_record(const main_rec& a, const main_rec& b) {
  u8 ea[main_rec_fmt::size], eb[main_rec_fmt::size];
  encode_main_rec(a, ea);
  encode_main_rec(b, eb);
  return std::memcmp(ea, eb, sizeof ea) == 0;
}

template <class F>
bool bit_differs(F a, F b) {
  return std::memcmp(&a, &b, sizeof a) != 0;
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

void main_tim(header_list& list, const main_rec& r, diagnostics& d) {
  const f64 x = line_of(r);
  hd_node* n = list.head;
  while (n && n->line < x) n = n->next;
  if (!n) {
    // Lines of headers of other line frequencies are not comparable: a header valid from an
    // earlier second than the newest one is time running backwards all the same.
    if (list.tail && r.main_time < list.tail->rec.main_time) {
      report_time_jump(list.tail->rec, r, d);
      fail(d, "please rename or delete current set of data files");
    }
    list.append(r, x);
    return;
  }
  if (same_record(n->rec, r)) return;
  report_time_jump(n->rec, r, d);
  fail(d, "please rename or delete current set of data files");
}

std::optional<main_rec> main_hr(header_state& hdr, raw_cursor& body, s64 at, s16 oldlen, const std::string& pix_nam,
                                diagnostics& d) {
  hprintf(d, "main_hr: \n");
  u8 bytes[hd_par_fmt::size];
  if (raw_read(body, bytes, sizeof bytes) != raw_read_result::ok) {
    // A body shorter than a header holds no header: nothing of it is used.
    report_errno(d, " main_hr01 ");
    return std::nullopt;
  }
  const hd_par h = decode_hd_par(bytes);
  if (!usable_line_fr(h.line_fr)) {
    // No time can be counted with it: the header is not taken.
    err_printf(d, "main header at offset %lld has the line frequency %g: ignored\n", static_cast<long long>(at),
               h.line_fr);
    return std::nullopt;
  }
  for (int i = 0; i < hdr.maincnt; ++i) {
    hprintf(d, "i=%d maint=%ld loc_hd_par.valid_since=%ld \n", i, hdr.maint[i], h.valid_since);
    if (hdr.maint[i] == h.valid_since) {
      // A header is known by its valid_since: a repetition changes nothing, so that reading
      // the same blocks again (both readers, a resumed run) always leaves the same state.
      hprintf(d, "identical found \n");
      for (const hd_node* n = hdr.list.head; n; n = n->next) {
        const main_rec& known = n->rec;
        if (known.main_time == h.valid_since && (bit_differs(known.line_fr, h.line_fr) || known.gate1 != h.gate1 ||
                                                 bit_differs(known.HBL, h.HBL) || bit_differs(known.HBR, h.HBR) ||
                                                 bit_differs(known.HFR, h.HFR) || bit_differs(known.XSCALE0_1, h.XSCALE0_1) ||
                                                 bit_differs(known.XSCALE0_2, h.XSCALE0_2) || bit_differs(known.L0_1, h.L0_1) ||
                                                 bit_differs(known.L0_2, h.L0_2)))
          err_printf(d, "main header at offset %lld repeats valid_since %lu with other parameters: ignored\n",
                     static_cast<long long>(at), static_cast<unsigned long>(h.valid_since));
      }
      return std::nullopt;
    }
  }
  hdr.line_fr = h.line_fr;
  if (hdr.maincnt >= max_headers) {
    if (d.out) d.out->write(" more than 100 mainheaders ! \n");
    fail(d, " more than 100 mainheaders ! \n");
  }
  hdr.maint[hdr.maincnt++] = h.valid_since;
  const main_rec rec = make_main_rec(h, oldlen, pix_nam);
  hprintf(d, "now writing oldlen=%d main_time=%lu \n", oldlen, rec.main_time);
  main_tim(hdr.list, rec, d);
  return rec;
}

}  // namespace dropix
