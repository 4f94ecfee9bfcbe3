// The three output files of a raw file: .hyd (records), .hd (minute index and headers) and
// .abh (resume positions); created, or read back to continue a run.
#pragma once

#include "common/dropix.h"

namespace dropix {

// Names, opens or creates the output files and restores the state of an earlier run.
void pixfil();

}  // namespace dropix
