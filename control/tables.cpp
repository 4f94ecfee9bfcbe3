#include "control/tables.h"

#include <cctype>
#include <cmath>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/files.h"

namespace dropix {

namespace {

constexpr const char* corr_name = "corrfact.dat";
constexpr int corr_lines = 8;      // lines read; anything after them is ignored
constexpr int line_limit = 98;     // characters per read; a longer line goes on in the next read
constexpr int label_cols = 10;     // columns 1-10 hold the row's label
constexpr int field_cols = 7;      // value k starts at column 11 + 7k
constexpr int number_chars = 6;    // a value is read from at most 6 characters
constexpr int n_points = 10;       // calibration diameters per row

// One value of a fixed-column row: from the text at `at`, skip blanks, then read a decimal
// number from at most six characters. Returns false (and leaves `out` alone) when there is
// no number there.
bool parse_value(const char* text, std::size_t at, f32& out) {
  if (at >= std::strlen(text)) return false;
  const char* p = text + at;
  while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
  char field[number_chars + 1] = {};
  for (int i = 0; i < number_chars && p[i]; ++i) field[i] = p[i];
  // An optional sign, then a digit or a decimal point: decimal numbers only, no "inf",
  // "nan" or hexadecimal forms. from_chars takes a minus sign only.
  const bool plus = field[0] == '+';
  const char* first = plus ? field + 1 : field;
  const char lead = (!plus && first[0] == '-') ? first[1] : first[0];
  if (!std::isdigit(static_cast<unsigned char>(lead)) && lead != '.') return false;
  f32 v = 0;
  const auto [end, ec] = std::from_chars(first, field + std::strlen(field), v);
  if (ec != std::errc{} || end == first) return false;
  out = v;
  return true;
}

// Row k of the file: the label is skipped, the ten values sit at fixed columns. A value that
// is no finite number ends the run, naming the line: a calibration read wrongly would change
// every drop's size without a word.
void parse_row(const char* text, int line_no, f32 (&row)[n_points], diagnostics& d) {
  for (int k = 0; k < n_points; ++k) {
    const std::size_t at = label_cols + field_cols * static_cast<std::size_t>(k);
    if (!parse_value(text, at, row[k]) || !std::isfinite(row[k])) {
      std::string field = at < std::strlen(text) ? std::string(text + at).substr(0, field_cols) : std::string();
      while (!field.empty() && (field.back() == '\n' || field.back() == '\r')) field.pop_back();
      fail(d, "%s line %d: value %d (\"%s\") is not a number: the correction file is refused\n", corr_name, line_no,
           k + 1, field.c_str());
    }
  }
}

// Reads the first eight lines of the open file into the diameter and percentage rows. A
// missing line ends the run: the file is cut short.
void read_rows(corr_tables_rec& corr_tables, std::FILE* fp, diagnostics& d) {
  f32 (*const rows[corr_lines])[n_points] = {
      nullptr, nullptr, &corr_tables.diameter, nullptr, &corr_tables.height_a_pct,
      &corr_tables.height_b_pct, &corr_tables.width_a_pct, &corr_tables.width_b_pct};
  char line[line_limit + 1];
  for (int n = 0; n < corr_lines; ++n) {
    errno = 0;
    if (!std::fgets(line, sizeof line, fp)) {
      char tag[16];
      std::snprintf(tag, sizeof tag, "tables%02d", n + 1);
      report_errno(d, tag);
      fail(d, "%s ends before line %d of 8: the correction file is refused\n", corr_name, n + 1);
    }
    if (rows[n]) parse_row(line, n + 1, *rows[n], d);
  }
}

void trace_row(diagnostics& d, const char* label, const f32 (&row)[n_points]) {
  hprintf(d, label);
  for (int k = 0; k < n_points - 1; ++k) hprintf(d, "%f, ", row[k]);
  hprintf(d, "%f\n", row[n_points - 1]);
}

// One factor table from a percentage row p and the diameter row d. A camera that sees a
// drop of diameter d[k] as p[k] percent too large measures m[k] = (1 + p[k]/100) d[k]; the
// error at a measured size s is interpolated linearly between the m[k], and the factor
// 1 / (1 + error/100) brings the measured size back to the true one. Above the last
// calibration point the factor stays constant. Ends the run when the measured sizes do not
// strictly increase (a segment of zero length has no slope).
void build_factors(const char* name, const f32 (&p)[n_points], const f32 (&d)[n_points],
                   f32 (&fac)[n_corr], diagnostics& dg) {
  f32 m[n_points];
  for (int k = 0; k < n_points; ++k) m[k] = static_cast<f32>((p[k] * 0.01 + 1) * d[k]);
  bool increasing = m[n_points - 1] > 0;
  for (int k = 1; k < n_points; ++k) increasing = increasing && m[k - 1] < m[k];
  if (!increasing)
    fail(dg, "tables: the measured sizes of row \"%s\" in %s do not increase \n", name, corr_name);

  int last = -1;
  for (int i = 0; i < n_corr; ++i) {
    const f32 s = static_cast<f32>(i * 0.1);
    if (s >= m[n_points - 1]) break;
    int j = 1;
    while (s > m[j]) ++j;
    const f32 q = static_cast<f32>(p[j - 1] + (static_cast<f64>(p[j]) - p[j - 1]) *
                                                  (static_cast<f64>(s) - m[j - 1]) /
                                                  (static_cast<f64>(m[j]) - m[j - 1]));
    fac[i] = static_cast<f32>(1 / (q * 0.01 + 1));
    last = i;
  }
  for (int i = last + 1; i < n_corr; ++i) fac[i] = fac[last];
}

}  // namespace

void tables(corr_tables_rec& corr_tables, bool calib, const std::string& path, diagnostics& d) {
  hprintf(d, "tables: calib=%d \n", static_cast<int>(calib));
  corr_tables = {};
  if (calib) {
    for (int i = 0; i < n_corr; ++i) {
      corr_tables.height_a_fac[i] = corr_tables.height_b_fac[i] = 1.0f;
      corr_tables.width_a_fac[i] = corr_tables.width_b_fac[i] = 1.0f;
    }
    return;
  }

  std::FILE* fp = std::fopen(path.c_str(), "r");
  if (!fp) {
    const int e = errno;
    if (d.out) screen_printf(*d.out, "could not open %s \n", corr_name);
    errno = e;
    report_errno(d, "tables01");
    quit(exit_status::failure);
  }
  {
    const unique_file owned(fp);  // closed on every way out of the reading
    read_rows(corr_tables, fp, d);
  }

  auto& t = corr_tables;
  hprintf(d, "Correction factors in percent for relative threshold\n");
  trace_row(d, "diameter: ", t.diameter);
  trace_row(d, "height A: ", t.height_a_pct);
  trace_row(d, "height B: ", t.height_b_pct);
  trace_row(d, "width A : ", t.width_a_pct);
  trace_row(d, "width B : ", t.width_b_pct);

  build_factors("height A", t.height_a_pct, t.diameter, t.height_a_fac, d);
  build_factors("height B", t.height_b_pct, t.diameter, t.height_b_fac, d);
  build_factors("width A", t.width_a_pct, t.diameter, t.width_a_fac, d);
  build_factors("width B", t.width_b_pct, t.diameter, t.width_b_fac, d);

  for (int i = 0; i < n_corr; ++i)
    hprintf(d, "%d %f %f %f %f %f \n", i, t.height_a_fac[i], t.height_b_fac[i], t.width_a_fac[i],
            t.width_b_fac[i], (static_cast<f64>(t.height_a_fac[i]) + t.height_b_fac[i]) * 0.5);
}

}  // namespace dropix
