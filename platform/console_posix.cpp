// Console, clock and signals on a POSIX system. On a terminal the screen is driven with ANSI
// sequences and keys are read in non-canonical, no-echo mode; the terminal is put back on
// every way out (normal end, fatal end, stop signal).
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace dropix::platform {

namespace {
volatile std::sig_atomic_t g_stop_signal = 0;
struct termios g_saved_termios;
volatile std::sig_atomic_t g_termios_saved = 0;

void on_stop_signal(int sig) { g_stop_signal = sig; }
}  // namespace

// Asked once: the status display and the key poll ask on every pass.
bool out_is_terminal() {
  static const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  return terminal;
}
bool in_is_terminal() {
  static const bool terminal = ::isatty(STDIN_FILENO) == 1;
  return terminal;
}

void clear_screen() { std::fputs("\x1b[2J\x1b[H", stdout); }

void move_cursor(int col, int row) { std::printf("\x1b[%d;%dH", row + 1, col + 1); }

void clear_to_line_end() { std::fputs("\x1b[K", stdout); }

int poll_key() {
  unsigned char buf[32];
  ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
  if (n <= 0) return -1;
  int first = -1;
  for (ssize_t i = 0; i < n; ++i) {
    if (buf[i] == 27) {
      // A lone Escape; "ESC [" and "ESC O" start the sequences that cursor and function
      // keys send, which are skipped up to their final byte.
      if (i + 1 >= n) return 27;
      if (buf[i + 1] != '[' && buf[i + 1] != 'O') return 27;
      i += 2;
      while (i < n && !(buf[i] >= 0x40 && buf[i] <= 0x7E)) ++i;
      continue;
    }
    if (first < 0) first = buf[i];
  }
  return first;
}

void terminal_begin() {
  if (!in_is_terminal() || g_termios_saved) return;
  struct termios t;
  if (::tcgetattr(STDIN_FILENO, &t) != 0) return;
  g_saved_termios = t;
  g_termios_saved = 1;
  t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::tcsetattr(STDIN_FILENO, TCSANOW, &t);
  std::atexit(terminal_restore);
}

void terminal_restore() {
  if (!g_termios_saved) return;
  ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_termios);
  g_termios_saved = 0;
}

void sleep_ms(unsigned ms) {
  struct timespec req;
  req.tv_sec = ms / 1000;
  req.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  // A stop signal interrupts the sleep (the handlers are installed without SA_RESTART).
  while (::nanosleep(&req, &req) != 0 && g_stop_signal == 0) {
  }
}

s64 clock_seconds() { return static_cast<s64>(::time(nullptr)); }

u64 monotonic_ms() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<u64>(ts.tv_sec) * 1000u + static_cast<u64>(ts.tv_nsec) / 1000000u;
}

void install_signal_handlers() {
  struct sigaction sa = {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

int stop_signal() { return static_cast<int>(g_stop_signal); }

}  // namespace dropix::platform
