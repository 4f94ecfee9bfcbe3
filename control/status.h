// The status display at row 14 and the Escape poll.
#pragma once

#include "common/dropix.h"

namespace dropix {

// Shows the status block (.hyd name and length, raw name and length, both reader
// positions) and polls the keyboard. Returns 1 to go on, 0 when the operator asked to stop
// (Escape, Ctrl-C, SIGTERM). Its first call reads RAW_PATH and opens the raw file.
// On a terminal the block is redrawn in place at most ten times a second; off a terminal it
// is printed at most once a second.
s16 show_status();

// Prints the status block once more at the end of a run that has shown it.
void status_final();

// Moves the console cursor (on a terminal only).
void set_cursor(int col, int row);

}  // namespace dropix
