// Runs the real dropix executable in a directory, off a terminal or on a pseudo-terminal.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace dropix::testing {

struct run_result {
  int status = -1;  // exit status, or 128 + signal number when a signal ended the process
  std::string out;  // what the program wrote to its standard output (or the terminal)
};

// The path of the dropix executable under test.
std::string dropix_exe();

// Runs dropix with `args` in `cwd`, standard input from /dev/null, output captured. A run
// that takes longer than `limit_s` seconds is ended by SIGALRM (status 142).
run_result run_dropix(const std::vector<std::string>& args, const std::string& cwd, unsigned limit_s = 120);

// Starts dropix with `args` in `cwd` in the background, output discarded; returns its pid.
int start_dropix(const std::vector<std::string>& args, const std::string& cwd);

// Waits for a started run to end and returns its status (128 + signal when a signal ended it).
int wait_dropix(int pid);

// Runs dropix with `args` in `cwd` on a pseudo-terminal. When the output first contains
// `trigger`, calls `act` with the child's pid and the terminal's master descriptor (to type
// keys or send signals); then collects the output to the end.
run_result run_on_terminal(const std::vector<std::string>& args, const std::string& cwd,
                           const std::string& trigger, const std::function<void(int pid, int master)>& act);

}  // namespace dropix::testing
