// The terminal-speed laws against measured terminal speeds and the standard atmosphere
// against its published table.
#include <gtest/gtest.h>

#include <cmath>

#include "products/fall_speed.h"

namespace dropix::products {
namespace {

// Gunn and Kinzer (1949), J. Meteor. 6, 243, Table 2: terminal speeds of water drops in
// stagnant air at 1013 hPa and 20 C (diameter mm, speed m/s).
struct measured {
  double d, v;
};
constexpr measured gunn_kinzer[] = {{0.5, 2.06}, {0.6, 2.47}, {0.8, 3.27}, {1.0, 4.03}, {1.2, 4.64}, {1.4, 5.17},
                                    {1.6, 5.65}, {2.0, 6.49}, {2.4, 7.27}, {3.0, 8.06}, {3.4, 8.44}, {4.0, 8.83},
                                    {4.4, 8.98}, {5.0, 9.09}, {5.4, 9.14}, {5.8, 9.17}};

TEST(fall_speed, atlas_follows_the_measured_speeds_within_5_percent) {
  for (const measured& m : gunn_kinzer) EXPECT_NEAR(atlas_1973(m.d), m.v, 0.05 * m.v) << "D = " << m.d;
}

TEST(fall_speed, beard_follows_the_measured_speeds_within_3_percent_in_their_air) {
  const atmosphere air = air_at(293.15, 101325.0);
  for (const measured& m : gunn_kinzer) EXPECT_NEAR(beard_1976(m.d, air), m.v, 0.03 * m.v) << "D = " << m.d;
}

TEST(fall_speed, beard_is_continuous_where_its_regimes_meet) {
  const atmosphere air = standard_atmosphere(0);
  EXPECT_NEAR(beard_1976(1.0699, air), beard_1976(1.0701, air), 0.02 * beard_1976(1.07, air));
  EXPECT_NEAR(beard_1976(0.01899, air), beard_1976(0.01901, air), 0.02 * beard_1976(0.019, air));
}

TEST(fall_speed, beard_grows_with_size_levels_off_near_6_mm_and_stops_at_7_mm) {
  const atmosphere air = standard_atmosphere(0);
  double last = 0;
  for (double d = 0.05; d <= 5.5; d += 0.05) {
    const double v = beard_1976(d, air);
    EXPECT_GT(v, last) << "D = " << d;
    last = v;
  }
  for (double d = 5.5; d <= 7.0; d += 0.05) EXPECT_NEAR(beard_1976(d, air), last, 0.005 * last) << "D = " << d;
  EXPECT_DOUBLE_EQ(beard_1976(9.0, air), beard_1976(7.0, air));
  EXPECT_EQ(beard_1976(0.0, air), 0.0);
  EXPECT_EQ(beard_1976(-1.0, air), 0.0);
}

TEST(fall_speed, beard_in_thin_air_is_faster_by_a_power_of_the_density_ratio) {
  // v / v0 = (rho0 / rho)^m: Foote and du Toit (1969), J. Appl. Meteor. 8, 249, fit m = 0.4;
  // the exponent grows with size, from below 0.4 for small drops towards 0.5 for large ones.
  const atmosphere sea = standard_atmosphere(0), high = standard_atmosphere(3000);
  const double density_ratio = sea.air_density / high.air_density;
  double last = 0;
  for (double d : {0.5, 1.0, 2.0, 3.0, 4.0, 6.0}) {
    const double m = std::log(beard_1976(d, high) / beard_1976(d, sea)) / std::log(density_ratio);
    EXPECT_GT(m, 0.35) << "D = " << d;
    EXPECT_LT(m, 0.55) << "D = " << d;
    EXPECT_GT(m, last) << "D = " << d;
    last = m;
  }
}

TEST(standard_atmosphere, matches_the_published_table) {
  // ICAO standard atmosphere (1993): altitude m, temperature K, pressure Pa, density kg m-3.
  struct row {
    double h, t, p, rho;
  };
  for (const row& r : {row{0, 288.15, 101325.0, 1.2250}, row{1000, 281.65, 89874.6, 1.1117},
                       row{3000, 268.65, 70108.5, 0.9093}, row{5000, 255.65, 54019.9, 0.7364}}) {
    const atmosphere a = standard_atmosphere(r.h);
    EXPECT_NEAR(a.temperature_k, r.t, 0.01) << r.h;
    EXPECT_NEAR(a.pressure_pa, r.p, 2.0) << r.h;
    EXPECT_NEAR(a.air_density, r.rho, 1e-3) << r.h;
  }
  // Dynamic viscosity at sea level: 1.7894e-5 Pa s.
  EXPECT_NEAR(standard_atmosphere(0).air_viscosity, 1.7894e-5, 1e-8);
}

TEST(fall_speed, laws_are_named_on_the_command_line_as_atlas_and_beard) {
  speed_law law = speed_law::beard_1976;
  EXPECT_TRUE(parse_speed_law("atlas", &law));
  EXPECT_EQ(law, speed_law::atlas_1973);
  EXPECT_TRUE(parse_speed_law("beard", &law));
  EXPECT_EQ(law, speed_law::beard_1976);
  EXPECT_FALSE(parse_speed_law("Atlas", &law));
  EXPECT_FALSE(parse_speed_law("", &law));
  EXPECT_EQ(law, speed_law::beard_1976);
  const terminal_speed atlas(speed_law::atlas_1973, standard_atmosphere(2000));
  EXPECT_EQ(atlas(2.0), atlas_1973(2.0));  // the atmosphere plays no part in Atlas's law
}

}  // namespace
}  // namespace dropix::products
