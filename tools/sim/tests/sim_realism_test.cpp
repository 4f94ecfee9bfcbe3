// Heavy-rain realism of the simulated event: fall-speed scatter, drift between the planes,
// oscillating drops, clusters, splashes, and the truth that tells them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "tools/sim/optics.h"
#include "tools/sim/rain.h"
#include "tools/sim/shadow.h"
#include "tools/sim/simulate.h"

namespace dropix::sim {
namespace {

const hd_par h = instrument_header(0, 55000.0);

event_options minutes_of(double rain, double minutes) {
  event_options o;
  o.rain = rain;
  o.minutes = minutes;
  return o;
}

TEST(sim_realism, turbulent_fall_speeds_scatter_about_the_law_weighted_by_speed) {
  event_options o = minutes_of(20.0, 4.0);
  o.turbulence = 0.3;
  rng r(21);
  const rain_event ev = make_rain(o, h, r);
  // Among the drops in the air the factor on the law has mean 1 and relative standard
  // deviation 0.3; a crossing drop is drawn with weight f, so the mean of 1/f over the
  // crossing drops is 1 and the mean of f is 1 + 0.3^2.
  double f_sum = 0, inv_sum = 0, f2_sum = 0;
  for (const drop& d : ev.drops) {
    const double f = d.v / fall_speed(d.d);
    f_sum += f;
    f2_sum += f * f;
    inv_sum += 1.0 / f;
  }
  const double n = static_cast<double>(ev.drops.size());
  ASSERT_GT(n, 10000);
  const double mean = f_sum / n, sd = std::sqrt(f2_sum / n - mean * mean);
  EXPECT_NEAR(inv_sum / n, 1.0, 0.01);
  EXPECT_NEAR(mean, 1.09, 0.01);
  // In the crossing population the relative deviation is (1 + s^2) s = 0.327.
  EXPECT_NEAR(sd, 0.327, 0.01);
  // The number of drops is that of still air: the flux is the same.
  EXPECT_NEAR(n, ev.expected_drops, 4.0 * std::sqrt(ev.expected_drops));
}

TEST(sim_realism, wind_shifts_camera_b_by_the_drift_over_the_fall_time_between_the_planes) {
  drop d;
  d.d = 2.0;
  d.ratio = axis_ratio(2.0);
  d.v = fall_speed(2.0);
  d.t = 40000.0;
  const drop still = d;
  d.ux = 2.0;
  d.uy = -4.0;
  const plane_crossing c0 = crossing_b(h, still), c = crossing_b(h, d);
  EXPECT_EQ(c0.x, 0.0);
  const double fall = c.t - d.t;
  // 6.4 to 6.7 mm at 6.5 m/s: about a millisecond.
  EXPECT_NEAR(fall, 6.55e-3 / d.v, 0.2e-3 / d.v);
  // (c.t - d.t holds the time of day's rounding, some 1e-11 s.)
  EXPECT_NEAR(c.x, 2.0e3 * fall, 1e-6);
  EXPECT_NEAR(c.y, -4.0e3 * fall, 1e-6);
  // The plane distance is taken where the drop crosses camera B's plane.
  const view at_b = locate(h, c.x, c.y);
  EXPECT_NEAR(fall, plane_distance(h, h.gate1 + at_b.off_a, h.gate1 + at_b.off_b) * 1e-3 / d.v, 1e-9);
  // Camera B sees the silhouette shifted by the drift along its line, camera A not at all
  // at its first lines.
  auto centre = [](const std::vector<mark>& m) {
    const mark& mid = m[m.size() / 2];
    return 0.5 * (mid.first + mid.last);
  };
  const std::vector<mark> b0 = drop_shadow(h, still, 2), b = drop_shadow(h, d, 2);
  ASSERT_FALSE(b0.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_NEAR(centre(b) - centre(b0), c.y / at_b.xs_b, 1.0);
  EXPECT_LT(centre(b) - centre(b0), -3.0);
  // Along camera A's line the drop moves while the plane cuts through it: its silhouette
  // leans, the last lines lying further along than the first.
  const std::vector<mark> a = drop_shadow(h, d, 1);
  ASSERT_GT(a.size(), 10u);
  EXPECT_GT(a.back().first + a.back().last, a.front().first + a.front().last);
}

TEST(sim_realism, a_drop_that_drifts_out_of_the_area_is_seen_by_camera_a_only) {
  const measuring_area area = area_of(h);
  drop d;
  d.d = 1.5;
  d.ratio = axis_ratio(1.5);
  d.v = fall_speed(1.5);
  d.t = 40000.0;
  d.y = area.y_hi * 0.97;  // near the edge of camera B's line
  while (!in_view(h, locate(h, d.x, d.y))) d.y -= 0.1;
  d.uy = 10.0;  // drifts outward by some 12 mm
  EXPECT_FALSE(drop_shadow(h, d, 1).empty());
  EXPECT_TRUE(drop_shadow(h, d, 2).empty());
  d.uy = -10.0;
  EXPECT_FALSE(drop_shadow(h, d, 2).empty());
}

TEST(sim_realism, oscillating_drops_scatter_their_axis_ratios_and_may_change_between_the_planes) {
  event_options o = minutes_of(30.0, 2.0);
  o.oscillation = 0.05;
  rng r(5);
  const rain_event frozen = make_rain(o, h, r);
  double sum = 0, sum2 = 0, n = 0;
  for (const drop& d : frozen.drops) {
    EXPECT_EQ(d.ratio_at_b(), d.ratio);
    if (d.d < 1.0) {
      EXPECT_EQ(d.ratio, 1.0);  // small drops stay spheres
      continue;
    }
    const double e = d.ratio - axis_ratio(d.d);
    sum += e;
    sum2 += e * e;
    ++n;
  }
  ASSERT_GT(n, 2000);
  EXPECT_NEAR(sum / n, 0.0, 0.004);
  EXPECT_NEAR(std::sqrt(sum2 / n), 0.05, 0.003);
  // Oscillating on: the ratio at camera B differs, by more for small drops (faster
  // oscillation, Rayleigh's f ~ D^-3/2) than for large ones.
  o.oscillation_rayleigh = true;
  rng r2(5);
  const rain_event osc = make_rain(o, h, r2);
  double change_small = 0, change_large = 0, n_small = 0, n_large = 0;
  for (const drop& d : osc.drops) {
    if (d.d < 1.0) continue;
    const double c = std::abs(d.ratio_at_b() - d.ratio);
    (d.d < 2.0 ? change_small : change_large) += c;
    (d.d < 2.0 ? n_small : n_large) += 1;
  }
  ASSERT_GT(n_large, 100);
  EXPECT_GT(change_small / n_small, 1.5 * (change_large / n_large));
  EXPECT_NEAR(rayleigh_frequency(4.0) / rayleigh_frequency(2.0), std::pow(2.0, -1.5), 1e-12);
  // A 2 mm drop rings at about 120 Hz (sqrt(8 x 0.0728 / (1000 x 1e-9)) / 2 pi).
  EXPECT_NEAR(rayleigh_frequency(2.0), 121.5, 0.5);
}

TEST(sim_realism, clusters_arrive_within_milliseconds_with_similar_sizes) {
  event_options o = minutes_of(5.0, 5.0);
  o.bursts = 6.0;
  o.burst_drops = 5;
  o.burst_ms = 4.0;
  rng r(8);
  const rain_event ev = make_rain(o, h, r);
  std::map<int, std::vector<const drop*>> clusters;
  for (const drop& d : ev.drops)
    if (d.burst >= 0) clusters[d.burst].push_back(&d);
  EXPECT_NEAR(static_cast<double>(clusters.size()), 30.0, 4.0 * std::sqrt(30.0));
  for (const auto& [k, c] : clusters) {
    ASSERT_EQ(c.size(), 5u);
    double t0 = 1e9, t1 = 0, d0 = 1e9, d1 = 0;
    for (const drop* d : c) {
      t0 = std::min(t0, d->t), t1 = std::max(t1, d->t);
      d0 = std::min(d0, d->d), d1 = std::max(d1, d->d);
    }
    EXPECT_LE(t1 - t0, 4.0e-3);
    EXPECT_LE(d1 / d0, 1.1 / 0.9 + 1e-9);
    EXPECT_GE(d1, 0.7 * 0.9);
  }
}

TEST(sim_realism, splashes_are_small_slow_and_carry_no_rain) {
  sim_options o;
  o.event = minutes_of(2.0, 3.0);
  o.event.splashes = 40.0;
  const sim_output out = simulate(o);
  long splashes = 0;
  double rain_mm = 0;
  for (const truth_row& t : out.truth) {
    if (!t.splash) {
      rain_mm += 3.141592653589793 / 6.0 * t.d * t.d * t.d / out.stats.area_mm2;
      continue;
    }
    ++splashes;
    EXPECT_TRUE(t.d >= 0.3 && t.d < 1.0);
    EXPECT_LE(t.v, 0.5 * fall_speed(t.d) + 1e-9);
    EXPECT_GE(t.v, 0.1 * fall_speed(t.d) - 1e-9);
  }
  EXPECT_NEAR(static_cast<double>(splashes), 120.0, 4.0 * std::sqrt(120.0));
  EXPECT_EQ(out.stats.splashes, splashes);
  EXPECT_NEAR(out.stats.rain_mm, rain_mm, 1e-9);
}

TEST(sim_realism, truth_tells_each_cameras_silhouette_exactly) {
  sim_options o;
  o.event = minutes_of(10.0, 0.5);
  o.event.turbulence = 0.2;
  o.event.wind = 4.0;
  o.event.oscillation = 0.05;
  o.event.oscillation_rayleigh = true;
  const sim_output out = simulate(o);
  const rain_event ev = [&] {
    rng r(o.seed);
    return make_rain(o.event, out.header, r);
  }();
  ASSERT_EQ(ev.drops.size(), out.truth.size());
  int checked = 0;
  for (std::size_t i = 0; i < ev.drops.size(); i += 7) {
    const drop& d = ev.drops[i];
    const truth_row& t = out.truth[i];
    const std::vector<mark> a = drop_shadow(out.header, d, 1), b = drop_shadow(out.header, d, 2);
    ASSERT_EQ(t.lines_a, static_cast<int>(a.size()));
    ASSERT_EQ(t.lines_b, static_cast<int>(b.size()));
    if (a.empty() || b.empty()) continue;
    EXPECT_EQ(t.first_a, a.front().line);
    EXPECT_EQ(t.first_b, b.front().line);
    EXPECT_EQ(t.pix_b_lo, std::min_element(b.begin(), b.end(), [](auto& p, auto& q) { return p.first < q.first; })->first);
    EXPECT_EQ(t.v, d.v);
    EXPECT_EQ(t.ratio_b, d.ratio_at_b());
    const plane_crossing c = crossing_b(out.header, d);
    EXPECT_EQ(t.x_b, c.x);
    EXPECT_EQ(t.y_b, c.y);
    ++checked;
  }
  EXPECT_GT(checked, 50);
}

TEST(sim_realism, new_truth_columns_read_back_and_old_files_still_read) {
  sim_options o;
  o.event = minutes_of(10.0, 0.3);
  o.event.wind = 3.0;
  o.event.bursts = 30.0;
  o.event.splashes = 30.0;
  const sim_output s = simulate(o);
  const std::string path = ::testing::TempDir() + "sim_truth_columns.csv";
  ASSERT_TRUE(write_truth(path, s.truth));
  const std::vector<truth_row> back = read_truth(path);
  ASSERT_EQ(back.size(), s.truth.size());
  bool some_splash = false, some_burst = false;
  for (std::size_t i = 0; i < back.size(); ++i) {
    EXPECT_NEAR(back[i].x_b, s.truth[i].x_b, 1e-3);
    EXPECT_NEAR(back[i].y_b, s.truth[i].y_b, 1e-3);
    EXPECT_NEAR(back[i].ratio_b, s.truth[i].ratio_b, 1e-4);
    EXPECT_EQ(back[i].splash, s.truth[i].splash);
    EXPECT_EQ(back[i].burst, s.truth[i].burst);
    EXPECT_EQ(back[i].pix_a_hi, s.truth[i].pix_a_hi);
    EXPECT_EQ(back[i].pix_b_lo, s.truth[i].pix_b_lo);
    some_splash |= back[i].splash;
    some_burst |= back[i].burst >= 0;
  }
  EXPECT_TRUE(some_splash);
  EXPECT_TRUE(some_burst);
  // A file of the older simulator: fourteen columns.
  {
    std::FILE* fp = std::fopen(path.c_str(), "w");
    ASSERT_TRUE(fp);
    std::fputs("id,time_s,first_line_a,first_line_b,lines_a,lines_b,diameter_mm,axis_ratio,fall_speed_m_s,"
               "x_mm,y_mm,seen_both,clipped,partner\n"
               "0,43200.052635,2376002889,2376003106,13,14,0.4186,0.9500,1.6377,-3.304,-48.704,1,1,-1\n",
               fp);
    std::fclose(fp);
  }
  const std::vector<truth_row> old = read_truth(path);
  ASSERT_EQ(old.size(), 1u);
  EXPECT_EQ(old[0].first_b, 2376003106u);
  EXPECT_EQ(old[0].x_b, old[0].x);
  EXPECT_EQ(old[0].y_b, -48.704);
  EXPECT_EQ(old[0].ratio_b, 0.95);
  EXPECT_EQ(old[0].burst, -1);
  EXPECT_EQ(old[0].pix_b_lo, -1);
  EXPECT_FALSE(old[0].splash);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace dropix::sim
