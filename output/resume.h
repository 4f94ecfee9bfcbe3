// Continuing an earlier run: what the .hyd file really holds, and where the pass restarts.
// The .hyd is the truth: the line up to which drops are on disk, the minute index, the length
// of the last record and the main headers written all come from its records.
#pragma once

#include <vector>

#include "common/diag.h"
#include "common/records.h"
#include "output/net_wr.h"

namespace dropix {

// What a .hyd file holds.
struct hyd_contents {
  std::vector<main_rec> headers;  // its main header records, in file order
  f64 last_drop_y = 0;            // y_first of its last drop record
  bool has_drops = false;
  s64 whole = 0;                  // length of its whole records; bytes after them are a cut record
  std::vector<u32> pos_pix;       // the minute index its drop records give, entry 0 set to 0
};

// Walks the .hyd records from offset 0 to wr.pix_end without changing the file. Takes from
// them the minute index the writer would have made and the length of the last whole record
// (wr.oldlen). A .hyd that holds something other than records ends the run.
hyd_contents walk_hyd(writer_state& wr, diagnostics& d);

// Cuts a record cut short at the end of .hyd off (a run killed while writing it), reporting it.
void cut_hyd_tail(writer_state& wr, const hyd_contents& h, diagnostics& d);

// Where both camera readers restart.
struct resume_point {
  s64 pos_a = 0;
  s64 pos_b = 0;
};

// Restart positions of both camera readers from the per-minute tables: the entry of the
// minute before the run of minutes, ending at the minute of `disk_y` (at line frequency
// `line_fr`), whose entries equal that minute's.
resume_point resume_positions(const raw_positions& pos, f64 disk_y, f64 line_fr, u32 lastpix_y, diagnostics& d);

// The restart position in one camera's table for minute m.
u32 resume_entry(const u32* bf, int m);

// Why a resume file's tables cannot be used, or null when they can: an entry beyond the raw
// file's length `raw_length`, or entries that do not grow with the minutes (each table is
// filled from minute 0 up to the last minute read, every entry at or after the one before).
const char* abh_fault(const raw_positions& pos, s64 raw_length);

}  // namespace dropix
