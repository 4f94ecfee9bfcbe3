// The three output files of a raw file: .hyd (records), .hd (minute index and headers) and
// .abh (resume positions); created, or read back to continue a run.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/diag.h"
#include "common/records.h"
#include "output/net_wr.h"

namespace dropix {

struct pixfil_request {
  std::string hyd_path;  // directory of .hyd and .hd (with separator unless empty)
  std::string raw_path;  // directory of .abh
  std::string mp_nam;    // the raw file, as the command line names it
  std::optional<s64> raw_length;  // its length: resume positions beyond it cannot be the raw file's
  std::optional<u32> raw_first_header;  // valid_since of the raw file's first main header
};

struct pixfil_result {
  bool resume_tables = false;    // .abh was there and its tables hold: the pass restarts near the last drop
  std::vector<main_rec> stored;  // the main headers written so far, in file order
};

// Names the output files after the raw file (.hyd and .hd in hyd_path, .abh in raw_path),
// takes the lock of the output set, and opens or creates the files. Continuing an earlier run
// it takes what .hyd holds as the truth: the minute index, the last record's length, the main
// headers and the line up to which drops are on disk (wr.disk_y, and lastpix_y with it); .hd
// is brought in line with .hyd (headers beyond those of .hyd cut off, missing ones written
// again) and an .abh whose tables cannot hold is rebuilt from the start of the raw file.
// Ends the run when the outputs are being written by another run, belong to another
// recording, or cannot be opened, created or repaired; files it created are then removed.
pixfil_result pixfil(writer_state& wr, raw_positions& pos, const pixfil_request& req, diagnostics& d);

}  // namespace dropix
