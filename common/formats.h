// File formats of DROPIX: every record that touches a file, with its byte offsets.
//
// All files are little-endian and packed. Records are read and written only through the
// get_* / put_* helpers below, never by copying a host struct, so the host's padding and
// byte order play no part.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace dropix {

using s16 = std::int16_t;
using u16 = std::uint16_t;
using s32 = std::int32_t;
using u32 = std::uint32_t;
using s64 = std::int64_t;
using u64 = std::uint64_t;
using u8 = std::uint8_t;
using f32 = float;
using f64 = double;
static_assert(sizeof(f32) == 4 && sizeof(f64) == 8, "IEEE-754 single and double are required");

// ---- little-endian access -------------------------------------------------------------

inline u16 get_u16(const u8* p) { return static_cast<u16>(p[0] | (p[1] << 8)); }
inline s16 get_s16(const u8* p) { return static_cast<s16>(get_u16(p)); }
inline u32 get_u32(const u8* p) {
  return static_cast<u32>(p[0]) | (static_cast<u32>(p[1]) << 8) | (static_cast<u32>(p[2]) << 16) |
         (static_cast<u32>(p[3]) << 24);
}
inline u64 get_u64(const u8* p) { return get_u32(p) | (static_cast<u64>(get_u32(p + 4)) << 32); }
inline f32 get_f32(const u8* p) { return std::bit_cast<f32>(get_u32(p)); }
inline f64 get_f64(const u8* p) { return std::bit_cast<f64>(get_u64(p)); }

inline void put_u16(u8* p, u16 v) {
  p[0] = static_cast<u8>(v);
  p[1] = static_cast<u8>(v >> 8);
}
inline void put_s16(u8* p, s16 v) { put_u16(p, static_cast<u16>(v)); }
inline void put_u32(u8* p, u32 v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<u8>(v >> (8 * i));
}
inline void put_u64(u8* p, u64 v) {
  put_u32(p, static_cast<u32>(v));
  put_u32(p + 4, static_cast<u32>(v >> 32));
}
inline void put_f32(u8* p, f32 v) { put_u32(p, std::bit_cast<u32>(v)); }
inline void put_f64(u8* p, f64 v) { put_u64(p, std::bit_cast<u64>(v)); }

// Tables of 32-bit values (the per-minute tables of .hd and .abh).
inline void get_u32s(const u8* p, u32* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = get_u32(p + 4 * i);
}
// Writes n values at the stream's position; true when all were written.
bool write_u32s(std::FILE* fp, const u32* v, std::size_t n);

// ---- raw file: block framing -----------------------------------------------------------
// A raw file is a plain sequence of blocks: s16 type, s16 body length, body. The next block
// starts 4 + length bytes after this one; readers navigate by that arithmetic alone.
namespace block_fmt {
constexpr std::size_t ident = 0;   // s16 A_B_ident
constexpr std::size_t cmpr_n = 2;  // s16 body length in bytes
constexpr std::size_t size = 4;    // the body follows the framing
}  // namespace block_fmt

constexpr s16 ident_camera_a = 1;
constexpr s16 ident_camera_b = 2;
constexpr s16 ident_main_header = 3;

// ---- raw file: main header block body (hd_par) ------------------------------------------
struct hd_par {
  s16 hd_word0 = 0;   // not used by the program
  s16 hd_word2 = 0;   // not used by the program
  s16 hd_word4 = 0;   // carried into the record
  f64 line_fr = 0;    // scan lines per second
  s16 gate1 = 0;      // centre pixel of both cameras' scan lines
  s16 gate2 = 0;      // carried into the record
  s16 hd_word18 = 0;  // carried into the record
  f32 HBL = 0, HBR = 0, HFR = 0;  // plane distance at back-left, back-right, front-right (mm)
  f32 XSCALE0_1 = 0, XSCALE0_2 = 0;  // nominal mm per pixel of camera A / B at the centre
  f32 L0_1 = 0, L0_2 = 0;            // camera A / B distance to the centre of the area (mm)
  s16 ratio_den = 0, ratio_num = 0;
  u32 valid_since = 0;  // seconds since 1970 (UTC) from which the header holds
};

namespace hd_par_fmt {
constexpr std::size_t hd_word0 = 0, hd_word2 = 2, hd_word4 = 4, line_fr = 6, gate1 = 14, gate2 = 16,
                      hd_word18 = 18, HBL = 20, HBR = 24, HFR = 28, XSCALE0_1 = 32, XSCALE0_2 = 36,
                      L0_1 = 40, L0_2 = 44, ratio_den = 48, ratio_num = 50, valid_since = 52;
constexpr std::size_t size = 56;
static_assert(valid_since + 4 == size);
}  // namespace hd_par_fmt

hd_par decode_hd_par(const u8* p);
void encode_hd_par(const hd_par& h, u8* p);

// ---- main header record (.hyd and .hd) ---------------------------------------------------
constexpr s16 main_rec_indic = -74;
constexpr u16 main_rec_mark = 0xE4A7;
constexpr std::size_t file_name_len = 14;

struct main_rec {
  s16 indic = main_rec_indic;  // marks a main header record in the .hyd stream
  s16 len_prev = 0;            // length of the .hyd record before this one
  char file_name[file_name_len] = {};  // .hyd name and extension, NUL-terminated, zero-filled
  u32 main_time = 0;           // valid_since of the header
  f64 line_fr = 0;
  f32 HBL = 0, HBR = 0, HFR = 0;
  s16 gate1 = 0, gate2 = 0, hd_word18 = 0;
  f32 XSCALE0_1 = 0, XSCALE0_2 = 0, L0_1 = 0, L0_2 = 0;
  s16 hd_word4 = 0;
  u16 rec_mark = main_rec_mark;
  s16 fixed_2 = 2;
  s16 fixed_0 = 0;
  s16 ratio = 0;  // 100 * ratio_num / ratio_den, truncated; 0 when ratio_den is 0
};

namespace main_rec_fmt {
constexpr std::size_t indic = 0, len_prev = 2, file_name = 4, main_time = 18, line_fr = 22, HBL = 30,
                      HBR = 34, HFR = 38, gate1 = 42, gate2 = 44, hd_word18 = 46, XSCALE0_1 = 48,
                      XSCALE0_2 = 52, L0_1 = 56, L0_2 = 60, hd_word4 = 64, rec_mark = 66,
                      fixed_2 = 68, fixed_0 = 70, ratio = 72;
constexpr std::size_t size = 74;
static_assert(ratio + 2 == size);
static_assert(file_name + file_name_len == main_time);
}  // namespace main_rec_fmt

main_rec decode_main_rec(const u8* p);
void encode_main_rec(const main_rec& r, u8* p);

// ---- drop record (.hyd) ------------------------------------------------------------------
// A 30-byte head followed by the bit-packed silhouettes in 16-bit words.
struct drop_head {
  u16 len_bits = 0;  // bits per packed value * 2048 + record length in bytes
  s16 len_prev = 0;  // length of the record before this one
  f64 y_first = 0;   // line count of camera A's first line, bit for bit
  s16 diam_100 = 0;  // equivalent diameter in hundredths of a millimetre
  s16 lines_a = 0;
  s16 lines_diff = 0;  // camera B lines minus camera A lines
  s16 diff_lins = 0;   // first-line delay plus last-line delay, B minus A
  s16 pix_min_a = 0, pix_min_b = 0;
  s16 yscale_10k = 0;  // fall per scan line, 1e-4 mm
  s16 xscale_a_10k = 0, xscale_b_10k = 0;  // horizontal scales, 1e-4 mm per pixel
};

namespace drop_fmt {
constexpr std::size_t len_bits = 0, len_prev = 2, y_first = 4, diam_100 = 12, lines_a = 14,
                      lines_diff = 16, diff_lins = 18, pix_min_a = 20, pix_min_b = 22,
                      yscale_10k = 24, xscale_a_10k = 26, xscale_b_10k = 28;
constexpr std::size_t head_size = 30;
static_assert(xscale_b_10k + 2 == head_size);
constexpr u32 max_len = 2047;  // the length fills the low 11 bits of len_bits
inline u32 length_of(u16 word) { return word & 0x7FFu; }
inline u32 bits_of(u16 word) { return word >> 11; }
}  // namespace drop_fmt

drop_head decode_drop_head(const u8* p);
void encode_drop_head(const drop_head& h, u8* p);

// ---- per-minute tables -------------------------------------------------------------------
constexpr int minutes_per_day_table = 1442;  // minutes 0..1439 and two spare entries
constexpr u32 pos_unset = 0xFFFFFFFFu;       // pos_pix entry without a drop record

// .hd file: minute index, oldlen, then one main_rec per header written.
namespace hd_fmt {
constexpr std::size_t pos_pix = 0;
constexpr std::size_t oldlen = pos_pix + 4 * minutes_per_day_table;
constexpr std::size_t headers = oldlen + 2;
constexpr std::size_t head_size = headers;
static_assert(oldlen == 5768 && head_size == 5770);
}  // namespace hd_fmt

// .abh file: both cameras' per-minute raw positions and the line up to which drops are written.
namespace abh_fmt {
constexpr std::size_t posa_bf = 0;
constexpr std::size_t posb_bf = posa_bf + 4 * minutes_per_day_table;
constexpr std::size_t lastpix_y = posb_bf + 4 * minutes_per_day_table;
constexpr std::size_t zero_word = lastpix_y + 4;
constexpr std::size_t created_size = zero_word;  // a file no data flush has rewritten yet
constexpr std::size_t size = zero_word + 4;
static_assert(posb_bf == 5768 && lastpix_y == 11536 && size == 11544);
}  // namespace abh_fmt

}  // namespace dropix
