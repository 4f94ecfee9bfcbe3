// The processing pass. Each pass lets camera A's reader take its next line block, lets
// camera B's reader catch up with camera A in time, and then pairs the two cameras' objects.
#pragma once

#include "common/dropix.h"

namespace dropix {

// One processing pass; returns 1. Ends the program itself at the end of the data, on an
// operator stop and on fatal conditions. The first pass also does the start-up work: banner,
// calibration tables, settings, queues, raw file and output files.
s16 makepix();

}  // namespace dropix
