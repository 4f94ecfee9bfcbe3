// Runs the program's processing passes in the test process, on the scripted console, until
// the program ends through its one way out.
#pragma once

#include <string>

namespace dropix::testing {

struct pass_options {
  bool calib = false;          // the /c switch
  long escape_at_poll = -1;    // the key poll (1-based) at which the operator presses Escape
  int tick_every = 0;          // > 0: the clock moves on a second every so many readings
  long max_passes = 10000000;  // a test fails rather than loop for ever
  bool capture = true;         // collect standard output (banner, status, traces) in `out`
};

struct pass_result {
  int status = -1;   // exit status the program ended with; -1 if it did not end
  long passes = 0;   // processing passes run
  std::string out;   // standard output, when captured
};

// Brings the program to its state at start-up for a run on `raw_file` (the error stream and
// the trace switches are kept), without running a pass.
void prepare_run(const std::string& raw_file, const pass_options& opt = {});

// Starts a run on `raw_file` from a fresh program state (the error stream is kept) and calls
// makepix until the program ends.
pass_result run_passes(const std::string& raw_file, const pass_options& opt = {});

}  // namespace dropix::testing
