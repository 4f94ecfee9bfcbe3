// The two configuration texts a DROPIX run reads from its directory, written the one way the
// tests, the simulator, the fuzzers and the benchmarks all use.
#pragma once

#include <string>

namespace dropix::rawkit {

// "DROPIX.SET": each key at the start of its line with a short description, its value from
// column 61 on. Directories are written as given (an empty one means the run's directory).
std::string settings_text(const std::string& hyd_path, const std::string& raw_path);

// "corrfact.dat" with calibration diameters 0.5 .. 5.0 mm and the same size error `pct`
// (percent) in every row; 0 gives factors of exactly 1.
std::string corrfact_text(double pct = 0.0);

// Writes `text` to `path`; false when the file cannot be written.
bool write_text(const std::string& path, const std::string& text);

}  // namespace dropix::rawkit
