#include "reader/hyd_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace dropix::reader {

namespace {

// A drop record packs at most MAXLIN pieces per camera, with 1 to 10 bits per value.
constexpr int max_lines = 600;
constexpr u32 max_bits = 10;

// Value i of a packed stream: bits [i*b, (i+1)*b) of the bytes read least significant bit
// first (the same as 16-bit little-endian words read that way). The caller has checked that
// the bits lie within the n bytes.
inline u32 value_at(const u8* p, std::size_t n, std::size_t i, u32 b) {
  const std::size_t bit = i * b;
  const std::size_t byte = bit / 8;
  u32 w = 0;
  for (std::size_t k = 0; k < 3 && byte + k < n; ++k) w |= static_cast<u32>(p[byte + k]) << (8 * k);
  return (w >> (bit % 8)) & ((1u << b) - 1u);
}

}  // namespace

std::vector<u32> unpack_values(const u8* words, std::size_t n_words, u32 bits, std::size_t count) {
  std::vector<u32> out;
  if (bits == 0 || bits > 16) return out;
  const std::size_t total_bits = 16 * n_words;
  out.reserve(count);
  for (std::size_t i = 0; i < count && (i + 1) * bits <= total_bits; ++i) {
    const std::size_t bit = i * bits;
    u32 w = 0;
    for (std::size_t k = 0; k < 4 && bit / 8 + k < 2 * n_words; ++k)
      w |= static_cast<u32>(words[bit / 8 + k]) << (8 * k);
    out.push_back((w >> (bit % 8)) & ((1u << bits) - 1u));
  }
  return out;
}

bool hyd_cursor::fail(const char* why) {
  error_ = std::string(why) + " at offset " + std::to_string(at_);
  return false;
}

bool hyd_cursor::next(hyd_record& r, bool silhouettes) {
  if (!error_.empty() || at_ >= bytes_.size()) return false;
  const u64 left = bytes_.size() - at_;
  const u8* p = bytes_.data() + at_;
  if (left < 2) return fail("record cut short");
  r.offset = at_;
  r.a.clear();
  r.b.clear();
  const s16 first = get_s16(p);
  if (first == main_rec_indic) {
    if (left < main_rec_fmt::size) return fail("main header record cut short");
    r.is_header = true;
    r.length = main_rec_fmt::size;
    r.bits = 0;
    r.header = decode_main_rec(p);
    if (r.header.rec_mark != main_rec_mark) return fail("main header record without its mark");
    at_ += r.length;
    return true;
  }
  r.is_header = false;
  r.length = drop_fmt::length_of(static_cast<u16>(first));
  r.bits = drop_fmt::bits_of(static_cast<u16>(first));
  if (first < 0 || r.length < drop_fmt::head_size || r.length % 2 != 0) return fail("no record");
  if (r.bits == 0 || r.bits > max_bits) return fail("drop record with an impossible bit count");
  if (left < r.length) return fail("drop record cut short");
  r.drop = decode_drop_head(p);
  const int na = r.drop.lines_a;
  const int nb = r.drop.lines_a + r.drop.lines_diff;
  if (na < 1 || nb < 1 || na > max_lines || nb > max_lines) return fail("drop record with impossible line counts");
  const std::size_t n_values = 2 * static_cast<std::size_t>(na) + 2 * static_cast<std::size_t>(nb);
  const std::size_t data_bytes = r.length - drop_fmt::head_size;
  if (n_values * r.bits > 8 * data_bytes) return fail("drop record too short for its silhouettes");
  if (silhouettes) {
    const u8* d = p + drop_fmt::head_size;
    const u32 b = r.bits;
    r.a.resize(static_cast<std::size_t>(na));
    r.b.resize(static_cast<std::size_t>(nb));
    const auto ua = static_cast<std::size_t>(na), ub = static_cast<std::size_t>(nb);
    for (std::size_t i = 0; i < ua; ++i) {
      r.a[i].first = static_cast<s16>(r.drop.pix_min_a + value_at(d, data_bytes, i, b));
      r.a[i].last = static_cast<s16>(r.drop.pix_min_a + value_at(d, data_bytes, ua + i, b));
    }
    for (std::size_t i = 0; i < ub; ++i) {
      r.b[i].first = static_cast<s16>(r.drop.pix_min_b + value_at(d, data_bytes, 2 * ua + i, b));
      r.b[i].last = static_cast<s16>(r.drop.pix_min_b + value_at(d, data_bytes, 2 * ua + ub + i, b));
    }
  }
  at_ += r.length;
  return true;
}

std::vector<hyd_record> read_hyd(std::span<const u8> bytes, std::string* error) {
  std::vector<hyd_record> out;
  hyd_cursor cur(bytes);
  for (hyd_record r; cur.next(r);) out.push_back(r);
  if (error) *error = cur.error();
  return out;
}

std::optional<std::vector<u8>> load_file(const std::string& path, std::string* error) {
  std::FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp) {
    if (error) *error = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::vector<u8> out;
  u8 buf[1 << 16];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0) out.insert(out.end(), buf, buf + n);
  const bool bad = std::ferror(fp) != 0;
  const int e = errno;
  std::fclose(fp);
  if (bad) {
    if (error) *error = path + ": " + std::strerror(e);
    return std::nullopt;
  }
  return out;
}

hd_file read_hd(std::span<const u8> bytes) {
  hd_file h;
  if (bytes.size() < hd_fmt::head_size) return h;
  h.pos_pix.resize(minutes_per_day_table);
  get_u32s(bytes.data() + hd_fmt::pos_pix, h.pos_pix.data(), minutes_per_day_table);
  h.oldlen = get_s16(bytes.data() + hd_fmt::oldlen);
  std::size_t at = hd_fmt::headers;
  for (; bytes.size() - at >= main_rec_fmt::size; at += main_rec_fmt::size)
    h.headers.push_back(decode_main_rec(bytes.data() + at));
  h.trailing = bytes.size() - at;
  return h;
}

abh_file read_abh(std::span<const u8> bytes) {
  abh_file a;
  a.size = bytes.size();
  if (bytes.size() < abh_fmt::created_size) return a;
  a.posa_bf.resize(minutes_per_day_table);
  a.posb_bf.resize(minutes_per_day_table);
  get_u32s(bytes.data() + abh_fmt::posa_bf, a.posa_bf.data(), minutes_per_day_table);
  get_u32s(bytes.data() + abh_fmt::posb_bf, a.posb_bf.data(), minutes_per_day_table);
  a.lastpix_y = get_u32(bytes.data() + abh_fmt::lastpix_y);
  return a;
}

}  // namespace dropix::reader
