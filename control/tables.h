// Calibration tables from "corrfact.dat".
#pragma once

#include <string>

#include "common/diag.h"
#include "common/records.h"

namespace dropix {

// Fills the calibration tables: with /c (`calib`) every factor is exactly 1.0 and the file is
// not read; otherwise the four percentage rows of "corrfact.dat" (found at `path`) become
// 512-entry factor tables. A file that cannot be opened, or whose measured sizes do not
// increase, ends the run.
void tables(corr_tables_rec& corr_tables, bool calib, const std::string& path, diagnostics& d);

}  // namespace dropix
