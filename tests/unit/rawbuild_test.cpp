// The raw-file builder's line-block encoder: frame lengths against the decoder's one-word
// look-ahead, and the inputs it refuses. Its round trips are in decmpr_test.cpp.
#include <gtest/gtest.h>

#include <stdexcept>

#include "kit/rawbuild.h"

namespace dropix {
namespace {

using rawkit::encode_line_block;
using rawkit::encode_options;
using rawkit::scan_line;

u32 first_frame_len(const std::vector<u8>& body) { return get_u32(body.data() + 2) & 0x3FFFu; }

// x_base 10, light_bits 4: a line 13..17 is light 3 and dark 4 (flag 1).
encode_options narrow(bool pad, int dark_bits) {
  encode_options opt;
  opt.x_base = 10;
  opt.light_bits = 4;
  opt.dark_bits = dark_bits;
  opt.pad_words = pad;
  return opt;
}

TEST(encode_line_block, padding_reaches_the_word_the_decoder_stands_in_at_the_end_mark) {
  const std::vector<scan_line> one = {{7.0, {{13, 17}}}};
  // Fields of 4 + 4 bits, the mark at bit 8: the decoder has taken two words by then.
  EXPECT_EQ(first_frame_len(encode_line_block(one, narrow(true, 4))), 16u);
  EXPECT_EQ(first_frame_len(encode_line_block(one, narrow(false, 4))), 14u);
  // 4 + 12 bits, the mark at bit 16: three words taken, the stream itself needs two.
  EXPECT_EQ(first_frame_len(encode_line_block(one, narrow(true, 12))), 18u);
  EXPECT_EQ(first_frame_len(encode_line_block(one, narrow(false, 12))), 16u);
  // 4 + 9 bits, the mark at bits 13..16 crossing into the second word: both forms end there.
  EXPECT_EQ(first_frame_len(encode_line_block(one, narrow(true, 9))), 16u);
  EXPECT_EQ(first_frame_len(encode_line_block(one, narrow(false, 9))), 16u);
}

TEST(encode_line_block, a_one_bit_light_field_codes_repeated_lines_in_full) {
  std::vector<scan_line> lines;
  for (int k = 0; k < 5; ++k) lines.push_back({20.0 + k, {{10, 12}, {12, 30}}});
  encode_options opt = narrow(true, 6);
  opt.light_bits = 1;
  const auto with = encode_line_block(lines, opt);
  opt.repetitions = false;
  EXPECT_EQ(with, encode_line_block(lines, opt));
}

TEST(encode_line_block, refuses_what_a_frame_cannot_hold) {
  const std::vector<scan_line> ok = {{7.0, {{13, 17}}}};
  EXPECT_THROW(encode_line_block(ok, {.light_bits = 16}), std::invalid_argument);
  EXPECT_THROW(encode_line_block(ok, {.x_base = 1024}), std::invalid_argument);
  EXPECT_THROW(encode_line_block(ok, {.x_base = 14}), std::invalid_argument);  // right of the run
  EXPECT_THROW(encode_line_block(ok, {.dark_bits = 2}), std::invalid_argument);  // dark 4 > 1
  const std::vector<scan_line> seven = {{7.0, {{0, 1}, {2, 3}, {4, 5}, {6, 7}, {8, 9}, {10, 11}, {12, 13}}}};
  EXPECT_THROW(encode_line_block(seven), std::invalid_argument);
  const std::vector<scan_line> overlap = {{7.0, {{0, 5}, {4, 9}}}};
  EXPECT_THROW(encode_line_block(overlap), std::invalid_argument);
}

}  // namespace
}  // namespace dropix
