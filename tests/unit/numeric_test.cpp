// Float-to-integer conversions that are defined for every input.
#include <gtest/gtest.h>

#include <limits>

#include "common/numeric.h"

namespace dropix {
namespace {

constexpr s32 int_min = std::numeric_limits<s32>::min();

TEST(trunc_s32, truncates_toward_zero_inside_the_32_bit_range) {
  EXPECT_EQ(trunc_s32(-0.5), 0);
  EXPECT_EQ(trunc_s32(1.99), 1);
  EXPECT_EQ(trunc_s32(-1.99), -1);
  EXPECT_EQ(trunc_s32(2147483647.9), 2147483647);
  EXPECT_EQ(trunc_s32(-2147483648.0), int_min);
  EXPECT_EQ(trunc_s32(-2147483648.9), int_min);
  EXPECT_EQ(trunc_s32(static_cast<f32>(12.49)), 12);
}

TEST(trunc_s32, gives_0x80000000_for_nan_infinities_and_out_of_range) {
  EXPECT_EQ(trunc_s32(std::numeric_limits<f64>::quiet_NaN()), int_min);
  EXPECT_EQ(trunc_s32(-std::numeric_limits<f64>::quiet_NaN()), int_min);
  EXPECT_EQ(trunc_s32(std::numeric_limits<f64>::infinity()), int_min);
  EXPECT_EQ(trunc_s32(-std::numeric_limits<f64>::infinity()), int_min);
  EXPECT_EQ(trunc_s32(2147483648.0), int_min);   // 2^31
  EXPECT_EQ(trunc_s32(-2147483649.0), int_min);  // -2^31 - 1
  EXPECT_EQ(trunc_s32(1e300), int_min);
}

TEST(line_trunc, keeps_line_counts_past_two_to_the_32) {
  EXPECT_EQ(line_trunc(5000000000.7), 5000000000u);
  EXPECT_EQ(line_trunc(2000.9), 2000u);
  EXPECT_EQ(line_trunc(-3.0), 0u);
}

}  // namespace
}  // namespace dropix
