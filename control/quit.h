// The one way out of DROPIX. Every end of the program, orderly or fatal, goes through quit():
// it closes the files, puts the terminal back, says on the console when the run failed, and
// then calls the quit hook, which ends the process (tests install a hook that throws).
#pragma once

namespace dropix {

enum class exit_status : int {
  done = 0,          // data used up, option text, operator stop with Escape
  failure = 1,       // every other end; the reason is in the error log
  usage = 2,         // no raw file argument
  interrupted = 130, // Ctrl-C
  terminated = 143,  // SIGTERM
};

using quit_hook_fn = void (*)(int status);

// Installs the function that ends the process; null restores the default (std::exit).
void set_quit_hook(quit_hook_fn hook);

// Closes, in this order, the .abh, .hyd, .hd and raw files that are open.
void clean_up();

[[noreturn]] void quit(exit_status status);

// The operator stopped the run (Escape, Ctrl-C or SIGTERM): close the files and end with
// status 0, 130 or 143.
[[noreturn]] void operator_stop();

}  // namespace dropix
