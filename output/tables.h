// Calibration tables from "corrfact.dat".
#pragma once

#include "common/dropix.h"

namespace dropix {

// Fills corr_tables: with /c every factor is exactly 1.0 and the file is not read; otherwise
// the four percentage rows become 512-entry factor tables.
void tables();

}  // namespace dropix
