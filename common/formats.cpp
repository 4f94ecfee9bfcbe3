#include "common/formats.h"

#include <vector>

namespace dropix {

bool write_u32s(std::FILE* fp, const u32* v, std::size_t n) {
  std::vector<u8> bytes(4 * n);
  for (std::size_t i = 0; i < n; ++i) put_u32(bytes.data() + 4 * i, v[i]);
  return std::fwrite(bytes.data(), 1, bytes.size(), fp) == bytes.size();
}

hd_par decode_hd_par(const u8* p) {
  namespace f = hd_par_fmt;
  hd_par h;
  h.hd_word0 = get_s16(p + f::hd_word0);
  h.hd_word2 = get_s16(p + f::hd_word2);
  h.hd_word4 = get_s16(p + f::hd_word4);
  h.line_fr = get_f64(p + f::line_fr);
  h.gate1 = get_s16(p + f::gate1);
  h.gate2 = get_s16(p + f::gate2);
  h.hd_word18 = get_s16(p + f::hd_word18);
  h.HBL = get_f32(p + f::HBL);
  h.HBR = get_f32(p + f::HBR);
  h.HFR = get_f32(p + f::HFR);
  h.XSCALE0_1 = get_f32(p + f::XSCALE0_1);
  h.XSCALE0_2 = get_f32(p + f::XSCALE0_2);
  h.L0_1 = get_f32(p + f::L0_1);
  h.L0_2 = get_f32(p + f::L0_2);
  h.ratio_den = get_s16(p + f::ratio_den);
  h.ratio_num = get_s16(p + f::ratio_num);
  h.valid_since = get_u32(p + f::valid_since);
  return h;
}

void encode_hd_par(const hd_par& h, u8* p) {
  namespace f = hd_par_fmt;
  put_s16(p + f::hd_word0, h.hd_word0);
  put_s16(p + f::hd_word2, h.hd_word2);
  put_s16(p + f::hd_word4, h.hd_word4);
  put_f64(p + f::line_fr, h.line_fr);
  put_s16(p + f::gate1, h.gate1);
  put_s16(p + f::gate2, h.gate2);
  put_s16(p + f::hd_word18, h.hd_word18);
  put_f32(p + f::HBL, h.HBL);
  put_f32(p + f::HBR, h.HBR);
  put_f32(p + f::HFR, h.HFR);
  put_f32(p + f::XSCALE0_1, h.XSCALE0_1);
  put_f32(p + f::XSCALE0_2, h.XSCALE0_2);
  put_f32(p + f::L0_1, h.L0_1);
  put_f32(p + f::L0_2, h.L0_2);
  put_s16(p + f::ratio_den, h.ratio_den);
  put_s16(p + f::ratio_num, h.ratio_num);
  put_u32(p + f::valid_since, h.valid_since);
}

main_rec decode_main_rec(const u8* p) {
  namespace f = main_rec_fmt;
  main_rec r;
  r.indic = get_s16(p + f::indic);
  r.len_prev = get_s16(p + f::len_prev);
  std::memcpy(r.file_name, p + f::file_name, file_name_len);
  r.main_time = get_u32(p + f::main_time);
  r.line_fr = get_f64(p + f::line_fr);
  r.HBL = get_f32(p + f::HBL);
  r.HBR = get_f32(p + f::HBR);
  r.HFR = get_f32(p + f::HFR);
  r.gate1 = get_s16(p + f::gate1);
  r.gate2 = get_s16(p + f::gate2);
  r.hd_word18 = get_s16(p + f::hd_word18);
  r.XSCALE0_1 = get_f32(p + f::XSCALE0_1);
  r.XSCALE0_2 = get_f32(p + f::XSCALE0_2);
  r.L0_1 = get_f32(p + f::L0_1);
  r.L0_2 = get_f32(p + f::L0_2);
  r.hd_word4 = get_s16(p + f::hd_word4);
  r.rec_mark = get_u16(p + f::rec_mark);
  r.fixed_2 = get_s16(p + f::fixed_2);
  r.fixed_0 = get_s16(p + f::fixed_0);
  r.ratio = get_s16(p + f::ratio);
  return r;
}

void encode_main_rec(const main_rec& r, u8* p) {
  namespace f = main_rec_fmt;
  put_s16(p + f::indic, r.indic);
  put_s16(p + f::len_prev, r.len_prev);
  std::memcpy(p + f::file_name, r.file_name, file_name_len);
  put_u32(p + f::main_time, r.main_time);
  put_f64(p + f::line_fr, r.line_fr);
  put_f32(p + f::HBL, r.HBL);
  put_f32(p + f::HBR, r.HBR);
  put_f32(p + f::HFR, r.HFR);
  put_s16(p + f::gate1, r.gate1);
  put_s16(p + f::gate2, r.gate2);
  put_s16(p + f::hd_word18, r.hd_word18);
  put_f32(p + f::XSCALE0_1, r.XSCALE0_1);
  put_f32(p + f::XSCALE0_2, r.XSCALE0_2);
  put_f32(p + f::L0_1, r.L0_1);
  put_f32(p + f::L0_2, r.L0_2);
  put_s16(p + f::hd_word4, r.hd_word4);
  put_u16(p + f::rec_mark, r.rec_mark);
  put_s16(p + f::fixed_2, r.fixed_2);
  put_s16(p + f::fixed_0, r.fixed_0);
  put_s16(p + f::ratio, r.ratio);
}

drop_head decode_drop_head(const u8* p) {
  namespace f = drop_fmt;
  drop_head h;
  h.len_bits = get_u16(p + f::len_bits);
  h.len_prev = get_s16(p + f::len_prev);
  h.y_first = get_f64(p + f::y_first);
  h.diam_100 = get_s16(p + f::diam_100);
  h.lines_a = get_s16(p + f::lines_a);
  h.lines_diff = get_s16(p + f::lines_diff);
  h.diff_lins = get_s16(p + f::diff_lins);
  h.pix_min_a = get_s16(p + f::pix_min_a);
  h.pix_min_b = get_s16(p + f::pix_min_b);
  h.yscale_10k = get_s16(p + f::yscale_10k);
  h.xscale_a_10k = get_s16(p + f::xscale_a_10k);
  h.xscale_b_10k = get_s16(p + f::xscale_b_10k);
  return h;
}

void encode_drop_head(const drop_head& h, u8* p) {
  namespace f = drop_fmt;
  put_u16(p + f::len_bits, h.len_bits);
  put_s16(p + f::len_prev, h.len_prev);
  put_f64(p + f::y_first, h.y_first);
  put_s16(p + f::diam_100, h.diam_100);
  put_s16(p + f::lines_a, h.lines_a);
  put_s16(p + f::lines_diff, h.lines_diff);
  put_s16(p + f::diff_lins, h.diff_lins);
  put_s16(p + f::pix_min_a, h.pix_min_a);
  put_s16(p + f::pix_min_b, h.pix_min_b);
  put_s16(p + f::yscale_10k, h.yscale_10k);
  put_s16(p + f::xscale_a_10k, h.xscale_a_10k);
  put_s16(p + f::xscale_b_10k, h.xscale_b_10k);
}

}  // namespace dropix
