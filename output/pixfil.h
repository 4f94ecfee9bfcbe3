// The three output files of a raw file: .hyd (records), .hd (minute index and headers) and
// .abh (resume positions); created, or read back to continue a run.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/diag.h"
#include "common/records.h"
#include "output/net_wr.h"

namespace dropix {

struct pixfil_result {
  bool abh_exist = false;        // .abh was there: the run continues an earlier one
  std::vector<main_rec> stored;  // the main headers stored in .hd, in file order
};

// Names the output files after the raw file `mp_nam` (.hyd and .hd in `hyd_path`, .abh in
// `raw_path`), opens or creates them and restores the writer state of an earlier run: the
// minute index, the resume tables `pos` and, from what .hyd really holds, the line up to
// which drops are on disk. Each main header stored in .hd is handed to `replay` in file
// order before .hyd is walked. An output file that cannot be opened or created ends the run.
pixfil_result pixfil(writer_state& wr, raw_positions& pos, const std::string& hyd_path, const std::string& raw_path,
                     const std::string& mp_nam, const std::function<void(const main_rec&)>& replay, diagnostics& d);

}  // namespace dropix
