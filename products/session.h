// One run of dropix-products: the options, the files to process, the streams it reports to
// and the temporary files in flight. main() builds one from the command line and maps the
// result of run() to the exit status; nothing here ends the process.
#pragma once

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "products/drops.h"
#include "products/staged.h"
#include "products/station.h"

namespace dropix::products {

struct run_options {
  std::vector<std::string> inputs;  // .hyd files
  std::string out_dir;              // empty: beside each .hyd
  int interval_s = 60;              // DSD interval, dividing a day, 10 .. 3600
  std::string station_path;         // empty: no station metadata
  qc_options qc;
  bool csv = true, drops_nc = true, dsd_nc = true;  // products to write
  bool summary = true;              // console summary
  bool need_hd = true;              // a missing .hd is an error
  std::string version;              // of the program
  std::string command_line;         // for the history attribute
};

// What one run saw, over all its files.
struct run_totals {
  int files_ok = 0, files_failed = 0;
  u64 drops = 0, used = 0;
  std::array<u64, 4> flagged{};  // per qc bit, in qc_bits order
  u64 flagged_any = 0;
  std::optional<s64> first_ms, last_ms;  // earliest and latest drop
  double rain_mm = 0;
  double peak_rate = 0;  // mm/h over one minute
  s64 peak_minute_s = 0;  // start of that minute, s since 1970
  std::vector<std::string> written;  // product files
};

// The three product paths of a .hyd: beside it, or in out_dir.
struct product_paths {
  std::string csv, drops_nc, dsd_nc, hd;
};
product_paths paths_for(const std::string& hyd, const std::string& out_dir);

class session {
 public:
  session(run_options o, std::FILE* out, std::FILE* err, temp_registry* temps)
      : opt_(std::move(o)), out_(out), err_(err), temps_(temps) {}

  // Processes every input; a file that fails is reported on the error stream and leaves no
  // output, and the others go on. Returns 0 when all succeeded, 1 otherwise.
  int run();
  const run_totals& totals() const { return totals_; }

 private:
  void process(const std::string& hyd, const station* site);
  void print_summary() const;

  run_options opt_;
  std::FILE* out_;
  std::FILE* err_;
  temp_registry* temps_;
  run_totals totals_;
};

}  // namespace dropix::products
