// Line timing: per-minute raw positions of each camera's blocks and the time-order check.
#pragma once

#include "common/dropix.h"

namespace dropix {

// Called after a decoded line block of camera `ident` (1 = A, 2 = B; other values do
// nothing) has been handed to piece assembly. Enters the block's raw offset for its minute
// (and the minutes skipped before it) and ends the run when a line count does not grow.
void line_time(s16 ident);

}  // namespace dropix
