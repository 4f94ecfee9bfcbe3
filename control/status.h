// The status display at row 14 and the Escape poll.
#pragma once

#include <string>

#include "common/formats.h"
#include "platform/host.h"

namespace dropix {

// How often the status block was drawn.
struct status_state {
  s64 status_second = -1;     // clock second of the last print off a terminal
  u64 status_ms = 0;          // monotonic time of the last redraw on a terminal
  bool status_shown = false;  // the block has been printed at least once
};

// What the status block shows: the .hyd name and length, the raw name and length, and both
// readers' positions.
struct status_view {
  const std::string& pix_nam;
  u32 pix_end;
  const std::string& mp_nam;
  s64 rawend;
  s64 pos_a;
  s64 pos_b;
};

// Shows the status block and polls the keyboard. Returns 1 to go on, 0 when the operator
// asked to stop (Escape, Ctrl-C, SIGTERM). On a terminal the block is redrawn in place at
// row 14 (left where the cursor stands while the trace prints) at most ten times a second;
// off a terminal it is printed at most once a second.
s16 show_status(status_state& st, host& h, const status_view& v, bool trace);

// Prints the status block once more at the end of a run that has shown it.
void status_final(status_state& st, host& h, const status_view& v, bool trace);

// Moves the console cursor (on a terminal only).
void set_cursor(host& h, int col, int row);

}  // namespace dropix
