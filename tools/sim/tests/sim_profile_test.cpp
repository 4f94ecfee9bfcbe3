// Rain that changes: profiles, named events, the inhomogeneous arrivals that follow them,
// and the truth's summary.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>

#include "tools/sim/optics.h"
#include "tools/sim/physics.h"
#include "tools/sim/rain.h"
#include "tools/sim/simulate.h"

namespace dropix::sim {
namespace {

const hd_par h = instrument_header(0, 55000.0);

TEST(sim_profile, reads_minute_rate_lines_and_refuses_what_is_not_a_profile) {
  std::string why;
  const auto p = parse_profile("# a shower\n0 1\n  2.5 20   # peak\n\n5 0\n", &why);
  ASSERT_TRUE(p) << why;
  ASSERT_EQ(p->points.size(), 3u);
  EXPECT_EQ(p->points[1].minute, 2.5);
  EXPECT_EQ(p->points[1].rain, 20.0);
  EXPECT_EQ(p->peak(), 20.0);
  EXPECT_EQ(p->last_minute(), 5.0);
  for (const char* bad : {"", "# nothing\n", "0 1\n0 2\n", "1 5\n0 5\n", "0 -1\n", "0 301\n", "0\n", "0 1 2\n",
                          "x 1\n"}) {
    why.clear();
    EXPECT_FALSE(parse_profile(bad, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
}

TEST(sim_profile, rates_between_points_are_linear_or_held_and_means_are_exact) {
  rain_profile p;
  p.points = {{0, 2}, {10, 22}, {20, 2}};
  EXPECT_DOUBLE_EQ(p.rate_at(-1), 2);
  EXPECT_DOUBLE_EQ(p.rate_at(5), 12);
  EXPECT_DOUBLE_EQ(p.rate_at(15), 12);
  EXPECT_DOUBLE_EQ(p.rate_at(25), 2);
  EXPECT_DOUBLE_EQ(p.mean_rate(0, 20), 12);  // a triangle on 2
  EXPECT_DOUBLE_EQ(p.mean_rate(8, 12), 20);
  p.step = true;
  EXPECT_DOUBLE_EQ(p.rate_at(9.99), 2);
  EXPECT_DOUBLE_EQ(p.rate_at(10), 22);
  EXPECT_DOUBLE_EQ(p.mean_rate(5, 15), 12);
  EXPECT_DOUBLE_EQ(p.mean_rate(20, 30), 2);
}

TEST(sim_profile, named_events_have_the_promised_shapes) {
  const auto c = named_event("convective");
  ASSERT_TRUE(c);
  EXPECT_NEAR(c->last_minute(), 60.0, 1e-9);
  EXPECT_GT(c->peak(), 50.0);
  double above_50 = 0;
  for (double m = 0; m < 60; m += 0.1) above_50 += c->rate_at(m) > 50 ? 0.1 : 0.0;
  EXPECT_GT(above_50, 3.0);
  // The second half hour is a stratiform tail near 1 to 2 mm/h.
  for (double m = 30; m <= 60; m += 1) EXPECT_TRUE(c->rate_at(m) >= 1.0 && c->rate_at(m) <= 2.0) << m;
  ASSERT_TRUE(named_event("stratiform"));
  EXPECT_LE(named_event("stratiform")->peak(), 5.0);
  ASSERT_TRUE(named_event("shower"));
  EXPECT_FALSE(named_event("drizzle"));
}

// Drops per minute of a profile that rises from nothing to 60 mm/h and falls back, with a
// dry spell: each minute's count is Poisson about the flux of that minute's rates.
TEST(sim_profile, drops_per_minute_follow_the_rate_within_poisson_noise) {
  event_options o;
  o.start = 36000.0;
  o.minutes = 12.0;
  o.profile = *parse_profile("0 0.5\n4 60\n8 0.5\n9 0\n10 0\n10.01 3\n12 3\n");
  rng r(17);
  const rain_event ev = make_rain(o, h, r);
  std::map<int, double> count;
  for (const drop& d : ev.drops) count[static_cast<int>((d.t - o.start) / 60.0)] += 1;
  // Expected per minute: the sum over its segments of flux(rate) x area x length.
  const measuring_area area = area_of(h);
  double chi2 = 0, total = 0;
  for (int m = 0; m < 12; ++m) {
    double expected = 0;
    for (double s = m * 60.0; s < (m + 1) * 60.0 - 1e-9; s += profile_segment) {
      const double from = std::max(s, 0.05), to = std::min(s + profile_segment, o.minutes * 60.0 - 0.05);
      const double rain = o.profile.mean_rate(from / 60.0, to / 60.0);
      if (rain > 0) expected += number_flux(marshall_palmer(rain)) * area.area_mm2 * 1e-6 * (to - from);
    }
    total += expected;
    if (m == 9) {
      EXPECT_EQ(count[m], 0.0) << "dry minute";
      continue;
    }
    ASSERT_GT(expected, 100.0) << m;
    const double z = (count[m] - expected) / std::sqrt(expected);
    EXPECT_LT(std::abs(z), 4.5) << "minute " << m << ": " << count[m] << " drops, expected " << expected;
    chi2 += z * z;
  }
  // Eleven minutes of Poisson counts: chi-square with 11 degrees of freedom, 99.9 % below 31.3.
  EXPECT_LT(chi2, 31.3);
  EXPECT_NEAR(ev.expected_drops, total, 1e-6 * total);
  // Heavier minutes bring larger drops: the mean diameter at the peak (60 to 45 mm/h)
  // exceeds that of minute 8 (0.5 mm/h down to nothing) and of minute 0 (0.5 to 15 mm/h).
  auto mean_d = [&](int m) {
    double s = 0, n = 0;
    for (const drop& d : ev.drops)
      if (static_cast<int>((d.t - o.start) / 60.0) == m) s += d.d, n += 1;
    return s / n;
  };
  EXPECT_GT(mean_d(4), 1.5 * mean_d(8));
  EXPECT_GT(mean_d(4), 1.15 * mean_d(0));
}

TEST(sim_profile, true_accumulation_matches_the_rain_the_profile_brings) {
  // Accumulation of a 30-minute convective-like profile over several seeds: the sum of drop
  // volumes over the area against the integral of the rain each segment's distribution
  // carries. The sum is dominated by the few large drops; its relative standard deviation
  // is about sqrt(<D^6> / N) / <D^3>, a percent or two here.
  event_options o;
  o.minutes = 30.0;
  o.profile = *parse_profile("0 2\n5 40\n10 70\n15 20\n20 3\n30 1\n");
  double sum_true = 0, sum_expected = 0;
  for (std::uint64_t seed = 1; seed <= 3; ++seed) {
    rng r(seed);
    const rain_event ev = make_rain(o, h, r);
    double mm = 0;
    for (const drop& d : ev.drops) mm += 3.141592653589793 / 6.0 * d.d * d.d * d.d / ev.area_mm2;
    EXPECT_NEAR(mm, ev.expected_mm, 0.05 * ev.expected_mm) << "seed " << seed;
    sum_true += mm;
    sum_expected += ev.expected_mm;
    // Marshall-Palmer with the Atlas speeds carries 5 to 20 % more than the nominal rate.
    const double nominal = o.profile.mean_rate(0, 30) * 0.5;
    EXPECT_GT(ev.expected_mm, 1.03 * nominal);
    EXPECT_LT(ev.expected_mm, 1.25 * nominal);
  }
  EXPECT_NEAR(sum_true, sum_expected, 0.025 * sum_expected);
}

TEST(sim_profile, summary_tells_area_times_and_accumulation_per_minute) {
  sim_options o;
  o.event.start = 600.0;
  o.event.minutes = 3.0;
  o.event.profile = *parse_profile("0 5\n3 20\n");
  o.event.splashes = 20;
  const sim_output out = simulate(o);
  const std::string text = summary_text(o, out);
  std::map<std::string, std::string> kv;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const std::size_t eq = line.find(" = ");
    ASSERT_NE(eq, std::string::npos) << line;
    std::string key = line.substr(0, eq);
    key.erase(key.find_last_not_of(' ') + 1);
    kv[key] = line.substr(eq + 3);
  }
  EXPECT_NEAR(std::stod(kv["area_mm2"]), out.stats.area_mm2, 1e-3);
  EXPECT_EQ(std::stod(kv["start_s"]), 600.0);
  EXPECT_EQ(std::stod(kv["end_s"]), 780.0);
  EXPECT_EQ(std::stol(kv["drops"]), out.stats.drops);
  EXPECT_EQ(std::stol(kv["rain_drops"]) + std::stol(kv["splashes"]), out.stats.drops);
  EXPECT_GT(std::stol(kv["splashes"]), 0);
  const double acc = std::stod(kv["accumulation_mm"]);
  EXPECT_NEAR(acc, out.stats.rain_mm, 1e-6);
  double mm = 0;
  for (const truth_row& t : out.truth)
    if (!t.splash) mm += 3.141592653589793 / 6.0 * t.d * t.d * t.d / out.stats.area_mm2;
  EXPECT_NEAR(acc, mm, 1e-6);
  // The nominal accumulation is the profile's integral: 12.5 mm/h for 3 minutes.
  EXPECT_NEAR(std::stod(kv["nominal_accum_mm"]), 12.5 * 3.0 / 60.0, 1e-6);
  // Minutes 10, 11 and 12 of the day, their drops and rain adding up to the whole.
  double minute_mm = 0;
  long minute_drops = 0;
  for (const char* key : {"minute_0010", "minute_0011", "minute_0012"}) {
    ASSERT_TRUE(kv.count(key)) << key;
    long n = 0;
    double rain = 0;
    ASSERT_EQ(std::sscanf(kv[key].c_str(), "%ld %lf", &n, &rain), 2);
    minute_drops += n;
    minute_mm += rain;
  }
  EXPECT_EQ(kv.count("minute_0013"), 0u);
  EXPECT_EQ(minute_drops, std::stol(kv["rain_drops"]));
  EXPECT_NEAR(minute_mm, acc, 1e-5);
}

}  // namespace
}  // namespace dropix::sim
