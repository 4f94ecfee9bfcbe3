// Runs the processing passes of the current test's session on the scripted host, until the
// run ends.
#pragma once

#include <string>

#include "platform/files.h"

namespace dropix::testing {

struct pass_options {
  bool calib = false;          // the /c switch
  bool physical = false;       // the /m switch: physical pairing
  long escape_at_poll = -1;    // the key poll (1-based) at which the operator presses Escape
  int tick_every = 0;          // > 0: the clock moves on a second every so many readings
  long max_passes = 10000000;  // a test fails rather than loop for ever
  io_faults* faults = nullptr; // output operations that fail on purpose
  bool writer_thread = false;  // records written on a thread of their own from the second pass
};

struct pass_result {
  int status = -1;   // exit status the run ended with; -1 if it did not end
  long passes = 0;   // processing passes run
  std::string out;   // what the run wrote to the screen (banner, status, traces)
  bool threaded = false;  // the records were written on a thread of their own
};

// Brings the current test's session to its state at start-up for a run on `raw_file` (the
// error stream and the trace switches are kept), without running a pass.
void prepare_run(const std::string& raw_file, const pass_options& opt = {});

// Starts a run on `raw_file` from a fresh session state (the error stream is kept) and calls
// makepix until the run ends; the run is then finished as the session finishes it.
pass_result run_passes(const std::string& raw_file, const pass_options& opt = {});

}  // namespace dropix::testing
