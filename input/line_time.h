// Line timing: per-minute raw positions of each camera's blocks and the time-order check.
#pragma once

#include "common/diag.h"
#include "common/records.h"
#include "input/blocks.h"

namespace dropix {

struct timing_state {
  raw_positions pos;  // raw offset of each camera's first block per minute (stored in .abh)
  s16 minut_a = -1;   // highest minute entered per camera
  s16 minut_b = -1;
  f64 old_a = 0;      // highest line count seen per camera
  f64 old_b = 0;
};

// Called after a decoded line block `blk` of camera `ident` (1 = A, 2 = B; other values do
// nothing), which begins at raw offset `prev`, has been handed to piece assembly. Enters the
// block's offset for its minute at line frequency `line_fr` (and for the minutes skipped
// before it), and ends the run when a line count does not grow. The pass state is read for
// the trace only.
void line_time(timing_state& timing, const line_blk_rec& blk, s16 ident, s64 prev, f64 line_fr,
               const mp_state& mp, diagnostics& d);

}  // namespace dropix
