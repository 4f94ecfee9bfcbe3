// Drop record packing: the record head, the bit stream of both silhouettes, the limits.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "reconstruct/transf.h"
#include "tests/support/drop_kit.h"
#include "tests/support/fixture.h"

namespace dropix {
namespace {

using testing::add_header;
using testing::dropix_test;
using testing::flat_factors;
using testing::flat_header;
using testing::make_drop;

struct record {
  s16 built = 0;
  drop_head head;
  std::vector<u16> data;  // the data words the head's length announces
};

record pack(const drop_rec& a, const drop_rec& b) {
  record r;
  std::vector<u16> words(max_packed_values, 0xDEAD);
  u8 head[drop_fmt::head_size] = {};
  testing::dropix_test& t = testing::current_test();
  r.built = transf_1(t.hdr.list, t.corr_tables, &a, &b, t.wr.oldlen, words.data(), head, t.diag);
  if (!r.built) return r;
  r.head = decode_drop_head(head);
  const u32 len = drop_fmt::length_of(r.head.len_bits);
  r.data.assign(words.begin(), words.begin() + (len - drop_fmt::head_size) / 2);
  return r;
}

// Reads n values of b bits back from the words, least significant bit first.
std::vector<u32> unpack(const std::vector<u16>& words, int b, std::size_t n) {
  std::vector<u32> v(n, 0);
  for (std::size_t bit = 0; bit < n * b; ++bit)
    if (words.at(bit / 16) >> (bit % 16) & 1u) v[bit / b] |= 1u << (bit % b);
  return v;
}

// An object of n lines whose pieces wander: line i spans first(i) .. first(i) + width(i).
drop_rec wandering(int n, int shift_period, int width, f64 y) {
  std::vector<piece> p;
  for (int i = 0; i < n; ++i) {
    const s16 first = static_cast<s16>(i % shift_period);
    p.push_back({first, static_cast<s16>(first + width - (i % 3))});
  }
  return make_drop(p, y, y + n - 1);
}

// The values the record must hold for the pair, in their order.
std::vector<u32> expected_values(const drop_rec& a, const drop_rec& b) {
  std::vector<u32> v;
  for (const drop_rec* d : {&a, &b}) {
    for (int i = 0; i < d->line_no; ++i) v.push_back(static_cast<u32>(d->pieces[i].first - d->pix_min));
    for (int i = 0; i < d->line_no; ++i) v.push_back(static_cast<u32>(d->pieces[i].last - d->pix_min));
  }
  return v;
}

class transf : public dropix_test {
 protected:
  void SetUp() override {
    dropix_test::SetUp();
    flat_factors();
    add_header(0.0, flat_header());
  }
};

// ---- head and bit stream -----------------------------------------------------------------

TEST_F(transf, packs_the_two_line_example) {
  wr.oldlen = 74;  // a main header record came last
  const drop_rec a = make_drop({{10, 12}, {9, 13}}, 1000.25, 1001.25);
  const drop_rec b = make_drop({{20, 21}, {19, 22}}, 1001.0, 1002.0);
  const record r = pack(a, b);
  ASSERT_EQ(r.built, 1);
  // Values 1 0 3 4 1 0 2 3 at b = 3 (widths 4 and 3); one round of ten values, the last
  // two zero padding: 0x6818C1 -> word 0x18C1, carry 0x0068 as the final word.
  EXPECT_EQ(r.data, (std::vector<u16>{0x18C1, 0x0068}));
  EXPECT_EQ(r.head.len_bits, 0x1822);  // 3 * 2048 + 34
  EXPECT_EQ(r.head.len_prev, 74);
  EXPECT_EQ(std::bit_cast<u64>(r.head.y_first), std::bit_cast<u64>(1000.25));
  EXPECT_EQ(r.head.lines_a, 2);
  EXPECT_EQ(r.head.lines_diff, 0);
  EXPECT_EQ(r.head.pix_min_a, 9);
  EXPECT_EQ(r.head.pix_min_b, 19);
  EXPECT_EQ(err_text(), "");
}

TEST_F(transf, the_final_carry_word_is_written_even_when_it_holds_only_padding) {
  // Four one-bit values 0 1 0 1 need 4 bits, but the round emits one word and the carry
  // follows as a second one.
  const drop_rec a = make_drop({{10, 11}}, 1000.0, 1000.0);
  const drop_rec b = make_drop({{20, 21}}, 1001.0, 1001.0);
  const record r = pack(a, b);
  EXPECT_EQ(r.data, (std::vector<u16>{0x000A, 0x0000}));
  EXPECT_EQ(r.head.len_bits, 1 * 2048 + 34);
}

TEST_F(transf, bits_per_value_come_from_bits_0_to_9_of_the_wider_width) {
  auto bits = [](int wa, int wb) {
    const drop_rec a = make_drop({{0, static_cast<s16>(wa)}}, 1000.0, 1000.0);
    const drop_rec b = make_drop({{0, static_cast<s16>(wb)}}, 1001.0, 1001.0);
    const record r = pack(a, b);
    return r.built ? static_cast<int>(drop_fmt::bits_of(r.head.len_bits)) : -1;
  };
  EXPECT_EQ(bits(511, 512), 10);
  EXPECT_EQ(bits(1, 1), 1);
  EXPECT_EQ(bits(4, 3), 3);
  EXPECT_EQ(bits(1024, 3), 2);  // bit 10 is not looked at
}

TEST_F(transf, values_are_cut_to_their_low_bits) {
  // Widths 1024 and 3 give b = 2: camera A's last pixel 1024 is stored as 0.
  const drop_rec a = make_drop({{0, 1024}, {1, 3}}, 1000.0, 1001.0);
  const drop_rec b = make_drop({{0, 3}, {2, 3}}, 1001.0, 1002.0);
  const record r = pack(a, b);
  ASSERT_EQ(r.built, 1);
  EXPECT_EQ(unpack(r.data, 2, 8), (std::vector<u32>{0, 1, 0, 3, 0, 2, 3, 3}));
}

TEST_F(transf, line_differences_are_truncated_each_and_lines_diff_may_be_negative) {
  const drop_rec a = make_drop({{10, 12}, {10, 12}, {10, 12}}, 1000.0, 1002.0);
  const drop_rec b1 = make_drop({{20, 22}, {20, 22}}, 1001.7, 1003.6);  // 1.7 and 1.6
  const drop_rec b2 = make_drop({{20, 22}, {20, 22}}, 999.5, 1004.9);   // -0.5 and 2.9
  const record r1 = pack(a, b1);
  const record r2 = pack(a, b2);
  EXPECT_EQ(r1.head.diff_lins, 2);  // 1 + 1, not 3.3 truncated
  EXPECT_EQ(r2.head.diff_lins, 2);  // 0 + 2: toward zero, not down
  EXPECT_EQ(r1.head.lines_diff, -1);
}

TEST_F(transf, scaled_results_keep_the_low_16_bits_of_their_truncation) {
  hdr = {};
  main_rec h = flat_header(40.0f, 128);  // yscale 40 (dt = 2): 400000 = 0x61A80
  h.XSCALE0_2 = 1.0f / 16384;            // xscale_b = 2^-14 * (64 - 128) / 64 = -2^-14
  h.L0_2 = 64.0f;
  add_header(0.0, h);
  const drop_rec a = make_drop({{0, 1}, {0, 1}}, 1000.0, 1001.0);  // offA = 0 - 128
  const drop_rec b = make_drop({{127, 129}, {127, 129}}, 1001.0, 1002.0);
  const record r = pack(a, b);
  EXPECT_EQ(r.head.yscale_10k, 0x1A80);
  EXPECT_EQ(r.head.xscale_b_10k, 0);  // -0.61 toward zero
  EXPECT_EQ(r.head.xscale_a_10k, 10000);
}

TEST_F(transf, a_zero_gate1_still_gives_a_defined_record) {
  hdr = {};
  add_header(0.0, flat_header(40.0f, 0));  // 0/0 plane distance: not a number
  const drop_rec a = make_drop({{10, 12}, {9, 13}}, 1000.0, 1001.0);
  const drop_rec b = make_drop({{20, 21}, {19, 22}}, 1001.0, 1002.0);
  const record r = pack(a, b);
  ASSERT_EQ(r.built, 1);
  EXPECT_EQ(r.head.yscale_10k, 0);  // 0x80000000 keeps 0 in its low bits
  EXPECT_EQ(r.head.diam_100, 0);
  EXPECT_EQ(r.data, (std::vector<u16>{0x18C1, 0x0068}));
}

// ---- length limit ------------------------------------------------------------------------

TEST_F(transf, six_hundred_lines_fit_at_six_bits_and_are_refused_at_seven) {
  const drop_rec a6 = wandering(MAXLIN, 20, 42, 1000.0);  // both 61 pixels wide: b = 6
  const drop_rec b6 = wandering(MAXLIN, 7, 55, 1001.0);
  const record r = pack(a6, b6);
  ASSERT_EQ(r.built, 1);
  // 2400 values * 6 bits = 900 words; the rounds take 5, then 3, 2, 3 values per word,
  // ending with 16 bits in the carry, which is the 900th word.
  EXPECT_EQ(drop_fmt::length_of(r.head.len_bits), 30u + 2 * 900);
  EXPECT_EQ(drop_fmt::bits_of(r.head.len_bits), 6u);
  EXPECT_EQ(unpack(r.data, 6, 2400), expected_values(a6, b6));

  const drop_rec a7 = wandering(MAXLIN, 20, 100, 1000.0);  // b = 7
  const drop_rec b7 = wandering(MAXLIN, 7, 55, 1001.0);
  EXPECT_EQ(pack(a7, b7).built, 0);
  EXPECT_EQ(err_text(), "transf_1: max. len exceeded !!! \n");
}

TEST_F(transf, at_seven_bits_576_lines_are_the_most_that_fit) {
  const drop_rec a = wandering(576, 20, 100, 1000.0);
  const drop_rec b = wandering(576, 7, 55, 1001.0);
  const record r = pack(a, b);
  ASSERT_EQ(r.built, 1);
  EXPECT_EQ(drop_fmt::length_of(r.head.len_bits), 2046u);  // 2304 * 7 bits = 1008 words
  EXPECT_EQ(unpack(r.data, 7, 2304), expected_values(a, b));

  const drop_rec a2 = wandering(577, 20, 100, 1000.0);
  const drop_rec b2 = wandering(577, 7, 55, 1001.0);
  EXPECT_EQ(pack(a2, b2).built, 0);
}

// ---- the words against the round-by-round packing ---------------------------------------

// The data words as the record format defines them, round by round: each round puts as many
// whole values as fit (zeros once the values run out) above the bits carried from the round
// before into a 32-bit accumulator, emits its low 16 bits and carries its high 16; the carry
// is written as one more word at the end. At most 1009 words are written.
std::vector<u16> packed_in_rounds(const drop_rec& a, const drop_rec& b, int bits) {
  std::vector<u32> values;
  for (const drop_rec* d : {&a, &b}) {
    for (int i = 0; i < d->line_no; ++i) values.push_back(static_cast<u32>(d->pieces[i].first - d->pix_min));
    for (int i = 0; i < d->line_no; ++i) values.push_back(static_cast<u32>(d->pieces[i].last - d->pix_min));
  }
  constexpr std::size_t most = 1009;
  const u32 mask = (1u << bits) - 1;
  std::vector<u16> out;
  u32 carry = 0;
  int s = 0;
  std::size_t i = 0;
  while (i < values.size()) {
    if (out.size() == most) return out;
    u32 acc = carry;
    const int p = (32 - s) / bits;
    for (int j = 0; j < p; ++j, ++i) acc += (i < values.size() ? values[i] & mask : 0) << (s + j * bits);
    out.push_back(static_cast<u16>(acc));
    carry = acc >> 16;
    s += p * bits - 16;
  }
  if (out.size() < most) out.push_back(static_cast<u16>(carry));
  return out;
}

TEST_F(transf, the_words_are_those_of_the_round_by_round_packing) {
  std::mt19937 rng(1208);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int too_long = 0;
  for (int k = 0; k < 3000; ++k) {
    SCOPED_TRACE("pair " + std::to_string(k));
    std::vector<piece> pa, pb;
    const bool long_one = k % 10 == 0;
    const int la = long_one ? pick(300, MAXLIN) : pick(1, 40);
    const int lb = std::clamp(la + pick(-5, 5), 1, MAXLIN);
    const int width = 1 << pick(long_one ? 6 : 0, 10);
    for (auto [v, n] : {std::pair{&pa, la}, std::pair{&pb, lb}})
      for (int i = 0; i < n; ++i) {
        const s16 first = static_cast<s16>(pick(0, width));
        v->push_back({first, static_cast<s16>(first + pick(0, width))});
      }
    drop_rec a = make_drop(pa, 1000.0, 1000.0 + la - 1);
    drop_rec b = make_drop(pb, 1080.0, 1080.0 + lb - 1);
    if (k % 9 == 0) a.pix_min = static_cast<s16>(a.pix_min + pick(1, 40));  // values below the edge
    std::vector<u16> words(max_packed_values, 0xDEAD);
    u8 head[drop_fmt::head_size] = {};
    const s16 built = transf_1(hdr.list, corr_tables, &a, &b, 0, words.data(), head, diag);
    const unsigned low = static_cast<unsigned>((a.pix_max - a.pix_min) | (b.pix_max - b.pix_min)) & 0x3FFu;
    const int bits = low ? std::bit_width(low) : 1;
    const std::vector<u16> expected = packed_in_rounds(a, b, bits);
    if (!built) {
      ++too_long;
      ASSERT_GE(expected.size() * 2 + drop_fmt::head_size, drop_fmt::max_len + 1u);
      continue;
    }
    const drop_head h = decode_drop_head(head);
    ASSERT_EQ((drop_fmt::length_of(h.len_bits) - drop_fmt::head_size) / 2, expected.size());
    ASSERT_EQ(std::vector<u16>(words.begin(), words.begin() + static_cast<long>(expected.size())), expected);
    ASSERT_EQ(words[expected.size()], 0xDEAD) << "a word written past the record";
  }
  EXPECT_GT(too_long, 10);
}

// ---- implausibly small diameters ---------------------------------------------------------

TEST_F(transf, a_diameter_below_a_hundredth_is_reported_and_the_record_built) {
  // One-pixel-wide pieces have no volume: eq_diam 0.
  const drop_rec a = make_drop({{10, 10}, {11, 11}}, 1000.0, 1001.0);
  const drop_rec b = make_drop({{20, 20}, {21, 21}, {20, 20}}, 1001.0, 1003.0);
  const record r = pack(a, b);
  EXPECT_EQ(r.built, 1);
  EXPECT_EQ(r.head.diam_100, 0);
  EXPECT_EQ(err_text(),
            "\neq_diam problem:\n"
            "eq_diam= 0.000000  line_no_A= 2  line_no_B= 3\n"
            "diff_lins= 3\n");
}

TEST(eq_diam_too_small, is_below_a_hundredth_in_single_precision_sign_bit_included) {
  const f32 nan = std::numeric_limits<f32>::quiet_NaN();
  EXPECT_FALSE(eq_diam_too_small(0.01f));
  EXPECT_TRUE(eq_diam_too_small(std::nextafter(0.01f, 0.0f)));
  EXPECT_TRUE(eq_diam_too_small(0.0099f));
  EXPECT_TRUE(eq_diam_too_small(0.0f));
  EXPECT_TRUE(eq_diam_too_small(-0.0f));
  EXPECT_TRUE(eq_diam_too_small(-2.5f));
  EXPECT_TRUE(eq_diam_too_small(std::copysign(nan, -1.0f)));
  EXPECT_FALSE(eq_diam_too_small(std::copysign(nan, 1.0f)));
  EXPECT_FALSE(eq_diam_too_small(std::numeric_limits<f32>::infinity()));
}

}  // namespace
}  // namespace dropix
