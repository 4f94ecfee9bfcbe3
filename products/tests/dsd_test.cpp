// Drop size distributions from drops: intervals, bins, and the integral quantities checked
// against what the same rain gives by the textbook formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "products/dsd.h"

namespace dropix::products {
namespace {

constexpr double pi = std::numbers::pi;

drop_values drop(s64 time_ms, double d, double v, double area_mm2 = 10000, u8 qc = 0) {
  drop_values p;
  p.time_ms = time_ms;
  p.d = d;
  p.v = v;
  p.area = area_mm2;
  p.qc = qc;
  return p;
}

constexpr s64 day_ms = 1796688000000LL;  // 2026-12-08 00:00 UTC

TEST(bins, cover_0_to_10_mm_and_0_to_12_m_s_with_the_top_edge_in_the_last_bin) {
  EXPECT_EQ(bins::diameter(0.0), 0);
  EXPECT_EQ(bins::diameter(0.1999), 0);
  EXPECT_EQ(bins::diameter(0.2), 1);
  EXPECT_EQ(bins::diameter(9.99), 49);
  EXPECT_EQ(bins::diameter(10.0), 49);
  EXPECT_EQ(bins::diameter(10.01), -1);
  EXPECT_EQ(bins::diameter(-0.01), -1);
  EXPECT_EQ(bins::diameter(std::nan("")), -1);
  EXPECT_EQ(bins::velocity(11.99), 59);
  EXPECT_EQ(bins::velocity(12.0), 59);
  EXPECT_EQ(bins::velocity(12.5), -1);
}

TEST(dsd_series, intervals_align_with_midnight_and_are_labelled_by_their_end) {
  dsd_series s(day_ms + 3600 * 1000 + 7250, day_ms + 3600 * 1000 + 65000, 30);
  ASSERT_EQ(s.size(), 3u);  // 01:00:00-30, 01:00:30-01:01:00, 01:01:00-30
  EXPECT_EQ(s.start_s(0), day_ms / 1000 + 3600);
  EXPECT_EQ(s.end_s(0), day_ms / 1000 + 3630);
  EXPECT_EQ(s.end_s(2), day_ms / 1000 + 3690);
  s.add(drop(day_ms + 3630 * 1000 - 1, 1, 4));  // the last millisecond of the first interval
  s.add(drop(day_ms + 3630 * 1000, 1, 4));      // the first of the second
  s.add(drop(day_ms + 3630 * 1000 + 5, 1, 4));
  s.add(drop(day_ms + 3000 * 1000, 1, 4));      // outside the series: not counted
  EXPECT_EQ(s.at(0).n_raw, 1u);
  EXPECT_EQ(s.at(1).n_raw, 2u);
  EXPECT_EQ(s.at(2).n_raw, 0u);
}

// 60 drops of 2 mm falling at 6.5 m/s through 10000 mm^2 in one minute.
TEST(derive_dsd, of_equal_drops_follows_from_their_number_volume_and_speed) {
  dsd_series s(day_ms, day_ms, 60);
  for (int i = 0; i < 60; ++i) s.add(drop(day_ms + i * 1000, 2.05, 6.5));
  const dsd_values v = derive_dsd(s.at(0), 60);
  const double a = 0.01, dt = 60, n = 60;
  const double concentration = n / (a * 6.5 * dt);  // drops per m^3 of air
  EXPECT_NEAR(v.nd[10], concentration / 0.2, 1e-9);
  for (int i = 0; i < bins::n_d; ++i)
    if (i != 10) {
      EXPECT_EQ(v.nd[i], 0.0);
    }
  EXPECT_NEAR(v.nt, concentration, 1e-9);
  // The water that fell: 60 drops of pi/6 2.05^3 mm^3 over 10000 mm^2.
  const double depth = n * pi / 6 * std::pow(2.05, 3) / 10000;
  EXPECT_NEAR(v.p, depth, 1e-12);
  EXPECT_NEAR(v.r, depth * 60, 1e-9);
  // Water content: number per m^3 times the mass of a drop (1e-3 g per mm^3).
  EXPECT_NEAR(v.lwc, concentration * pi / 6 * std::pow(2.05, 3) * 1e-3, 1e-12);
  EXPECT_NEAR(v.z, 10 * std::log10(concentration * std::pow(2.05, 6)), 1e-9);
  EXPECT_NEAR(v.dm, 2.05, 1e-12);
  EXPECT_NEAR(v.sigma_m, 0, 1e-6);
  EXPECT_NEAR(v.nw, 256.0 / 6 * v.m[3] / std::pow(2.05, 4), 1e-6 * v.nw);
  EXPECT_EQ(v.d_min, 2.05);
  EXPECT_EQ(v.d_max, 2.05);
  EXPECT_NEAR(v.fall_velocity[10], 6.5, 1e-12);
  EXPECT_TRUE(std::isnan(v.fall_velocity[9]));
  // Kinetic energy: 1/2 m v^2 per drop, m = 1000 kg m-3 pi/6 (2.05e-3 m)^3, over 0.01 m^2.
  const double mass = 1000 * pi / 6 * std::pow(2.05e-3, 3);
  EXPECT_NEAR(v.tke, n * 0.5 * mass * 6.5 * 6.5 / a, 1e-12);
  EXPECT_NEAR(v.kef, v.tke * 60, 1e-9);
  EXPECT_NEAR(v.ked, v.kef / v.r, 1e-9);
}

TEST(derive_dsd, rain_rate_agrees_with_the_concentration_formula_at_the_measured_speeds) {
  // R = 6 pi 1e-4 sum_i N(D_i) v_i D_i^3 dD for drops at their bin centres (DISDRODB's
  // formula), here with one drop per bin at its own speed and its own area.
  dsd_series s(day_ms, day_ms, 60);
  double r_concentration = 0;
  for (int i = 3; i < 30; ++i) {
    const double d = (i + 0.5) * 0.2, v = 9.65 - 10.3 * std::exp(-0.6 * d), area = 9550 - 40 * d;
    s.add(drop(day_ms + i, d, v, area));
    const double nd = 1 / (area * 1e-6 * v * 60 * 0.2);
    r_concentration += 6 * pi * 1e-4 * nd * v * d * d * d * 0.2;
  }
  EXPECT_NEAR(derive_dsd(s.at(0), 60).r, r_concentration, 1e-9 * r_concentration);
}

TEST(derive_dsd, moments_give_the_mass_weighted_mean_and_spread) {
  // Equal numbers per m^3 of 1 mm and 3 mm drops: Dm = (1 + 81) / (1 + 27),
  // sigma_m^2 = (1 + 243) / 28 - Dm^2.
  dsd_series s(day_ms, day_ms, 60);
  for (int i = 0; i < 10; ++i) {
    s.add(drop(day_ms + i, 1.0, 4.0));
    s.add(drop(day_ms + i, 3.0, 8.0, 10000 * 4.0 / 8.0));  // A v equal: same weight per m^3
  }
  const dsd_values v = derive_dsd(s.at(0), 60);
  EXPECT_NEAR(v.dm, 82.0 / 28, 1e-12);
  EXPECT_NEAR(v.sigma_m, std::sqrt(244.0 / 28 - std::pow(82.0 / 28, 2)), 1e-12);
  EXPECT_EQ(v.d_min, 1.0);
  EXPECT_EQ(v.d_max, 3.0);
  // 1/28 of the water in the 1 mm bin (1.0-1.2), 27/28 in the 3 mm bin (3.0-3.2): D10 and
  // D50 and D90 lie in the 3 mm bin where the cumulative water crosses them.
  EXPECT_NEAR(v.d50, 3.0 + (0.5 - 1.0 / 28) / (27.0 / 28) * 0.2, 1e-12);
  EXPECT_NEAR(v.d10, 3.0 + (0.1 - 1.0 / 28) / (27.0 / 28) * 0.2, 1e-12);
  EXPECT_LT(v.d10, v.d50);
  EXPECT_LT(v.d50, v.d90);
}

TEST(derive_dsd, drops_that_failed_qc_are_counted_raw_but_carry_no_rain) {
  dsd_series s(day_ms, day_ms, 60);
  s.add(drop(day_ms, 2.0, 6.5));
  s.add(drop(day_ms + 1, 2.0, 0.3, 10000, qc_splash | qc_fall_speed));
  s.add(drop(day_ms + 2, 12.0, 9.0, 10000, qc_diameter));  // outside the bins: raw count only
  s.add(drop(day_ms + 3, 2.0, 6.5, 10000, qc_edge));
  const interval_sums& sums = s.at(0);
  EXPECT_EQ(sums.n_raw, 4u);
  EXPECT_EQ(sums.n, 1u);
  EXPECT_EQ(sums.cells.size(), 3u);  // the 12 mm drop has no diameter bin
  EXPECT_EQ(sums.count[10], 1u);
  EXPECT_NEAR(derive_dsd(sums, 60).p, pi / 6 * 8 / 10000, 1e-15);
  EXPECT_EQ(sums.cells[1], 10 * bins::n_v + 1);  // 2 mm at 0.3 m/s
}

TEST(derive_dsd, an_interval_without_drops_has_no_rain_and_no_size_statistics) {
  dsd_series s(day_ms, day_ms, 600);
  s.add(drop(day_ms, 2.0, 0.2, 10000, qc_splash));
  const dsd_values v = derive_dsd(s.at(0), 600);
  EXPECT_EQ(v.r, 0.0);
  EXPECT_EQ(v.p, 0.0);
  EXPECT_EQ(v.nt, 0.0);
  EXPECT_EQ(v.tke, 0.0);
  for (double x : {v.z, v.dm, v.sigma_m, v.nw, v.d10, v.d50, v.d90, v.d_min, v.d_max, v.ked}) EXPECT_TRUE(std::isnan(x));
}

}  // namespace
}  // namespace dropix::products
