// The simulated rain event: Poisson arrivals with the flux through the area, positions over
// the area, close pairs, noise, and one recording per seed.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/sim/optics.h"
#include "tools/sim/rain.h"
#include "tools/sim/shadow.h"
#include "tools/sim/simulate.h"

namespace dropix::sim {
namespace {

const hd_par h = instrument_header(0, 55000.0);

TEST(sim_rain, arrivals_are_poisson_with_the_flux_through_the_area) {
  event_options o;
  o.rain = 10.0;
  o.minutes = 10.0;
  rng r(11);
  const rain_event ev = make_rain(o, h, r);
  const double expected = ev.flux * ev.area_mm2 * 1e-6 * (o.minutes * 60.0 - 0.1);
  const double n = static_cast<double>(ev.drops.size());
  EXPECT_NEAR(n, expected, 4.0 * std::sqrt(expected));
  // Exponential gaps: their standard deviation equals their mean.
  double sum = 0, sum2 = 0;
  for (std::size_t i = 1; i < ev.drops.size(); ++i) {
    const double g = ev.drops[i].t - ev.drops[i - 1].t;
    ASSERT_GE(g, 0.0);
    sum += g;
    sum2 += g * g;
  }
  const double mean = sum / (n - 1), sd = std::sqrt(sum2 / (n - 1) - mean * mean);
  EXPECT_NEAR(sd / mean, 1.0, 0.05);
  // Positions uniform over the area both cameras see: their mean is the area's centroid
  // (off the centre, since each camera's line spans more millimetres far from it).
  const measuring_area a = area_of(h);
  double cx = 0, cy = 0, cells = 0;
  for (double x = a.x_lo; x < a.x_hi; x += 0.25)
    for (double y = a.y_lo; y < a.y_hi; y += 0.25)
      if (in_view(h, locate(h, x, y))) {
        cx += x;
        cy += y;
        ++cells;
      }
  double mx = 0, my = 0;
  for (const drop& d : ev.drops) {
    ASSERT_TRUE(in_view(h, locate(h, d.x, d.y)));
    EXPECT_EQ(d.v, fall_speed(d.d));
    EXPECT_EQ(d.ratio, axis_ratio(d.d));
    mx += d.x / n;
    my += d.y / n;
  }
  const double sd_x = (a.x_hi - a.x_lo) / std::sqrt(12.0 * n);
  EXPECT_GT(cx / cells, 1.0);
  EXPECT_NEAR(mx, cx / cells, 4.0 * sd_x);
  EXPECT_NEAR(my, cy / cells, 4.0 * sd_x);
}

TEST(sim_rain, heavier_rain_brings_more_and_larger_drops) {
  event_options light, heavy;
  light.rain = 1.0;
  heavy.rain = 50.0;
  rng r1(3), r2(3);
  const rain_event a = make_rain(light, h, r1), b = make_rain(heavy, h, r2);
  EXPECT_GT(b.drops.size(), 3 * a.drops.size());
  auto mean_d = [](const rain_event& e) {
    double s = 0;
    for (const drop& d : e.drops) s += d.d;
    return s / static_cast<double>(e.drops.size());
  };
  EXPECT_GT(mean_d(b), 1.3 * mean_d(a));
}

TEST(sim_rain, close_pairs_overlap_in_both_cameras) {
  event_options o;
  o.rain = 5.0;
  o.minutes = 2.0;
  o.close_pairs = 5.0;
  rng r(5);
  const rain_event ev = make_rain(o, h, r);
  int pairs = 0;
  for (const drop& d : ev.drops) {
    ASSERT_EQ(d.id, &d - ev.drops.data());
    if (d.partner < 0 || d.partner < d.id) continue;
    const drop& p = ev.drops[static_cast<std::size_t>(d.partner)];
    ASSERT_EQ(p.partner, d.id);
    ++pairs;
    for (int camera = 1; camera <= 2; ++camera) {
      const std::vector<mark> m = drop_shadow(h, d, camera), q = drop_shadow(h, p, camera);
      bool touch = false;
      for (const mark& x : m)
        for (const mark& y : q) touch |= x.line == y.line && x.first <= y.last + 1 && y.first <= x.last + 1;
      EXPECT_TRUE(touch) << "pair " << d.id << " camera " << camera;
    }
  }
  EXPECT_EQ(pairs, 10);
}

TEST(sim_rain, noise_is_single_lines_and_one_pixel_streaks) {
  event_options o;
  o.minutes = 10.0;
  o.specks = 30.0;
  o.streaks = 3.0;
  rng r(9);
  int specks = 0, streaks = 0;
  for (const noise_mark& n : make_noise(o, h, r)) {
    ASSERT_TRUE(n.camera == 1 || n.camera == 2);
    ASSERT_GE(n.first, 0);
    ASSERT_LT(n.last, 512);
    if (n.lines == 1) {
      ++specks;
      EXPECT_LE(n.last - n.first, 5);
    } else {
      ++streaks;
      EXPECT_EQ(n.first, n.last);
      EXPECT_GE(n.lines, 20);
    }
  }
  EXPECT_NEAR(specks, 2 * 30 * 10, 4 * std::sqrt(600.0));
  EXPECT_NEAR(streaks, 2 * 3 * 10, 4 * std::sqrt(60.0));
}

TEST(sim_rain, a_seed_gives_one_recording) {
  sim_options o;
  o.event.minutes = 0.5;
  o.event.close_pairs = 4.0;
  o.seed = 42;
  const sim_output a = simulate(o), b = simulate(o);
  EXPECT_EQ(a.raw, b.raw);
  ASSERT_EQ(a.truth.size(), b.truth.size());
  for (std::size_t i = 0; i < a.truth.size(); ++i) {
    EXPECT_EQ(a.truth[i].t, b.truth[i].t);
    EXPECT_EQ(a.truth[i].d, b.truth[i].d);
  }
  o.seed = 43;
  EXPECT_NE(simulate(o).raw, a.raw);
}

TEST(sim_rain, truth_file_reads_back) {
  sim_options o;
  o.event.minutes = 0.2;
  const sim_output s = simulate(o);
  const std::string path = ::testing::TempDir() + "sim_truth_test.csv";
  ASSERT_TRUE(write_truth(path, s.truth));
  const std::vector<truth_row> back = read_truth(path);
  ASSERT_EQ(back.size(), s.truth.size());
  ASSERT_FALSE(back.empty());
  for (std::size_t i = 0; i < back.size(); ++i) {
    EXPECT_EQ(back[i].first_a, s.truth[i].first_a);
    EXPECT_EQ(back[i].first_b, s.truth[i].first_b);
    EXPECT_NEAR(back[i].d, s.truth[i].d, 1e-4);
    EXPECT_EQ(back[i].both, s.truth[i].both);
    EXPECT_EQ(back[i].partner, s.truth[i].partner);
  }
  std::remove(path.c_str());
}

}  // namespace
}  // namespace dropix::sim
