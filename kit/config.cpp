#include "kit/config.h"

#include <cstdio>

namespace dropix::rawkit {

namespace {
constexpr std::size_t value_column = 60;

std::string settings_line(std::string key_and_note, const std::string& value) {
  key_and_note.resize(value_column, ' ');
  return key_and_note + value + "\n";
}

// A row of the correction file: label in columns 1-10, value k in the seven columns from
// column 11 + 7k.
template <class F>
std::string corr_row(const char* label, F value) {
  std::string l = label;
  l.resize(10, ' ');
  char buf[16];
  for (int k = 0; k < 10; ++k) {
    std::snprintf(buf, sizeof buf, " %6.2f", value(k));
    l += buf;
  }
  return l + "\n";
}
}  // namespace

std::string settings_text(const std::string& hyd_path, const std::string& raw_path) {
  return settings_line("HYD_PATH   directory of the .hyd and .hd files", hyd_path) +
         settings_line("RAW_PATH   directory of the .abh resume file", raw_path);
}

std::string corrfact_text(double pct) {
  const auto same = [pct](int) { return pct; };
  return "correction factors\n"
         "diameters in mm\n" +
         corr_row("diam.", [](int k) { return 0.5 * (k + 1); }) + "size error in percent\n" +
         corr_row("height A", same) + corr_row("height B", same) + corr_row("width A", same) +
         corr_row("width B", same);
}

bool write_text(const std::string& path, const std::string& text) {
  std::FILE* fp = std::fopen(path.c_str(), "wb");
  if (!fp) return false;
  const bool ok = text.empty() || std::fwrite(text.data(), 1, text.size(), fp) == text.size();
  return std::fclose(fp) == 0 && ok;
}

}  // namespace dropix::rawkit
