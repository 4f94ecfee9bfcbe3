#include "control/command_line.h"

#include <cstring>

#include "platform/files.h"

namespace dropix {

namespace {
void print_option_lines(screen& out) {
  out.write("    /e ... print stderr to screen \n");
  out.write("    /c ... calibration: do not apply adjustment factors \n");
  out.write("    /m ... matching: physical pairing of the two cameras' objects \n");
}

bool is_token_switch(const char* arg) {
  const std::size_t n = std::strlen(arg);
  if (n == 0 || n % 2 != 0) return false;
  for (std::size_t i = 0; i < n; i += 2)
    if (arg[i] != '/' || arg[i + 1] == '/') return false;
  return true;
}
}  // namespace

bool is_switch_arg(const char* arg) {
  return std::strcmp(arg, "-e") == 0 || std::strcmp(arg, "-c") == 0 || std::strcmp(arg, "-m") == 0 ||
         std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0 || is_token_switch(arg);
}

void get_switches(int argc, char** argv, command_line& cl) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!is_switch_arg(a)) continue;
    if (a[0] == '-') {
      if (std::strcmp(a, "-e") == 0) cl.stderr_to_screen = true;
      else if (std::strcmp(a, "-c") == 0) cl.calib = true;
      else if (std::strcmp(a, "-m") == 0) cl.physical_pairing = true;
      else cl.help = true;
      continue;
    }
    for (const char* t = a; *t; t += 2) {
      if (t[1] == 'e') cl.stderr_to_screen = true;
      else if (t[1] == 'c') cl.calib = true;
      else if (t[1] == 'm') cl.physical_pairing = true;
      else if (t[1] == '?') cl.help = true;
    }
  }
}

bool get_args(int argc, char** argv, command_line& cl) {
  for (int i = 1; i < argc; ++i) {
    if (is_switch_arg(argv[i])) continue;
    cl.has_raw = true;
    cl.raw_arg = argv[i];
    cl.raw_base = base_name(cl.raw_arg);
    return true;
  }
  return false;
}

void print_option_text(screen& out) {
  out.write("\nCommand line options are:\n\n");
  print_option_lines(out);
}

void print_usage(screen& out) {
  out.write("\nInvokation: \n");
  out.write("\nDROPIX  filespec  [ /switch ]\n");
  out.write("\nfilespec:  path and name of distrometer raw data file (V*.AB)\n");
  out.write("\nswitches:\n");
  print_option_lines(out);
}

}  // namespace dropix
