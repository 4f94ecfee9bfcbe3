// One drop record turned into products: time, size, speed, shape, position, area, QC bits.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "products/drops.h"
#include "products/tests/support.h"

namespace dropix::products {
namespace {

using test::block;

// A drop record as the reader returns it, with silhouettes.
reader::hyd_record record(const test::drop_spec& d, u64 offset = 74) {
  test::hyd_builder b;
  b.header(test::instrument()).drop(d);
  reader::hyd_cursor cur(b.hyd());
  reader::hyd_record r;
  cur.next(r);
  cur.next(r);
  EXPECT_FALSE(r.is_header);
  r.offset = offset;
  return r;
}

// A 2 mm drop in the middle of both lines, 10 lines high, falling 6.6 m/s at 55 kHz.
test::drop_spec middle_drop() {
  test::drop_spec d;
  d.y_first = 55000.0 * (14 * 3600 + 12.3456);
  d.diam_100 = 199;
  d.yscale_10k = 1199;  // 0.11995 mm/line
  d.a = block(250, 10, 16);
  d.b = block(251, 10, 17);
  return d;
}

class drops : public ::testing::Test {
 protected:
  qc_options opt;
  main_rec h = test::instrument();
  drop_values derive(const test::drop_spec& d) {
    drop_deriver dv(opt);
    dv.accept_header(h, 0);
    return dv.derive(record(d), h);
  }
};

TEST_F(drops, time_is_the_headers_day_plus_the_line_count_over_the_line_frequency) {
  const drop_values p = derive(middle_drop());
  using namespace std::chrono;
  const auto expected = sys_days{year{2026} / December / 8} + hours{14} + milliseconds{12346};
  EXPECT_EQ(p.time_ms, duration_cast<milliseconds>(expected.time_since_epoch()).count());
  EXPECT_EQ(p.offset, 74u);
}

TEST_F(drops, time_follows_the_line_frequency_of_the_header_in_force) {
  h = test::instrument(1796738400u + 3600, 40000.0);  // valid from 15:00, 40 kHz
  test::drop_spec d = middle_drop();
  d.y_first = 40000.0 * (15 * 3600 + 0.5);
  const drop_values p = derive(d);
  EXPECT_EQ(p.time_ms % 86400000, 15 * 3600 * 1000 + 500);
  EXPECT_NEAR(p.v, 0.11995 * 40000 / 1000, 1e-9);
}

TEST_F(drops, size_and_speed_take_the_middle_of_the_truncated_values) {
  const drop_values p = derive(middle_drop());
  EXPECT_DOUBLE_EQ(p.d, 1.995);
  EXPECT_NEAR(p.v, 0.11995 * 55000 / 1000, 1e-12);
}

TEST_F(drops, widths_are_the_widest_line_and_heights_the_lines_times_the_fall_per_line) {
  test::drop_spec d = middle_drop();
  d.a = block(250, 6, 3);
  d.a[1] = {249, 259};  // the widest line is not the first
  d.b = block(252, 8, 4);
  const drop_values p = derive(d);
  EXPECT_NEAR(p.w_a, 10 * 0.19045, 1e-9);
  EXPECT_NEAR(p.w_b, 8 * 0.19215, 1e-9);
  EXPECT_NEAR(p.h_a, 3 * 0.11995, 1e-9);
  EXPECT_NEAR(p.h_b, 4 * 0.11995, 1e-9);
  EXPECT_NEAR(p.ratio, (p.h_a + p.h_b) / (p.w_a + p.w_b), 1e-12);
  d.a = block(250, 0, 3);  // one pixel wide in both cameras: no width, no ratio
  d.b = block(252, 0, 3);
  EXPECT_TRUE(std::isnan(derive(d).ratio));
}

TEST_F(drops, position_is_the_centre_of_the_silhouettes_through_the_perspective) {
  test::drop_spec d = middle_drop();
  d.a = block(251, 10, 16);  // centre 256 = gate1
  d.b = block(251, 10, 16);
  drop_values p = derive(d);
  EXPECT_NEAR(p.x, 0, 1e-12);
  EXPECT_NEAR(p.y, 0, 1e-12);
  d.a = block(351, 11, 16);  // centre 356.5: offset 100.5 pixels
  d.b = block(51, 10, 16);   // centre 56: offset -200
  p = derive(d);
  const geometry g = geometry_of(h);
  EXPECT_NEAR(p.x, 100.5 * g.xs_a(-200), 1e-9);
  EXPECT_NEAR(p.y, -200 * g.xs_b(100.5), 1e-9);
  EXPECT_GT(p.x, 100.5 * 0.1904);  // camera A sees the far side larger
}

TEST_F(drops, area_is_the_effective_area_of_the_drops_widths) {
  const drop_values p = derive(middle_drop());
  const double direct = effective_area(geometry_of(h), p.w_a, p.w_b, opt.edge_margin);
  EXPECT_NEAR(p.area, direct, 1e-4 * direct);
  EXPECT_LT(p.area, effective_area(geometry_of(h), 0, 0, 1));
}

TEST_F(drops, a_drop_within_the_law_and_the_area_passes) {
  EXPECT_EQ(derive(middle_drop()).qc, 0);
}

TEST_F(drops, fall_speed_outside_the_band_sets_its_bit) {
  test::drop_spec d = middle_drop();  // 1.995 mm: Atlas 6.56 m/s
  d.yscale_10k = static_cast<s16>(6.56 * 1.55 / 55000 * 1e7);
  EXPECT_EQ(derive(d).qc, qc_fall_speed);
  d.yscale_10k = static_cast<s16>(6.56 * 1.45 / 55000 * 1e7);
  EXPECT_EQ(derive(d).qc, 0);
  d.yscale_10k = static_cast<s16>(6.56 * 0.45 / 55000 * 1e7);
  EXPECT_EQ(derive(d).qc, qc_fall_speed);
  opt.tolerance = 0.6;
  EXPECT_EQ(derive(d).qc, 0);
  d.diam_100 = 799;  // 8 mm at 14 m/s: inside +-50 % of Atlas (9.5 m/s) but above the bins
  d.yscale_10k = static_cast<s16>(14.0 / 55000 * 1e7);
  EXPECT_EQ(derive(d).qc, qc_fall_speed);
}

TEST_F(drops, beard_at_altitude_moves_the_band) {
  test::drop_spec d = middle_drop();
  d.yscale_10k = static_cast<s16>(6.49 * 1.15 / 55000 * 1e7);  // 15 % above the sea-level speed
  opt.law = speed_law::beard_1976;
  opt.tolerance = 0.1;
  EXPECT_EQ(derive(d).qc, qc_fall_speed);
  opt.altitude_m = 2500;  // thinner air: drops fall faster
  EXPECT_EQ(derive(d).qc, 0);
}

TEST_F(drops, slow_drops_up_to_6_mm_are_probable_splashes) {
  test::drop_spec d = middle_drop();
  d.yscale_10k = static_cast<s16>(0.59 / 55000 * 1e7);
  EXPECT_EQ(derive(d).qc, qc_splash | qc_fall_speed);
  d.yscale_10k = static_cast<s16>(0.62 / 55000 * 1e7);
  EXPECT_EQ(derive(d).qc & qc_splash, 0);
  d.diam_100 = 610;  // a slow drop above 6 mm is no splash
  d.yscale_10k = static_cast<s16>(0.5 / 55000 * 1e7);
  EXPECT_EQ(derive(d).qc & qc_splash, 0);
}

TEST_F(drops, silhouettes_within_the_margin_of_a_line_end_are_near_the_edge) {
  test::drop_spec d = middle_drop();
  for (const auto& [a_first, b_first, margin, edge] :
       {std::tuple{0, 250, 1, true}, std::tuple{1, 250, 1, false}, std::tuple{250, 501, 1, true},
        std::tuple{250, 500, 1, false}, std::tuple{3, 250, 4, true}, std::tuple{4, 250, 4, false},
        std::tuple{250, 498, 4, true}}) {
    d.a = block(a_first, 10, 16);
    d.b = block(b_first, 10, 16);
    opt.edge_margin = margin;
    EXPECT_EQ((derive(d).qc & qc_edge) != 0, edge) << a_first << " " << b_first << " margin " << margin;
  }
}

TEST_F(drops, diameters_outside_0_1_to_10_mm_are_flagged) {
  test::drop_spec d = middle_drop();
  for (const auto& [diam_100, flagged] : {std::pair{9, true}, std::pair{10, false}, std::pair{999, false},
                                          std::pair{1000, true}, std::pair{0, true}}) {
    d.diam_100 = static_cast<s16>(diam_100);
    EXPECT_EQ((derive(d).qc & qc_diameter) != 0, flagged) << diam_100;
  }
}

TEST_F(drops, refuses_line_counts_outside_the_day_and_implausible_headers) {
  test::drop_spec d = middle_drop();
  for (double y : {-1.0, std::nan(""), 2 * 86400 * 55000.0, std::numeric_limits<double>::infinity()}) {
    d.y_first = y;
    EXPECT_THROW(derive(d), bad_record) << y;
  }
  drop_deriver dv(opt);
  for (double fr : {0.0, -55000.0, std::nan(""), 1e12}) {
    main_rec bad = h;
    bad.line_fr = fr;
    EXPECT_THROW(dv.accept_header(bad, 0), bad_record) << fr;
  }
  main_rec bad = h;
  bad.XSCALE0_1 = 0;
  EXPECT_THROW(dv.accept_header(bad, 0), bad_record);
  opt.edge_margin = 256;  // nothing of the line left
  drop_deriver wide(opt);
  EXPECT_THROW(wide.accept_header(h, 0), bad_record);
}

TEST(drop_columns, keep_values_to_their_decimals_and_give_the_decimal_back) {
  drop_columns c(1000);
  drop_values p;
  for (int i = 0; i < 1000; ++i) {
    const double t = i * 0.7311;
    p.d = 0.1 + std::fmod(t, 9.9);
    p.v = std::fmod(t * 1.3, 12);
    p.ratio = 0.5 + std::fmod(t, 0.8);
    p.w_a = p.w_b = p.h_a = p.h_b = std::fmod(t * 3.1, 40);
    p.x = std::fmod(t * 17.0, 97.0) - 48.5;
    p.y = -p.x;
    p.area = 9550 - std::fmod(t * 23, 2000);
    c.push(p);
    const double values[n_float] = {p.d, p.v, p.ratio, p.w_a, p.w_b, p.h_a, p.h_b, p.x, p.y, p.area};
    for (int k = 0; k < n_float; ++k) {
      const float stored = c.floats[static_cast<std::size_t>(k)][c.size() - 1];
      const double step = std::pow(10.0, -places_of[k]);
      EXPECT_NEAR(stored, values[k], 0.5 * step + 1e-6 * std::abs(values[k])) << k;
      EXPECT_EQ(scaled(stored, places_of[k]), scaled(values[k], places_of[k])) << k;
    }
  }
  EXPECT_EQ(c.size(), 1000u);
}

}  // namespace
}  // namespace dropix::products
