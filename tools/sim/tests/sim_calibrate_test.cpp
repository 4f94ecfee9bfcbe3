// Calibration with precision spheres and the correction file it writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "tools/sim/calibrate.h"
#include "tools/sim/optics.h"

namespace dropix::sim {
namespace {

const hd_par h = instrument_header(0, 55000.0);

// Value k of a correction-file row: from column 11 + 7k, blanks skipped, at most 6 characters.
double field(const std::string& row, int k) {
  std::size_t at = 10 + 7 * static_cast<std::size_t>(k);
  while (at < row.size() && row[at] == ' ') ++at;
  return std::strtod(row.substr(at, 6).c_str(), nullptr);
}

TEST(sim_calibration, measures_silhouettes_as_the_evaluation_does) {
  // Camera A: 5 lines at the centre, widest piece 10 pixels; camera B: 5 lines 100 lines
  // later (first and last), 9 pixels wide, centred 20 pixels right of gate1.
  std::vector<mark> a, b;
  for (std::uint64_t k = 0; k < 5; ++k) {
    a.push_back({1000 + k, static_cast<s16>(k == 2 ? 251 : 252), static_cast<s16>(k == 2 ? 261 : 260)});
    b.push_back({1100 + k, 272, 281});
  }
  const auto m = measure(h, a, b);
  ASSERT_TRUE(m.has_value());
  // off_a = (251 + 261) / 2 - 256 = 0, off_b = (272 + 281) / 2 - 256 = 20.
  const double xs_a = h.XSCALE0_1 * (h.L0_1 - h.XSCALE0_2 * 20.0) / h.L0_1;
  EXPECT_NEAR(m->width_a, 10 * xs_a, 1e-9);
  EXPECT_NEAR(m->width_b, 9 * h.XSCALE0_2, 1e-6);
  const double yscale = plane_distance(h, 256.0, 276.5) * 2.0 / 200.0;
  EXPECT_NEAR(m->height_a, 5 * yscale, 1e-9);
  EXPECT_NEAR(m->height_b, 5 * yscale, 1e-9);
  EXPECT_FALSE(measure(h, a, {}).has_value());
}

TEST(sim_calibration, size_errors_are_the_pixel_loss_of_the_shading_rule) {
  rng r(1);
  const std::vector<calibration_point> p = calibrate(h, 200, r);
  ASSERT_EQ(p.size(), 10u);
  for (std::size_t k = 0; k < p.size(); ++k) {
    EXPECT_EQ(p[k].d, calibration_diameters[k]);
    // Widths lose one pixel (last - first of the pixels whose centres the shadow holds).
    if (p[k].d >= 1.0) {
      EXPECT_NEAR(p[k].width_a, -100.0 * h.XSCALE0_1 / p[k].d, 1.5) << p[k].d;
      EXPECT_NEAR(p[k].width_b, -100.0 * h.XSCALE0_2 / p[k].d, 1.5) << p[k].d;
      // Heights: lines times fall per line, nearly unbiased.
      EXPECT_NEAR(p[k].height_a, 0.0, 1.5) << p[k].d;
      EXPECT_NEAR(p[k].height_b, 0.0, 1.5) << p[k].d;
    }
    // The program interpolates in measured sizes, which must grow with the diameter.
    if (k > 0) {
      for (double calibration_point::*f : {&calibration_point::height_a, &calibration_point::height_b,
                                           &calibration_point::width_a, &calibration_point::width_b})
        EXPECT_GT((1 + p[k].*f / 100) * p[k].d, (1 + p[k - 1].*f / 100) * p[k - 1].d) << k;
    }
  }
}

TEST(sim_calibration, correction_file_has_eight_fixed_column_lines) {
  std::vector<calibration_point> p;
  for (int k = 0; k < 10; ++k) p.push_back({calibration_diameters[k], 0.5 * k, -1.25, -48.37 + k, -99.99});
  const std::string text = corrfact_text(p);
  std::istringstream in(text);
  std::vector<std::string> rows;
  for (std::string l; std::getline(in, l);) rows.push_back(l);
  ASSERT_EQ(rows.size(), 8u);
  for (int k = 0; k < 10; ++k) {
    EXPECT_DOUBLE_EQ(field(rows[2], k), calibration_diameters[k]);
    EXPECT_DOUBLE_EQ(field(rows[4], k), 0.5 * k);
    EXPECT_DOUBLE_EQ(field(rows[5], k), -1.25);
    EXPECT_DOUBLE_EQ(field(rows[6], k), -48.37 + k);
    EXPECT_DOUBLE_EQ(field(rows[7], k), -99.99);
  }
  for (int row : {2, 4, 5, 6, 7}) {
    EXPECT_EQ(rows[static_cast<std::size_t>(row)].size(), 80u);
    EXPECT_EQ(rows[static_cast<std::size_t>(row)][10], ' ');  // the label stays in columns 1-10
  }
  EXPECT_EQ(rows[4].substr(0, 8), "height A");
  EXPECT_EQ(rows[7].substr(0, 7), "width B");
}

}  // namespace
}  // namespace dropix::sim
