#include "tests/support/hydread.h"

namespace dropix::hydkit {

std::vector<u32> unpack_values(const u8* words, std::size_t n_words, u32 bits, std::size_t count) {
  std::vector<u32> out;
  out.reserve(count);
  const std::size_t total_bits = 16 * n_words;
  for (std::size_t i = 0; i < count && (i + 1) * bits <= total_bits; ++i) {
    u32 v = 0;
    for (u32 j = 0; j < bits; ++j) {
      const std::size_t bit = i * bits + j;
      const u16 w = get_u16(words + 2 * (bit / 16));
      v |= static_cast<u32>((w >> (bit % 16)) & 1u) << j;
    }
    out.push_back(v);
  }
  return out;
}

std::vector<hyd_record> read_hyd(const std::vector<u8>& bytes, std::string* error) {
  std::vector<hyd_record> out;
  std::size_t at = 0;
  auto fail = [&](const std::string& why) {
    if (error) *error = why + " at offset " + std::to_string(at);
    return out;
  };
  if (error) error->clear();
  while (at < bytes.size()) {
    if (bytes.size() - at < 2) return fail("cut short");
    hyd_record r;
    r.offset = static_cast<u32>(at);
    const s16 first = get_s16(bytes.data() + at);
    if (first == main_rec_indic) {
      if (bytes.size() - at < main_rec_fmt::size) return fail("header cut short");
      r.is_header = true;
      r.length = main_rec_fmt::size;
      r.header = decode_main_rec(bytes.data() + at);
    } else {
      r.length = drop_fmt::length_of(static_cast<u16>(first));
      r.bits = drop_fmt::bits_of(static_cast<u16>(first));
      if (first < 0 || r.length < drop_fmt::head_size) return fail("no record");
      if (bytes.size() - at < r.length) return fail("drop record cut short");
      r.drop = decode_drop_head(bytes.data() + at);
      const std::size_t na = static_cast<std::size_t>(r.drop.lines_a);
      const std::size_t nb = static_cast<std::size_t>(r.drop.lines_a + r.drop.lines_diff);
      const std::size_t n_words = (r.length - drop_fmt::head_size) / 2;
      const std::vector<u32> v =
          unpack_values(bytes.data() + at + drop_fmt::head_size, n_words, r.bits, 2 * na + 2 * nb);
      if (v.size() < 2 * na + 2 * nb) return fail("drop record too short for its silhouettes");
      for (std::size_t i = 0; i < na; ++i)
        r.a.push_back({static_cast<s16>(r.drop.pix_min_a + v[i]), static_cast<s16>(r.drop.pix_min_a + v[na + i])});
      for (std::size_t i = 0; i < nb; ++i)
        r.b.push_back({static_cast<s16>(r.drop.pix_min_b + v[2 * na + i]),
                       static_cast<s16>(r.drop.pix_min_b + v[2 * na + nb + i])});
    }
    at += r.length;
    out.push_back(std::move(r));
  }
  return out;
}

hd_file read_hd(const std::vector<u8>& bytes) {
  hd_file h;
  if (bytes.size() < hd_fmt::head_size) return h;
  for (int k = 0; k < minutes_per_day_table; ++k) h.pos_pix.push_back(get_u32(bytes.data() + hd_fmt::pos_pix + 4 * k));
  h.oldlen = get_s16(bytes.data() + hd_fmt::oldlen);
  std::size_t at = hd_fmt::headers;
  for (; bytes.size() - at >= main_rec_fmt::size; at += main_rec_fmt::size)
    h.headers.push_back(decode_main_rec(bytes.data() + at));
  h.trailing = bytes.size() - at;
  return h;
}

abh_file read_abh(const std::vector<u8>& bytes) {
  abh_file a;
  a.size = bytes.size();
  if (bytes.size() < abh_fmt::created_size) return a;
  for (int k = 0; k < minutes_per_day_table; ++k) {
    a.posa_bf.push_back(get_u32(bytes.data() + abh_fmt::posa_bf + 4 * k));
    a.posb_bf.push_back(get_u32(bytes.data() + abh_fmt::posb_bf + 4 * k));
  }
  a.lastpix_y = get_u32(bytes.data() + abh_fmt::lastpix_y);
  return a;
}

}  // namespace dropix::hydkit
