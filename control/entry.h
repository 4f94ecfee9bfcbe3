// Entry point, command line and run loop.
#pragma once

#include "common/dropix.h"

namespace dropix {

// The whole program: start-up, then processing passes until the program ends inside one.
int dropix_main(int argc, char** argv);

// An argument is a switch when it is one of -e, -c, -h, --help, or made wholly of "/x"
// tokens ("/e", "/c", "/?", glued as in "/e/c"; other tokens switch nothing). Every other
// argument is a file argument.
bool is_switch_arg(const char* arg);

// Notes /e and /c; /? (or -h, --help) prints the option text and ends the run.
void get_switches(int argc, char** argv);

// Takes the first file argument as the raw file; without one prints the usage text and ends
// the run with status 2.
void get_args(int argc, char** argv);

// Name and extension of a path.
std::string base_name(const std::string& path);

// Clears the screen, shows the banner and, on a terminal, pauses one to two seconds.
void banner();

}  // namespace dropix
