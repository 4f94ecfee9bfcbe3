// Opening the raw file and the day number of its name.
#pragma once

#include <string>

#include "common/dropix.h"

namespace dropix {

// Opens the raw file named on the command line for binary reading and takes the day number
// from its name; a file that cannot be opened ends the run.
void rawfil();

// year * 1000 + day of year from a base name like V02310_1.AB (characters 2-3 and 4-6,
// each read as digits up to the first non-digit).
s32 day_number(const std::string& base);

}  // namespace dropix
