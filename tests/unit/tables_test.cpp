// Calibration tables from "corrfact.dat".
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "control/tables.h"
#include "tests/support/fixture.h"

namespace dropix {
namespace {

using testing::corrfact_text;
using testing::dropix_test;
using testing::write_file;

using row_values = std::array<double, 10>;

const row_values diameters = {0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0, 4.5, 5.0};
constexpr row_values same(double p) { return {p, p, p, p, p, p, p, p, p, p}; }

// A fixed-column row: the label in columns 1-10, then ten fields of 7 characters.
std::string row(const char* label, const row_values& v) {
  char buf[16];
  std::string l = label;
  l.resize(10, ' ');
  for (double x : v) {
    std::snprintf(buf, sizeof buf, " %6.3f", x);
    l += buf;
  }
  return l + "\n";
}

std::string file_text(const row_values& ha, const row_values& hb = same(0),
                      const row_values& wa = same(0), const row_values& wb = same(0),
                      const row_values& d = diameters) {
  return "size errors of both cameras\n" + std::string("calibration diameters (mm)\n") +
         row("diameter", d) + "size error in percent\n" + row("height A", ha) + row("height B", hb) +
         row("width A", wa) + row("width B", wb);
}

bool same_tables(const corr_tables_rec& x, const corr_tables_rec& y) {
  return std::memcmp(&x, &y, sizeof x) == 0;
}

class tables_test : public dropix_test {
 public:
  bool calib = false;  // the /c switch
  void run_tables() { tables(corr_tables, calib, path("corrfact.dat"), diag); }
  // Runs tables(), which must end the run; returns what it printed on the console.
  std::string expect_quit() {
    const std::size_t before = host.out.size();
    EXPECT_QUITS(run_tables(), exit_status::failure);
    return host.out.substr(before);
  }
  std::string printed(void (tables_test::*f)()) {
    const std::size_t before = host.out.size();
    (this->*f)();
    return host.out.substr(before);
  }
};

// ---- with /c and from flat files ---------------------------------------------------------

TEST_F(tables_test, calib_gives_exactly_one_everywhere_without_reading_the_file) {
  calib = true;
  run_tables();  // no file at all
  write_file("corrfact.dat", corrfact_text(5.0));
  run_tables();  // a file that would change the factors
  for (int i = 0; i < n_corr; ++i) {
    ASSERT_EQ(corr_tables.height_a_fac[i], 1.0f);
    ASSERT_EQ(corr_tables.height_b_fac[i], 1.0f);
    ASSERT_EQ(corr_tables.width_a_fac[i], 1.0f);
    ASSERT_EQ(corr_tables.width_b_fac[i], 1.0f);
  }
  EXPECT_EQ(corr_tables.diameter[9], 0.0f);
  EXPECT_EQ(corr_tables.height_a_pct[0], 0.0f);
  EXPECT_EQ(err_text(), "");
}

TEST_F(tables_test, zero_percentages_give_exactly_one) {
  write_file("corrfact.dat", corrfact_text(0.0));
  run_tables();
  for (int i = 0; i < n_corr; ++i) {
    ASSERT_EQ(corr_tables.height_a_fac[i], 1.0f) << i;
    ASSERT_EQ(corr_tables.height_b_fac[i], 1.0f) << i;
    ASSERT_EQ(corr_tables.width_a_fac[i], 1.0f) << i;
    ASSERT_EQ(corr_tables.width_b_fac[i], 1.0f) << i;
  }
}

TEST_F(tables_test, a_constant_percentage_p_gives_one_over_one_plus_p_percent) {
  for (double p : {2.5, -4.0, 12.25}) {
    write_file("corrfact.dat", file_text(same(0), same(p), same(0), same(p)));
    run_tables();
    const f32 expected = static_cast<f32>(1.0 / (1.0 + p / 100.0));
    EXPECT_EQ(corr_tables.height_b_pct[3], static_cast<f32>(p));
    for (int i = 0; i < n_corr; ++i) {
      ASSERT_FLOAT_EQ(corr_tables.height_b_fac[i], expected) << p << " " << i;
      ASSERT_FLOAT_EQ(corr_tables.width_b_fac[i], expected) << p << " " << i;
      ASSERT_EQ(corr_tables.height_a_fac[i], 1.0f);
    }
  }
}

// ---- interpolation in measured sizes -----------------------------------------------------

TEST_F(tables_test, errors_are_interpolated_in_measured_sizes_and_extrapolated_below_the_first) {
  // m[0] = 0.5, m[1] = 1.1, then 1.1 d: the first segment runs from 0.5 to 1.1.
  write_file("corrfact.dat", file_text({0, 10, 10, 10, 10, 10, 10, 10, 10, 10}));
  run_tables();
  const f32* f = corr_tables.height_a_fac;
  EXPECT_FLOAT_EQ(f[0], 12.0f / 11);     // s = 0: q = 10 (0 - 0.5) / 0.6 = -25/3
  EXPECT_EQ(f[5], 1.0f);                 // s = m[0]: q = 0
  EXPECT_FLOAT_EQ(f[8], 1 / 1.05f);      // s = 0.8: q = 10 * 0.3 / 0.6 = 5
  EXPECT_FLOAT_EQ(f[11], 1 / 1.1f);      // s = m[1]: q = p[1]
  EXPECT_FLOAT_EQ(f[30], 1 / 1.1f);
}

TEST_F(tables_test, a_size_equal_to_the_last_measured_size_ends_the_table) {
  // m[8] = 1.1 * 4.5 = 4.95 and m[9] = 5.0: entry 50 (s = 5.0) is not computed from p[9] = 0
  // but carries entry 49, which lies in the segment where the error is 10 percent.
  write_file("corrfact.dat", file_text({10, 10, 10, 10, 10, 10, 10, 10, 10, 0}));
  run_tables();
  const f32* f = corr_tables.height_a_fac;
  EXPECT_FLOAT_EQ(f[49], 1 / 1.1f);
  EXPECT_EQ(f[50], f[49]);
  EXPECT_EQ(f[511], f[49]);
}

TEST_F(tables_test, entries_above_the_last_calibration_point_keep_the_last_factor_computed) {
  // m[9] = 1.09 * 5 = 5.45: entries 0..54 are computed, 55..511 copy entry 54.
  write_file("corrfact.dat", file_text({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  run_tables();
  const f32* f = corr_tables.height_a_fac;
  EXPECT_NE(f[54], f[53]);
  EXPECT_NE(f[54], static_cast<f32>(1 / 1.09));  // not the last calibration point's factor
  for (int i = 55; i < n_corr; ++i) ASSERT_EQ(f[i], f[54]) << i;
}

// ---- the file's columns and lines --------------------------------------------------------

TEST_F(tables_test, a_label_longer_than_ten_characters_spoils_the_first_value) {
  std::string text = file_text(same(2.5));
  const std::size_t at = text.find("height A  ");
  text.replace(at, 11, "height A 17");  // its last character lands in the first value field
  write_file("corrfact.dat", text);
  run_tables();
  EXPECT_EQ(corr_tables.height_a_pct[0], 7.0f);  // "7  2.500" read from column 11
  EXPECT_EQ(corr_tables.height_a_pct[1], 2.5f);
  EXPECT_EQ(corr_tables.height_a_pct[9], 2.5f);
}

TEST_F(tables_test, a_value_is_read_after_its_blanks_from_at_most_six_characters) {
  std::string ha = row("height A", same(1.0));
  ha.replace(10, 7, " +2.500");
  ha.replace(73, 7, "1234567");
  write_file("corrfact.dat", "t\nh\n" + row("diameter", diameters) + "h\n" + ha +
                                 row("height B", same(0)) + row("width A", same(0)) +
                                 row("width B", same(0)));
  run_tables();
  EXPECT_EQ(corr_tables.height_a_pct[0], 2.5f);
  EXPECT_EQ(corr_tables.height_a_pct[1], 1.0f);
  EXPECT_EQ(corr_tables.height_a_pct[9], 123456.0f);
}

TEST_F(tables_test, a_value_that_is_no_finite_number_refuses_the_file_naming_its_line) {
  for (const char* bad : {"   ab  ", "    nan", "   -inf", " 1e999 "}) {
    SCOPED_TRACE(bad);
    std::string ha = row("height A", same(1.0));
    ha.replace(66, 7, bad);
    write_file("corrfact.dat", "t\nh\n" + row("diameter", diameters) + "h\n" + ha + row("height B", same(0)) +
                                   row("width A", same(0)) + row("width B", same(0)));
    expect_quit();
    EXPECT_NE(err_text().find("corrfact.dat line 5: value 9 ("), std::string::npos) << bad << ": " << err_text();
  }
  // A row that ends after nine values.
  std::string short_row = row("width B", same(0));
  short_row.resize(73);
  write_file("corrfact.dat", "t\nh\n" + row("diameter", diameters) + "h\n" + row("height A", same(0)) +
                                 row("height B", same(0)) + row("width A", same(0)) + short_row + "\n");
  expect_quit();
  EXPECT_NE(err_text().find("corrfact.dat line 8: value 10 (\"\") is not a number"), std::string::npos) << err_text();
  // In the diameter row too.
  std::string d = row("diameter", diameters);
  d.replace(10, 7, "    nan");
  write_file("corrfact.dat", "t\nh\n" + d + "h\n" + row("height A", same(0)) + row("height B", same(0)) +
                                 row("width A", same(0)) + row("width B", same(0)));
  expect_quit();
  EXPECT_NE(err_text().find("corrfact.dat line 3: value 1 (\"    nan\") is not a number: the correction file is refused"),
            std::string::npos)
      << err_text();
}

TEST_F(tables_test, lines_after_the_eighth_have_no_effect) {
  write_file("corrfact.dat", file_text(same(2.5)));
  run_tables();
  const corr_tables_rec plain = corr_tables;
  write_file("corrfact.dat", file_text(same(2.5)) + row("height A", same(50)) + "junk\n");
  run_tables();
  EXPECT_TRUE(same_tables(corr_tables, plain));
}

TEST_F(tables_test, a_read_takes_at_most_98_characters_with_the_line_end) {
  const std::string rest = file_text(same(2.5)).substr(file_text(same(2.5)).find('\n') + 1);
  write_file("corrfact.dat", file_text(same(2.5)));
  run_tables();
  const corr_tables_rec plain = corr_tables;

  write_file("corrfact.dat", std::string(97, 'T') + "\n" + rest);  // one read
  run_tables();
  EXPECT_TRUE(same_tables(corr_tables, plain));

  // 98 characters fill the read; the line end is read as line 2, every row moves down by
  // one, and the heading above the diameters is taken for them.
  write_file("corrfact.dat", std::string(98, 'T') + "\n" + rest);
  expect_quit();
  EXPECT_NE(err_text().find("corrfact.dat line 3: value 1"), std::string::npos) << err_text();
}

// ---- failures ----------------------------------------------------------------------------

TEST_F(tables_test, a_missing_file_ends_the_run) {
  const std::string out = expect_quit();
  EXPECT_EQ(out.rfind("could not open corrfact.dat \n", 0), 0u) << out;
  EXPECT_EQ(err_text(), "tables01: No such file or directory\n");
}

TEST_F(tables_test, a_file_cut_short_is_refused_naming_the_missing_line) {
  std::string text = file_text(same(2.5), same(2.5), same(2.5), same(2.5));
  text.resize(text.find("width A"));  // six lines
  write_file("corrfact.dat", text);
  expect_quit();
  EXPECT_EQ(err_text(), "tables07: unexpected end of data\ncorrfact.dat ends before line 7 of 8: the correction file is refused\n");
}

TEST_F(tables_test, measured_sizes_that_do_not_increase_end_the_run_naming_the_row) {
  // Camera B's height row: m[3] = 1.25 * 2.0 = 2.5 = m[4] = 1.0 * 2.5.
  write_file("corrfact.dat", file_text(same(0), {0, 0, 0, 25, 0, 0, 0, 0, 0, 0}));
  expect_quit();
  EXPECT_EQ(err_text(), "tables: the measured sizes of row \"height B\" in corrfact.dat do not increase \n");
}

TEST_F(tables_test, a_last_measured_size_at_or_below_zero_ends_the_run) {
  write_file("corrfact.dat", file_text(same(0), same(0), same(0), same(0),
                                       {-5.0, -4.5, -4.0, -3.5, -3.0, -2.5, -2.0, -1.5, -1.0, -0.5}));
  expect_quit();
  EXPECT_EQ(err_text(), "tables: the measured sizes of row \"height A\" in corrfact.dat do not increase \n");
}

// ---- trace -------------------------------------------------------------------------------

TEST_F(tables_test, trace_lists_the_rows_and_every_entry) {
  diag.trace_flag = 1;
  write_file("corrfact.dat", file_text(same(2.5)));
  const std::string out = printed(&tables_test::run_tables);
  const std::string head =
      "tables: calib=0 \n"
      "Correction factors in percent for relative threshold\n"
      "diameter: 0.500000, 1.000000, 1.500000, 2.000000, 2.500000, 3.000000, 3.500000, "
      "4.000000, 4.500000, 5.000000\n"
      "height A: 2.500000, 2.500000, 2.500000, 2.500000, 2.500000, 2.500000, 2.500000, "
      "2.500000, 2.500000, 2.500000\n";
  EXPECT_EQ(out.substr(0, head.size()), head);
  EXPECT_NE(out.find("\nwidth A : 0.000000, "), std::string::npos);
  EXPECT_NE(out.find("\nwidth B : 0.000000, "), std::string::npos);
  EXPECT_NE(out.find("\n0 0.975610 1.000000 1.000000 1.000000 0.987805 \n"), std::string::npos);
  const std::string last = "\n511 0.975610 1.000000 1.000000 1.000000 0.987805 \n";
  EXPECT_EQ(out.substr(out.size() - last.size()), last);
}

TEST_F(tables_test, trace_with_calib_is_one_line) {
  diag.trace_flag = 1;
  calib = true;
  EXPECT_EQ(printed(&tables_test::run_tables), "tables: calib=1 \n");
}

}  // namespace
}  // namespace dropix
