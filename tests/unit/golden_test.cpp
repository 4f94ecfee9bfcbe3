// The file formats pinned byte for byte. Each expected record is written out here by hand,
// offset by offset, from the layouts in docs/formats.md, and compared with what the program
// writes or reads; none of it goes through the offsets of formats.h. A change of any byte of
// any record fails here.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "common/formats.h"
#include "input/main_hr.h"
#include "output/heads.h"
#include "tests/support/fixture.h"

namespace dropix {
namespace {

using bytes = std::vector<u8>;

// Little-endian values placed at an offset, as the layouts list them.
void at16(bytes& b, std::size_t off, u16 v) {
  b[off] = static_cast<u8>(v);
  b[off + 1] = static_cast<u8>(v >> 8);
}
void at32(bytes& b, std::size_t off, u32 v) {
  for (int i = 0; i < 4; ++i) b[off + static_cast<std::size_t>(i)] = static_cast<u8>(v >> (8 * i));
}

bytes file_bytes(std::FILE* fp) {
  std::fflush(fp);
  std::rewind(fp);
  bytes out;
  for (int c; (c = std::fgetc(fp)) != EOF;) out.push_back(static_cast<u8>(c));
  return out;
}

TEST(golden, main_header_body) {
  // 56 bytes; every field its own value.
  const bytes body = {
      0x01, 0x00,                                      //  0 unused
      0x02, 0x00,                                      //  2 unused
      0x04, 0x00,                                      //  4 hd_word4 = 4
      0x00, 0x00, 0x00, 0x00, 0x00, 0xDB, 0xEA, 0x40,  //  6 line_fr = 55000.0
      0x00, 0x01,                                      // 14 gate1 = 256
      0x2C, 0x01,                                      // 16 gate2 = 300
      0x12, 0x00,                                      // 18 hd_word18 = 18
      0x00, 0x00, 0xD0, 0x40,                          // 20 HBL = 6.5
      0x00, 0x00, 0xE0, 0x40,                          // 24 HBR = 7.0
      0x00, 0x00, 0xF0, 0x40,                          // 28 HFR = 7.5
      0x00, 0x00, 0x40, 0x3E,                          // 32 XSCALE0_1 = 0.1875
      0x00, 0x00, 0x80, 0x3E,                          // 36 XSCALE0_2 = 0.25
      0x00, 0x00, 0x7C, 0x43,                          // 40 L0_1 = 252.0
      0x00, 0x00, 0x78, 0x43,                          // 44 L0_2 = 248.0
      0x03, 0x00,                                      // 48 ratio_den = 3
      0x01, 0x00,                                      // 50 ratio_num = 1
      0x10, 0x0E, 0xE8, 0x6A,                          // 52 valid_since = 0x6AE80E10
  };
  ASSERT_EQ(body.size(), 56u);
  const hd_par h = decode_hd_par(body.data());
  EXPECT_EQ(h.hd_word4, 4);
  EXPECT_EQ(h.line_fr, 55000.0);
  EXPECT_EQ(h.gate1, 256);
  EXPECT_EQ(h.gate2, 300);
  EXPECT_EQ(h.hd_word18, 18);
  EXPECT_EQ(h.HBL, 6.5f);
  EXPECT_EQ(h.HBR, 7.0f);
  EXPECT_EQ(h.HFR, 7.5f);
  EXPECT_EQ(h.XSCALE0_1, 0.1875f);
  EXPECT_EQ(h.XSCALE0_2, 0.25f);
  EXPECT_EQ(h.L0_1, 252.0f);
  EXPECT_EQ(h.L0_2, 248.0f);
  EXPECT_EQ(h.ratio_den, 3);
  EXPECT_EQ(h.ratio_num, 1);
  EXPECT_EQ(h.valid_since, 0x6AE80E10u);

  // The record the program makes of it (74 bytes).
  const main_rec r = make_main_rec(h, 122, "out/V26342_1.hyd");
  bytes got(74);
  encode_main_rec(r, got.data());
  const bytes want = {
      0xB6, 0xFF,                                        //  0 indic = -74
      0x7A, 0x00,                                        //  2 len_prev = 122
      'V', '2', '6', '3', '4', '2', '_', '1', '.', 'h',  //  4 file name, 13 characters at most ...
      'y', 'd', 0x00, 0x00,                              //    ... then NUL and zeros (14 bytes)
      0x10, 0x0E, 0xE8, 0x6A,                            // 18 main_time
      0x00, 0x00, 0x00, 0x00, 0x00, 0xDB, 0xEA, 0x40,    // 22 line_fr
      0x00, 0x00, 0xD0, 0x40,                            // 30 HBL
      0x00, 0x00, 0xE0, 0x40,                            // 34 HBR
      0x00, 0x00, 0xF0, 0x40,                            // 38 HFR
      0x00, 0x01,                                        // 42 gate1
      0x2C, 0x01,                                        // 44 gate2
      0x12, 0x00,                                        // 46 hd_word18
      0x00, 0x00, 0x40, 0x3E,                            // 48 XSCALE0_1
      0x00, 0x00, 0x80, 0x3E,                            // 52 XSCALE0_2
      0x00, 0x00, 0x7C, 0x43,                            // 56 L0_1
      0x00, 0x00, 0x78, 0x43,                            // 60 L0_2
      0x04, 0x00,                                        // 64 hd_word4
      0xA7, 0xE4,                                        // 66 mark 0xE4A7
      0x02, 0x00,                                        // 68 2
      0x00, 0x00,                                        // 70 0
      0x21, 0x00,                                        // 72 ratio = 100 * 1 / 3 = 33
  };
  ASSERT_EQ(want.size(), 74u);
  EXPECT_EQ(got, want);
  EXPECT_EQ(decode_main_rec(want.data()).main_time, 0x6AE80E10u);
}

TEST(golden, drop_record_head) {
  drop_head h;
  h.len_bits = 3 * 2048 + 34;
  h.len_prev = 74;
  h.y_first = 1000.25;
  h.diam_100 = 118;
  h.lines_a = 2;
  h.lines_diff = -1;
  h.diff_lins = 161;
  h.pix_min_a = 9;
  h.pix_min_b = 19;
  h.yscale_10k = 815;
  h.xscale_a_10k = 1987;
  h.xscale_b_10k = 1676;
  bytes got(30);
  encode_drop_head(h, got.data());
  const bytes want = {
      0x22, 0x18,                                      //  0 len_bits = 3 * 2048 + 34
      0x4A, 0x00,                                      //  2 len_prev = 74
      0x00, 0x00, 0x00, 0x00, 0x00, 0x42, 0x8F, 0x40,  //  4 y_first = 1000.25
      0x76, 0x00,                                      // 12 diam_100 = 118
      0x02, 0x00,                                      // 14 lines_a = 2
      0xFF, 0xFF,                                      // 16 lines_diff = -1
      0xA1, 0x00,                                      // 18 diff_lins = 161
      0x09, 0x00,                                      // 20 pix_min_a = 9
      0x13, 0x00,                                      // 22 pix_min_b = 19
      0x2F, 0x03,                                      // 24 yscale_10k = 815
      0xC3, 0x07,                                      // 26 xscale_a_10k = 1987
      0x8C, 0x06,                                      // 28 xscale_b_10k = 1676
  };
  EXPECT_EQ(got, want);
  const drop_head back = decode_drop_head(want.data());
  EXPECT_EQ(back.pix_min_a, 9);
  EXPECT_EQ(back.pix_min_b, 19);
  EXPECT_EQ(back.xscale_a_10k, 1987);
  EXPECT_EQ(back.lines_diff, -1);
}

class golden_files : public testing::dropix_test {};

TEST_F(golden_files, hd_head) {
  std::FILE* fp = std::tmpfile();
  u32 pos_pix[1442];
  for (u32& e : pos_pix) e = 0xFFFFFFFFu;
  pos_pix[0] = 0;
  pos_pix[1] = 74;
  pos_pix[1441] = 0x01020304;
  ASSERT_EQ(write_hd_head(fp, pos_pix, 122, {"t", "t", "t", nullptr, "t"}, nullptr), nullptr);
  bytes want(5770, 0xFF);
  at32(want, 0, 0);                 // minute 0: 0
  at32(want, 4, 74);                // minute 1: 74
  at32(want, 4 * 1441, 0x01020304); // minute 1441
  at16(want, 5768, 122);            // oldlen
  EXPECT_EQ(file_bytes(fp), want);
  std::fclose(fp);
}

TEST_F(golden_files, abh_created_and_flushed) {
  raw_positions pos;
  pos.posa_bf[0] = 0x11;
  pos.posa_bf[1441] = 0x22334455;
  pos.posb_bf[7] = 0x66;
  for (bool zero_word : {false, true}) {
    std::FILE* fp = std::tmpfile();
    ASSERT_EQ(write_abh(fp, pos, 0x0A0B0C0D, zero_word, {"t", "t", "t", "t", "t"}, nullptr), nullptr);
    bytes want(zero_word ? 11544 : 11540, 0);
    at32(want, 0, 0x11);               // camera A, minute 0
    at32(want, 4 * 1441, 0x22334455);  // camera A, minute 1441
    at32(want, 5768 + 4 * 7, 0x66);    // camera B, minute 7
    at32(want, 11536, 0x0A0B0C0D);     // lastpix_y
    EXPECT_EQ(file_bytes(fp), want) << "zero word " << zero_word;
    std::fclose(fp);
  }
}

}  // namespace
}  // namespace dropix
