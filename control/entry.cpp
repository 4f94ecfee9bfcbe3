#include "control/entry.h"

#include <cstdio>
#include <cstring>

#include "control/diag.h"
#include "control/quit.h"
#include "input/makepix.h"
#include "platform/platform.h"

namespace dropix {

namespace {
void print_option_lines() {
  std::fputs("    /e ... print stderr to screen \n", stdout);
  std::fputs("    /c ... calibration: do not apply adjustment factors \n", stdout);
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
  return std::strcmp(arg, "-e") == 0 || std::strcmp(arg, "-c") == 0 ||
         std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0 || is_token_switch(arg);
}

void get_switches(int argc, char** argv) {
  bool help = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!is_switch_arg(a)) continue;
    if (a[0] == '-') {
      if (std::strcmp(a, "-e") == 0) ctl.stderr_to_screen = 1;
      else if (std::strcmp(a, "-c") == 0) ctl.calib = 1;
      else help = true;
      continue;
    }
    for (const char* t = a; *t; t += 2) {
      if (t[1] == 'e') ctl.stderr_to_screen = 1;
      else if (t[1] == 'c') ctl.calib = 1;
      else if (t[1] == '?') help = true;
    }
  }
  if (help) {
    std::fputs("\nCommand line options are:\n\n", stdout);
    print_option_lines();
    quit(exit_status::done);
  }
}

std::string base_name(const std::string& path) {
  std::size_t cut = 0;
  for (std::size_t i = 0; i < path.size(); ++i)
    if (platform::is_separator(path[i])) cut = i + 1;
  return path.substr(cut);
}

void get_args(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (is_switch_arg(argv[i])) continue;
    ctl.raw_arg = argv[i];
    ctl.raw_base = base_name(ctl.raw_arg);
    return;
  }
  std::fputs("\nInvokation: \n", stdout);
  std::fputs("\nDROPIX  filespec  [ /switch ]\n", stdout);
  std::fputs("\nfilespec:  path and name of distrometer raw data file (V*.AB)\n", stdout);
  std::fputs("\nswitches:\n", stdout);
  print_option_lines();
  quit(exit_status::usage);
}

void banner() {
  const bool terminal = platform::out_is_terminal();
  if (terminal) platform::clear_screen();
  static const char* const lines[] = {
      "\n    ====================================================================\n",
      "    |                                                                  |\n",
      "    |                      T H E   K A L V O R A                       |\n",
      "    |                                                                  |\n",
      "    |      DROPIX                                                      |\n",
      "    |                                                                  |\n",
      "    |      (Nov. 06, 2002, 18:15 internal version no. 7.002)           |\n",
      "    |                                                                  |\n",
      "    |                                                         VELMORA  |\n",
      "    ====================================================================\n",
  };
  for (const char* l : lines) std::fputs(l, stdout);
  std::fputs("\n\n", stdout);
  std::fflush(stdout);
  if (terminal) {
    // Until the whole-second clock has moved on by two: a pause of one to two seconds.
    const s64 t0 = platform::clock_seconds();
    while (platform::clock_seconds() < t0 + 2 && !platform::stop_signal()) platform::sleep_ms(50);
  }
  if (platform::stop_signal()) operator_stop();
}

int dropix_main(int argc, char** argv) {
  platform::use_utc();
  platform::install_signal_handlers();
  platform::terminal_begin();
  banner();
  get_switches(argc, argv);
  get_args(argc, argv);
  if (!ctl.stderr_to_screen) open_error_log();
  while (makepix() != 0) {
  }
  quit(exit_status::done);
}

}  // namespace dropix
