// The POSIX host. On a terminal the screen is driven with ANSI sequences and keys are read in
// non-canonical, no-echo mode; the terminal is put back on every way out. Signals are the one
// thing of a process that every run in it shares: the handler only notes the signal.
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/host.h"

namespace dropix {

namespace {
volatile std::sig_atomic_t g_stop_signal = 0;
struct termios g_saved_termios;
bool g_termios_saved = false;

void on_stop_signal(int sig) { g_stop_signal = sig; }
}  // namespace

posix_host::~posix_host() { terminal_restore(); }

void posix_host::write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void posix_host::flush() { std::fflush(stdout); }

bool posix_host::out_is_terminal() {
  if (out_terminal_ < 0) out_terminal_ = ::isatty(STDOUT_FILENO) == 1 ? 1 : 0;
  return out_terminal_ == 1;
}

bool posix_host::in_is_terminal() {
  if (in_terminal_ < 0) in_terminal_ = ::isatty(STDIN_FILENO) == 1 ? 1 : 0;
  return in_terminal_ == 1;
}

void posix_host::clear_screen() { write("\x1b[2J\x1b[H"); }

void posix_host::move_cursor(int col, int row) {
  char buf[32];
  const int n = std::snprintf(buf, sizeof buf, "\x1b[%d;%dH", row + 1, col + 1);
  write(std::string_view(buf, static_cast<std::size_t>(n)));
}

void posix_host::clear_to_line_end() { write("\x1b[K"); }

int posix_host::poll_key() {
  unsigned char buf[32];
  const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
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

void posix_host::terminal_begin() {
  if (!in_is_terminal() || g_termios_saved) return;
  struct termios t;
  if (::tcgetattr(STDIN_FILENO, &t) != 0) return;
  g_saved_termios = t;
  g_termios_saved = true;
  t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::tcsetattr(STDIN_FILENO, TCSANOW, &t);
}

void posix_host::terminal_restore() {
  if (!g_termios_saved) return;
  ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_termios);
  g_termios_saved = false;
}

void posix_host::sleep_ms(unsigned ms) {
  struct timespec req;
  req.tv_sec = ms / 1000;
  req.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  // A stop signal interrupts the sleep (the handlers are installed without SA_RESTART).
  while (::nanosleep(&req, &req) != 0 && g_stop_signal == 0) {
  }
}

s64 posix_host::clock_seconds() { return static_cast<s64>(::time(nullptr)); }

u64 posix_host::monotonic_ms() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<u64>(ts.tv_sec) * 1000u + static_cast<u64>(ts.tv_nsec) / 1000000u;
}

int posix_host::stop_signal() { return static_cast<int>(g_stop_signal); }

void install_stop_signals() {
  struct sigaction sa = {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

stop_signals_blocked::stop_signals_blocked() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &stop, &before_);
}

stop_signals_blocked::~stop_signals_blocked() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }

void use_utc() {
  ::unsetenv("TZ");
  ::setenv("TZ", "UTC0", 1);
  ::tzset();
}

}  // namespace dropix
