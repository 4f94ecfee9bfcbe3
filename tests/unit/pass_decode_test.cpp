// The processing pass with real line blocks: a raw file of a main header and interleaved
// camera A and camera B line blocks, some of them undecodable, read pass by pass.
#include <gtest/gtest.h>

#include "tests/support/fixture.h"
#include "kit/rawbuild.h"

namespace dropix {
namespace {

using rawkit::raw_builder;
using rawkit::scan_line;
using testing::dropix_test;
using testing::write_default_config;

// `count` consecutive lines from y, one to three runs each, every third line repeating the
// line before.
std::vector<scan_line> stretch(f64 y, int count) {
  std::vector<scan_line> out;
  for (int k = 0; k < count; ++k) {
    if (k % 3 == 2) {
      out.push_back({y + k, out.back().runs});
      continue;
    }
    const s16 at = static_cast<s16>(100 + 7 * k);
    scan_line l{y + k, {{at, static_cast<s16>(at + 4)}}};
    if (k % 2 == 1) l.runs.push_back({static_cast<s16>(at + 9), static_cast<s16>(at + 20)});
    if (k % 4 == 1) l.runs.push_back({static_cast<s16>(at + 30), static_cast<s16>(at + 31)});
    out.push_back(l);
  }
  return out;
}

std::vector<scan_line> operator+(std::vector<scan_line> a, const std::vector<scan_line>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<scan_line> handed_on() {
  const decode_state& dec = testing::current_test().dec;
  std::vector<scan_line> out;
  for (int i = 0; i < dec.line_blk.n_lin; ++i) {
    const line_entry& e = dec.line_blk.line[i];
    scan_line l{e.y_count, {}};
    for (int k = 0; k < e.n_seg; ++k) l.runs.push_back({e.seg[k][0], e.seg[k][1]});
    out.push_back(l);
  }
  return out;
}

class pass_decoding : public dropix_test {
 protected:
  std::vector<s64> at;  // offset of every block

  void add(raw_builder& b, s16 ident, const std::vector<u8>& body) {
    at.push_back(static_cast<s64>(b.size()));
    b.block(ident, body);
  }
};

TEST_F(pass_decoding, both_cameras_decode_and_camera_b_catches_up_by_time) {
  write_default_config();
  const auto b1 = stretch(1000, 5);
  const auto b4 = stretch(1003, 4) + stretch(1008, 4);  // two frames
  const auto b7 = stretch(2104, 7);
  auto cut = rawkit::encode_line_block(stretch(2200, 6));
  cut.resize(cut.size() - 3);  // frames reach past the body: the next block must not be read

  raw_builder b;
  add(b, ident_main_header, rawkit::header_body(rawkit::sample_header(0)));
  add(b, ident_camera_a, rawkit::encode_line_block(b1));
  add(b, ident_camera_b, rawkit::encode_line_block(stretch(990, 6)));
  add(b, ident_camera_b, {0, 0});  // n_lin 0
  add(b, ident_camera_b, rawkit::encode_line_block(b4));
  add(b, ident_camera_a, rawkit::encode_line_block(stretch(2000, 3) + stretch(2100, 4)));
  add(b, ident_camera_b, rawkit::encode_line_block(stretch(2050, 11)));
  add(b, ident_camera_b, rawkit::encode_line_block(b7));
  add(b, ident_camera_a, cut);
  add(b, ident_camera_a, rawkit::encode_line_block(stretch(3000, 4)));
  b.write(testing::test_path("V02310_1.AB"));
  new_run("V02310_1.AB");

  // Pass 1: camera A's first block; camera B reads blocks 2 to 4 until it has passed 1004.
  EXPECT_EQ(ses.makepix(), pass_outcome::matched);
  EXPECT_EQ(mp.last_a, 1004.0);
  EXPECT_EQ(mp.last_b, 1011.0);
  EXPECT_EQ(mp.cnt_a, 5);
  EXPECT_EQ(mp.cnt_b, 6 + 8);
  EXPECT_EQ(mp.prev_a, at[1]);
  EXPECT_EQ(mp.pos_a, at[2]);
  EXPECT_EQ(mp.prev_b, at[4]);
  EXPECT_EQ(mp.pos_b, at[5]);
  EXPECT_EQ(handed_on(), b4);
  EXPECT_NE(err_text().find(" decmpr failed, block skipped \n"), std::string::npos);

  // Pass 2: camera B needs two blocks to pass camera A's 2103.
  EXPECT_EQ(ses.makepix(), pass_outcome::matched);
  EXPECT_EQ(mp.last_a, 2103.0);
  EXPECT_EQ(mp.last_b, 2110.0);
  EXPECT_EQ(mp.cnt_a, 5 + 7);
  EXPECT_EQ(mp.cnt_b, 14 + 11 + 7);
  EXPECT_EQ(mp.pos_a, at[6]);
  EXPECT_EQ(mp.pos_b, at[8]);
  EXPECT_EQ(handed_on(), b7);

  // Pass 3: camera A's block is cut short and skipped; camera B is ahead already.
  const std::string before = err_text();
  EXPECT_EQ(ses.makepix(), pass_outcome::matched);
  EXPECT_EQ(err_text().substr(before.size()), "decmpr04: unexpected end of data\n");
  EXPECT_EQ(mp.last_a, 2103.0);
  EXPECT_EQ(mp.cnt_a, 12);
  EXPECT_EQ(mp.pos_a, at[9]);
  EXPECT_EQ(mp.pos_b, at[8]);
  EXPECT_EQ(handed_on(), b7);

  // Pass 4: camera A's last block, then camera B runs to the end and the run ends.
  EXPECT_EQ(ses.makepix(), pass_outcome::data_used_up);
  EXPECT_EQ(mp.last_a, 3003.0);
  EXPECT_EQ(mp.cnt_a, 16);
  EXPECT_EQ(mp.last_b, 2110.0);
  EXPECT_EQ(mp.pos_b, static_cast<s64>(b.size()));
  EXPECT_EQ(mp.eof_a, 1);
  EXPECT_EQ(mp.eof_b, 1);
}

}  // namespace
}  // namespace dropix
