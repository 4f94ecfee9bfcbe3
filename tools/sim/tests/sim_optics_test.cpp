// The simulated optics: perspective, plane distance, shading rule and the drop shadows that
// follow from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tools/sim/optics.h"
#include "tools/sim/physics.h"
#include "tools/sim/shadow.h"

namespace dropix::sim {
namespace {

const hd_par h = instrument_header(0, 55000.0);

drop sphere_at(double d, double x, double y) {
  drop s;
  s.d = d;
  s.ratio = 1.0;
  s.v = fall_speed(d);
  s.t = 40000.0;
  s.x = x;
  s.y = y;
  return s;
}

TEST(sim_optics, header_geometry_is_a_plausible_instrument) {
  EXPECT_EQ(h.gate1, 256);
  EXPECT_EQ(line_pixels(h), 512);
  for (f32 s : {h.XSCALE0_1, h.XSCALE0_2}) EXPECT_NEAR(s, 0.19f, 0.005f);
  for (f32 l : {h.L0_1, h.L0_2}) EXPECT_TRUE(l > 200.0f && l < 500.0f);
  for (f32 p : {h.HBL, h.HBR, h.HFR}) EXPECT_TRUE(p > 6.0f && p < 7.0f);
  EXPECT_NE(h.HBL, h.HBR);
  EXPECT_NE(h.HBR, h.HFR);
}

TEST(sim_optics, scales_follow_the_perspective_relations_off_centre) {
  const view c = locate(h, 0.0, 0.0);
  EXPECT_DOUBLE_EQ(c.xs_a, h.XSCALE0_1);
  EXPECT_DOUBLE_EQ(c.xs_b, h.XSCALE0_2);
  for (const auto& [x, y] : {std::pair{30.0, -20.0}, {-45.0, 40.0}, {12.0, 47.0}}) {
    const view v = locate(h, x, y);
    EXPECT_NEAR(v.xs_a, h.XSCALE0_1 * (h.L0_1 - h.XSCALE0_2 * v.off_b) / h.L0_1, 1e-12);
    EXPECT_NEAR(v.xs_b, h.XSCALE0_2 * (h.L0_2 + h.XSCALE0_1 * v.off_a) / h.L0_2, 1e-12);
    EXPECT_NEAR(v.off_a * v.xs_a, x, 1e-9);
    EXPECT_NEAR(v.off_b * v.xs_b, y, 1e-9);
  }
  // Camera A looks from the side of positive y: nearer drops appear larger.
  EXPECT_LT(locate(h, 0.0, 40.0).xs_a, locate(h, 0.0, -40.0).xs_a);
  // Camera B looks from the side of negative x.
  EXPECT_LT(locate(h, -40.0, 0.0).xs_b, locate(h, 40.0, 0.0).xs_b);
}

TEST(sim_optics, measuring_area_is_what_both_lines_cover) {
  const measuring_area a = area_of(h);
  const double nominal = 512.0 * h.XSCALE0_1 * 512.0 * h.XSCALE0_2;
  EXPECT_NEAR(a.area_mm2 / nominal, 1.0, 0.02);
  EXPECT_TRUE(in_view(h, locate(h, 0.0, 0.0)));
  EXPECT_FALSE(in_view(h, locate(h, a.x_hi, 0.0)));
  EXPECT_FALSE(in_view(h, locate(h, 0.0, a.y_lo)));
}

TEST(sim_optics, plane_distance_meets_the_corners_and_keeps_them_in_one_plane) {
  const double w = 512.0;
  EXPECT_NEAR(plane_distance(h, 0, 0), h.HBL, 1e-6);
  EXPECT_NEAR(plane_distance(h, w, 0), h.HBR, 1e-6);
  EXPECT_NEAR(plane_distance(h, w, w), h.HFR, 1e-6);
  EXPECT_NEAR(plane_distance(h, 0, w), static_cast<double>(h.HBL) + h.HFR - h.HBR, 1e-6);
  EXPECT_NEAR(plane_distance(h, w / 2, w / 2), (static_cast<double>(h.HBL) + h.HFR) / 2, 1e-6);
}

TEST(sim_optics, a_pixel_is_shaded_when_covered_at_least_half) {
  auto run = [](double l, double r) { return shade(l, r, 512); };
  EXPECT_EQ(run(10.4, 15.6), (rawkit::run{11, 15}));
  EXPECT_EQ(run(10.0, 11.0), (rawkit::run{10, 11}));  // exactly half of 10 and of 11
  EXPECT_EQ(run(9.6, 10.4), (rawkit::run{10, 10}));   // 0.8 of one pixel
  EXPECT_FALSE(run(10.1, 10.5).has_value());          // 0.4 of one pixel
  EXPECT_FALSE(run(10.2, 10.9).has_value());          // 0.3 and 0.4 of two pixels
  EXPECT_EQ(run(-3.0, 2.2), (rawkit::run{0, 2}));      // the line ends at its pixels
  EXPECT_EQ(run(509.7, 515.0), (rawkit::run{510, 511}));
  EXPECT_FALSE(run(512.0, 515.0).has_value());
}

TEST(sim_optics, sphere_at_the_centre_shows_its_nominal_pixel_width) {
  for (double d : {1.0, 2.0, 4.0}) {
    const drop s = sphere_at(d, 0.0, 0.0);
    const std::vector<mark> a = drop_shadow(h, s, 1), b = drop_shadow(h, s, 2);
    int widest_a = 0, widest_b = 0;
    for (const mark& m : a) widest_a = std::max(widest_a, m.last - m.first + 1);
    for (const mark& m : b) widest_b = std::max(widest_b, m.last - m.first + 1);
    EXPECT_NEAR(widest_a, d / h.XSCALE0_1, 1.0) << d;
    EXPECT_NEAR(widest_b, d / h.XSCALE0_2, 1.0) << d;
    // Lines: the drop's height over its fall per line.
    const double fall_per_line = s.v * 1e3 / h.line_fr;
    EXPECT_NEAR(static_cast<double>(a.size()), d / fall_per_line, 1.0) << d;
    // Camera B sees it the plane distance later.
    const double delay = plane_distance(h, 256, 256) * 1e-3 / s.v * h.line_fr;
    EXPECT_NEAR(static_cast<double>(b.front().line - a.front().line), delay, 1.0) << d;
    // Symmetric about the centre column, one line after another.
    const mark& mid = a[a.size() / 2];
    EXPECT_NEAR((mid.first + mid.last) / 2.0, 256.0, 0.5);
    for (std::size_t i = 1; i < a.size(); ++i) EXPECT_EQ(a[i].line, a[i - 1].line + 1);
  }
}

TEST(sim_optics, shadow_sizes_follow_perspective_and_shape) {
  // Near camera A the drop covers more of A's pixels than far from it.
  auto widest = [](const std::vector<mark>& m) {
    int w = 0;
    for (const mark& k : m) w = std::max(w, k.last - k.first);
    return w;
  };
  EXPECT_GT(widest(drop_shadow(h, sphere_at(5.0, 0.0, 45.0), 1)),
            widest(drop_shadow(h, sphere_at(5.0, 0.0, -45.0), 1)));
  // An oblate drop is wider and takes fewer lines than a sphere of its volume.
  drop flat = sphere_at(5.0, 0.0, 0.0);
  flat.ratio = axis_ratio(5.0);
  const drop round = sphere_at(5.0, 0.0, 0.0);
  EXPECT_GT(widest(drop_shadow(h, flat, 1)), widest(drop_shadow(h, round, 1)));
  EXPECT_LT(drop_shadow(h, flat, 1).size(), drop_shadow(h, round, 1).size());
  // Clipped at the end of a line.
  const measuring_area area = area_of(h);
  EXPECT_TRUE(drop_clipped(h, sphere_at(3.0, area.x_hi * 0.995, 0.0)));
  EXPECT_FALSE(drop_clipped(h, sphere_at(3.0, 0.0, 0.0)));
}

TEST(sim_optics, lines_merge_touching_runs_and_keep_six) {
  std::vector<mark> m = {{7, 30, 35}, {5, 10, 12}, {5, 13, 15}, {5, 20, 22}, {5, 21, 25}, {6, 1, 1}};
  for (int i = 0; i < 8; ++i) m.push_back({9, static_cast<s16>(100 + 10 * i), static_cast<s16>(102 + 10 * i)});
  const scan_result r = merge_lines(m);
  ASSERT_EQ(r.lines.size(), 4u);
  EXPECT_EQ(r.lines[0].y_count, 5.0);
  EXPECT_EQ(r.lines[0].runs, (std::vector<rawkit::run>{{10, 15}, {20, 25}}));
  EXPECT_EQ(r.lines[1].runs, (std::vector<rawkit::run>{{1, 1}}));
  EXPECT_EQ(r.lines[3].runs.size(), 6u);
  EXPECT_EQ(r.lines[3].runs.back(), (rawkit::run{150, 152}));
  EXPECT_EQ(r.dropped_runs, 2);
}

}  // namespace
}  // namespace dropix::sim
