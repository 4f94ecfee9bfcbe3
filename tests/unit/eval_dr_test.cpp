// Drop evaluation on pairs whose results are worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "reconstruct/eval_dr.h"
#include "tests/support/drop_kit.h"
#include "tests/support/fixture.h"

namespace dropix {
namespace {

using testing::add_header;
using testing::dropix_test;
using testing::flat_factors;
using testing::flat_header;
using testing::make_drop;
using testing::same_pieces;

struct evaluation {
  f32 eq_diam, xscale_a, xscale_b, yscale;
};

evaluation evaluate(const drop_rec& a, const drop_rec& b) {
  evaluation e{};
  testing::dropix_test& t = testing::current_test();
  eval_dr(t.hdr.list, t.corr_tables, &a, &b, &e.eq_diam, &e.xscale_a, &e.xscale_b, &e.yscale, t.diag);
  return e;
}

// A one-line object centred on pixel c2 / 2 (c2 = pix_min + pix_max).
drop_rec centred(int c2, f64 y) {
  const s16 first = static_cast<s16>(c2 / 2);
  return make_drop({{first, static_cast<s16>(c2 - first)}}, y, y);
}

class eval : public dropix_test {
 protected:
  void SetUp() override {
    dropix_test::SetUp();
    flat_factors();
  }

  // yscale of a one-line pair at the given centres, camera B one line later (dt = 2), so
  // that yscale is the plane distance H there.
  f32 plane_distance(int c2_a, int c2_b) {
    return evaluate(centred(c2_a, 1000.0), centred(c2_b, 1001.0)).yscale;
  }
};

// ---- plane distance ----------------------------------------------------------------------

TEST_F(eval, equal_corners_give_that_distance_wherever_the_drop_is) {
  add_header(0.0, flat_header(37.5f));
  for (int c2_a : {0, 1, 101, 200, 400})
    for (int c2_b : {0, 57, 200, 399}) EXPECT_EQ(plane_distance(c2_a, c2_b), 37.5f) << c2_a << " " << c2_b;
}

TEST_F(eval, corners_rising_along_camera_a_give_a_linear_distance_whatever_camera_b_sees) {
  main_rec h = flat_header(40.0f);  // W = 200
  h.HBR = h.HFR = 41.0f;            // so HFL = 40: both edges rise from 40 to 41 along cA
  add_header(0.0, h);
  for (int c2_b : {0, 203, 400}) {
    EXPECT_EQ(plane_distance(0, c2_b), 40.0f);     // cA = 0
    EXPECT_EQ(plane_distance(100, c2_b), 40.25f);  // cA = 50, a quarter of W
    EXPECT_EQ(plane_distance(400, c2_b), 41.0f);   // cA = W
  }
}

TEST_F(eval, the_front_and_back_edges_are_joined_along_camera_b) {
  main_rec h = flat_header(40.0f);
  h.HBR = 44.0f;
  h.HFR = 48.0f;  // HFL = 40 + 48 - 44 = 44
  add_header(0.0, h);
  // cA = 50 (a quarter of W): front 44 + 4/4 = 45, back 40 + 4/4 = 41.
  EXPECT_EQ(plane_distance(100, 0), 41.0f);    // cB = 0: the back edge
  EXPECT_EQ(plane_distance(100, 200), 43.0f);  // cB = W/2: halfway
  EXPECT_EQ(plane_distance(100, 400), 45.0f);  // cB = W: the front edge
}

// ---- fall per line -----------------------------------------------------------------------

TEST_F(eval, fall_per_line_is_the_distance_over_the_mean_delay_of_at_least_one_line) {
  add_header(0.0, flat_header(40.0f));
  auto yscale = [](f64 first_delay, f64 last_delay) {
    const drop_rec a = make_drop(same_pieces(2, {99, 101}), 1000.0, 1001.0);
    const drop_rec b = make_drop(same_pieces(2, {99, 101}), 1000.0 + first_delay, 1001.0 + last_delay);
    return evaluate(a, b).yscale;
  };
  EXPECT_EQ(yscale(1, 1), 40.0f);      // dt = 2: mean delay one line
  EXPECT_EQ(yscale(1, 0), 80.0f);      // dt = 1
  EXPECT_EQ(yscale(0.5, 0.75), 64.0f); // dt = 1.25
  EXPECT_EQ(yscale(3, 1), 20.0f);      // dt = 4
  EXPECT_EQ(yscale(0.25, 0.25), 80.0f);  // dt = 0.5 counts as 1
  EXPECT_EQ(yscale(0, 0), 80.0f);
  EXPECT_EQ(yscale(-2, -1), 80.0f);
}

// ---- height correction -------------------------------------------------------------------

TEST_F(eval, height_factor_is_the_mean_of_both_cameras_at_the_mean_height_up_to_index_511) {
  corr_tables.height_a_fac[511] = 0.5f;
  corr_tables.height_b_fac[511] = 1.0f;
  auto yscale = [&](f32 h) {
    hdr = header_state{};
    add_header(0.0, flat_header(h));
    // 2 + 2 lines, dt = 2: yscale = h before the correction, k = 4 * h * 5 = 20 h.
    const drop_rec a = make_drop(same_pieces(2, {99, 101}), 1000.0, 1001.0);
    const drop_rec b = make_drop(same_pieces(2, {99, 101}), 1001.0, 1002.0);
    return evaluate(a, b).yscale;
  };
  EXPECT_EQ(yscale(25.5625f), 25.5625f * 0.75f);  // k = 511.25 -> 511: mean factor 0.75
  EXPECT_EQ(yscale(25.625f), 25.625f);            // k = 512.5 -> 512: no factor
}

// ---- horizontal scales -------------------------------------------------------------------

TEST_F(eval, offsets_are_whole_pixels_and_centres_half_pixels) {
  main_rec h = flat_header(40.0f, 128);  // W = 256
  h.HBR = h.HFR = 41.0f;                 // H = 40 + cA / 256
  h.L0_2 = 64.0f;                        // xscale_b = (64 + offA) / 64
  add_header(0.0, h);
  const drop_rec a = make_drop({{100, 105}}, 1000.0, 1000.0);  // cA = 102.5, offA = 102 - 128
  const drop_rec b = make_drop({{127, 129}}, 1001.0, 1001.0);
  const evaluation e = evaluate(a, b);
  EXPECT_EQ(e.yscale, 40.0f + 102.5f / 256);       // 40.400390625, exact
  EXPECT_EQ(e.xscale_b, (64.0f - 26.0f) / 64.0f);  // 0.59375, not 38.5 / 64
}

TEST_F(eval, perspective_shrinks_camera_a_with_camera_b_offset_and_grows_camera_b_with_camera_a_offset) {
  main_rec h = flat_header(40.0f, 128);
  h.XSCALE0_1 = 0.5f;
  h.XSCALE0_2 = 2.0f;
  h.L0_1 = 100.0f;
  h.L0_2 = 200.0f;
  add_header(0.0, h);
  const drop_rec a = make_drop({{140, 141}}, 1000.0, 1000.0);  // offA = 140 - 128 = 12
  const drop_rec b = make_drop({{150, 157}}, 1001.0, 1001.0);  // offB = 153 - 128 = 25
  const evaluation e = evaluate(a, b);
  EXPECT_EQ(e.xscale_a, 0.25f);   // 0.5 * (100 - 2 * 25) / 100
  EXPECT_EQ(e.xscale_b, 2.06f);   // 2 * (200 + 0.5 * 12) / 200, rounded to float
}

// Width corrections: the index is the width in tenths of a millimetre, rounded half up.
class eval_width : public eval {
 protected:
  void SetUp() override {
    eval::SetUp();
    for (int i = 0; i < n_corr; ++i) {
      corr_tables.width_a_fac[i] = 1.0f + i / 1024.0f;  // every index its own factor
      corr_tables.width_b_fac[i] = 1.0f - i / 1024.0f;
    }
  }
  // xscale_a for a camera A object `width` pixels wide, nominal scale x, offB = 0.
  f32 xscale_a(f32 x, int width) {
    hdr = header_state{};
    main_rec h = flat_header(40.0f);
    h.XSCALE0_1 = x;
    add_header(0.0, h);
    const drop_rec a = make_drop({{100, static_cast<s16>(100 + width)}}, 1000.0, 1000.0);
    const drop_rec b = make_drop({{99, 101}}, 1001.0, 1001.0);
    return evaluate(a, b).xscale_a;
  }
};

TEST_F(eval_width, index_is_rounded_half_up) {
  EXPECT_EQ(xscale_a(1.25f, 1), 1.25f * corr_tables.width_a_fac[13]);     // s = 12.5 -> 13
  EXPECT_EQ(xscale_a(0.1249f, 10), 0.1249f * corr_tables.width_a_fac[12]);  // s = 12.49 -> 12
  EXPECT_EQ(xscale_a(0.5f, 3), 0.5f * corr_tables.width_a_fac[15]);       // s = 15 exactly
}

TEST_F(eval_width, index_512_applies_no_factor) {
  corr_tables.width_a_fac[511] = 0.5f;
  EXPECT_EQ(xscale_a(2.5546875f, 20), 2.5546875f * 0.5f);  // s = 510.9375 -> 511
  EXPECT_EQ(xscale_a(2.55859375f, 20), 2.55859375f);       // s = 511.71875 -> 512
}

TEST_F(eval_width, camera_b_uses_its_own_table_and_its_widest_piece) {
  main_rec h = flat_header(40.0f);
  h.XSCALE0_2 = 1.25f;
  add_header(0.0, h);
  const drop_rec a = make_drop({{99, 101}}, 1000.0, 1000.0);  // offA = 0
  // Widest piece 1 pixel (s = 12.5 -> 13) although it is not the first.
  const drop_rec b = make_drop({{100, 100}, {100, 101}, {100, 100}}, 1001.0, 1003.0);
  EXPECT_EQ(evaluate(a, b).xscale_b, 1.25f * corr_tables.width_b_fac[13]);
}

// ---- volume and diameter -----------------------------------------------------------------

TEST_F(eval, volume_sums_the_shorter_object_and_scales_to_the_mean_line_count) {
  add_header(0.0, flat_header(1.0f));  // yscale 1 with dt = 2; both scales 1 at offsets 0
  const drop_rec a = make_drop(same_pieces(10, {98, 102}), 1000.0, 1009.0);
  std::vector<piece> pb = same_pieces(10, {98, 102});
  pb.push_back({90, 110});  // lines 11 and 12 of camera B are left out of the sum
  pb.push_back({90, 110});
  const drop_rec b = make_drop(pb, 1000.0, 1011.0);  // dt = 0 + 2
  // Ten slices of pi/4 * 4 * 4 = 40 pi, times 22/20 = 44 pi; d = (6 * 44 pi / pi)^(1/3).
  EXPECT_NEAR(evaluate(a, b).eq_diam, std::cbrt(264.0), 2e-5);
}

TEST_F(eval, one_pixel_wide_pieces_have_no_volume) {
  add_header(0.0, flat_header(40.0f));
  const drop_rec a = make_drop({{100, 100}, {101, 101}, {100, 100}}, 1000.0, 1002.0);
  const drop_rec b = make_drop({{50, 50}, {51, 51}}, 1001.0, 1002.0);
  EXPECT_EQ(evaluate(a, b).eq_diam, 0.0f);
}

// A pair worked through by hand, every quantity exact in single precision up to the volume.
//   Header: gate1 256 (W = 512), HBL 6, HBR 6.5, HFR 7 (HFL = 6 + 7 - 6.5 = 6.5),
//           XSCALE0_1 = XSCALE0_2 = 0.125, L0_1 = L0_2 = 256.
//   A: pieces (250,254) (248,256) (248,256) (250,254), lines 1000..1003:
//      pix 248..256, offA = 252 - 256 = -4, cA = 252, widths 4 8 8 4.
//   B: pieces (300,304) (298,306) (298,306) (300,304), lines 1064..1067:
//      pix 298..306, offB = 302 - 256 = 46, cB = 302, widths 4 8 8 4.
//   H_front = 6.5 + 0.5 * 252/512 = 6.74609375, H_back = 6 + 0.5 * 252/512 = 6.24609375,
//   H = 6.24609375 + 0.5 * 302/512 = 6.541015625.
//   dt = 64 + 64 = 128, yscale = 2 H / 128 = 0.102203369140625.
//   k = 8 * 0.1022 * 5 = 4.09 -> 4; factors 0.5 and 1.0: yscale = 0.07665252685546875.
//   xscale_a = 0.125 * (256 - 0.125 * 46) / 256 = 0.1221923828125;
//     s = 8 * 0.12219 * 10 = 9.775 -> 10; factor 0.875: xscale_a = 0.1069183349609375.
//   xscale_b = 0.125 * (256 + 0.125 * -4) / 256 = 0.124755859375;
//     s = 8 * 0.12476 * 10 = 9.980 -> 10; factor 1.125: xscale_b = 0.140350341796875.
//   V = sum(wa wb) * xa xb * pi/4 * yscale = 160 * pi/4 * xa xb ys, times 8/8;
//   d = (6 V / pi)^(1/3) = (240 xa xb ys)^(1/3) = (0.27605993...)^(1/3) = 0.6511301 mm.
TEST_F(eval, a_pair_worked_by_hand) {
  main_rec h;
  h.gate1 = 256;
  h.HBL = 6.0f;
  h.HBR = 6.5f;
  h.HFR = 7.0f;
  h.XSCALE0_1 = h.XSCALE0_2 = 0.125f;
  h.L0_1 = h.L0_2 = 256.0f;
  add_header(0.0, h);
  corr_tables.height_a_fac[4] = 0.5f;
  corr_tables.width_a_fac[10] = 0.875f;
  corr_tables.width_b_fac[10] = 1.125f;
  corr_tables.width_a_fac[9] = corr_tables.width_b_fac[9] = 3.0f;  // a truncated index would
  const drop_rec a = make_drop({{250, 254}, {248, 256}, {248, 256}, {250, 254}}, 1000.0, 1003.0);
  const drop_rec b = make_drop({{300, 304}, {298, 306}, {298, 306}, {300, 304}}, 1064.0, 1067.0);
  const evaluation e = evaluate(a, b);
  EXPECT_EQ(e.yscale, 0.07665252685546875f);
  EXPECT_EQ(e.xscale_a, 0.1069183349609375f);
  EXPECT_EQ(e.xscale_b, 0.140350341796875f);
  EXPECT_NEAR(e.eq_diam, 0.6511301, 1e-6);
}

// ---- header selection --------------------------------------------------------------------

class eval_header : public eval {
 protected:
  // The plane distance of the header chosen for a drop starting at line y.
  static f32 distance_at(f64 y) {
    const drop_rec a = make_drop({{99, 101}}, y, y);
    const drop_rec b = make_drop({{99, 101}}, y + 1, y + 1);
    return evaluate(a, b).yscale;
  }
};

TEST_F(eval_header, a_drop_on_the_line_of_a_newer_header_keeps_the_older_one) {
  add_header(1000.0, flat_header(10.0f));
  add_header(2000.0, flat_header(20.0f));
  add_header(3000.0, flat_header(30.0f));
  EXPECT_EQ(distance_at(1000.0), 10.0f);
  EXPECT_EQ(distance_at(1500.0), 10.0f);
  EXPECT_EQ(distance_at(2000.0), 10.0f);
  EXPECT_EQ(distance_at(2000.9), 10.0f);  // t1 = 2000
  EXPECT_EQ(distance_at(2001.0), 20.0f);
  EXPECT_EQ(distance_at(3000.0), 20.0f);
  EXPECT_EQ(distance_at(3001.0), 30.0f);  // past every node: the last one
  EXPECT_EQ(distance_at(9.0e6), 30.0f);
}

TEST_F(eval_header, line_counts_past_two_to_the_32_are_kept_whole) {
  add_header(4.5e9, flat_header(10.0f));
  EXPECT_EQ(distance_at(5.0e9), 10.0f);  // 5e9 in 32 bits would lie before the header
}

class eval_fatal : public eval {
 protected:
  void expect_fatal(f64 y, const std::string& message) {
    const drop_rec a = make_drop({{99, 101}}, y, y);
    const drop_rec b = make_drop({{99, 101}}, y + 1, y + 1);
    EXPECT_QUITS(evaluate(a, b), exit_status::failure);
    EXPECT_EQ(err_text(), message);
  }
};

TEST_F(eval_fatal, no_header_at_all) {
  expect_fatal(1000.0, "eval_dr 01: no main header in file ?!? \n");
}

TEST_F(eval_fatal, a_single_header_from_a_later_line) {
  add_header(1000.0, flat_header());
  expect_fatal(999.9,
               "t1=999, ptr->line=1000 \n"
               "eval_dr 02: no corresponding main header ? \n");
}

TEST_F(eval_fatal, a_drop_before_the_first_of_several_headers) {
  add_header(1000.0, flat_header());
  add_header(2000.0, flat_header());
  expect_fatal(500.0, "eval_dr 04: no corresponding main header ? \n");
}

}  // namespace
}  // namespace dropix
