// Opening the raw file and the day number of its name.
#pragma once

#include <string>

#include "common/diag.h"
#include "platform/files.h"
#include "platform/raw_reader.h"

namespace dropix {

// The raw file of a run.
struct raw_state {
  unique_file raw_fp;   // opened for binary reading, unbuffered: the readers keep windows
  std::string mp_nam;   // path as given on the command line
  s32 raw_day = 0;      // year * 1000 + day of year, from the file name
  s32 pix_day = 0;      // the day as the output side knows it (trace only)
  raw_window win_a;     // camera A reader
  raw_window win_b;     // camera B reader
};

// Opens the raw file `raw_arg` (found at `open_path`) for binary reading and takes the day
// number from its base name `raw_base`; a file that cannot be opened ends the run.
void rawfil(raw_state& raw, const std::string& raw_arg, const std::string& raw_base,
            const std::string& open_path, diagnostics& d);

// year * 1000 + day of year from a base name like V02310_1.AB (characters 2-3 and 4-6,
// each read as digits up to the first non-digit).
s32 day_number(const std::string& base);

}  // namespace dropix
