// Continuing an earlier run: what the .hyd file really holds, and where the pass restarts.
#pragma once

#include <vector>

#include "common/diag.h"
#include "common/records.h"
#include "output/net_wr.h"

namespace dropix {

// Walks the .hyd records from offset 0 to the end. Takes from them the line up to which
// drops are on disk (wr.disk_y), the length of the last whole record (wr.oldlen) and the
// minute index entries the writer would have set (wr.pos_pix, wr.last_minute). A record cut
// short at the end is reported and cut off; main headers stored in .hd (`stored`, in file
// order) but missing at the end of .hyd are appended to it. A .hyd that holds something other
// than records ends the run.
void walk_hyd(writer_state& wr, const std::vector<main_rec>& stored, diagnostics& d);

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

}  // namespace dropix
