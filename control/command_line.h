// The command line: the switches /e, /c, /m, /? (also -e, -c, -m, -h, --help) and the raw file.
#pragma once

#include <string>

#include "common/diag.h"

namespace dropix {

struct command_line {
  bool stderr_to_screen = false;  // /e: the error stream stays on the screen
  bool calib = false;             // /c: no correction factors
  bool physical_pairing = false;  // /m: physical pairing of the cameras' objects
  bool help = false;              // /?: the option text, nothing else
  bool has_raw = false;           // a file argument was given
  std::string raw_arg;            // the first file argument: the raw file path as given
  std::string raw_base;           // its name and extension
};

// An argument is a switch when it is one of -e, -c, -m, -h, --help, or made wholly of "/x"
// tokens ("/e", "/c", "/m", "/?", glued as in "/e/c"; other tokens switch nothing). Every
// other argument is a file argument.
bool is_switch_arg(const char* arg);

// Notes /e, /c, /m and /? (or -h, --help).
void get_switches(int argc, char** argv, command_line& cl);

// Takes the first file argument as the raw file. False when there is none.
bool get_args(int argc, char** argv, command_line& cl);

// The option text of /?, and the usage text of a command line without a raw file.
void print_option_text(screen& out);
void print_usage(screen& out);

}  // namespace dropix
