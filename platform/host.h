// What a run needs from its host besides files: the screen (standard output), the terminal,
// the keyboard, the clock and the stop signals. The program runs on the POSIX host; tests and
// other callers give a run a host of their own (a scripted clock, scripted keys, a captured
// screen).
#pragma once

#include <csignal>

#include "common/diag.h"
#include "common/formats.h"

namespace dropix {

// The wall clock alone: what the writer's flush rules read.
struct clock_source {
  virtual ~clock_source() = default;
  virtual s64 clock_seconds() = 0;  // wall clock in whole seconds since 1970
};

struct host : screen, clock_source {
  virtual bool out_is_terminal() = 0;  // standard output is a terminal: escape sequences, pauses
  virtual bool in_is_terminal() = 0;   // standard input is a terminal: keys are polled

  virtual void clear_screen() = 0;                 // clears the terminal and homes the cursor
  virtual void move_cursor(int col, int row) = 0;  // both counted from 0
  virtual void clear_to_line_end() = 0;

  // -1 when no key is waiting, else the key read without echo (27 = Escape). The escape
  // sequences of cursor and function keys are consumed and never read as Escape.
  virtual int poll_key() = 0;

  virtual void terminal_begin() = 0;    // non-canonical, no-echo input on a terminal
  virtual void terminal_restore() = 0;  // puts the terminal back; safe to call more than once

  virtual void sleep_ms(unsigned ms) = 0;  // returns early when a stop signal arrives
  virtual u64 monotonic_ms() = 0;
  virtual int stop_signal() = 0;           // 0, or the number of the stop signal received
};

// The host of the dropix program: standard output, the controlling terminal, the system
// clock, and SIGINT / SIGTERM caught as stop requests (install_stop_signals).
class posix_host final : public host {
 public:
  posix_host() = default;
  ~posix_host() override;
  posix_host(const posix_host&) = delete;
  posix_host& operator=(const posix_host&) = delete;

  void write(std::string_view text) override;
  void flush() override;
  bool out_is_terminal() override;
  bool in_is_terminal() override;
  void clear_screen() override;
  void move_cursor(int col, int row) override;
  void clear_to_line_end() override;
  int poll_key() override;
  void terminal_begin() override;
  void terminal_restore() override;
  void sleep_ms(unsigned ms) override;
  s64 clock_seconds() override;
  u64 monotonic_ms() override;
  int stop_signal() override;

 private:
  int out_terminal_ = -1;  // asked once: -1 not yet
  int in_terminal_ = -1;
};

// Ctrl-C (SIGINT) and SIGTERM ask every run on a posix_host to stop. Process-wide.
void install_stop_signals();

// While alive, the stop signals (SIGINT, SIGTERM) are blocked in the calling thread. A thread
// started meanwhile keeps them blocked for good, so that they reach the session's thread
// alone, as they do in a run on one thread, and never interrupt a write of another thread.
class stop_signals_blocked {
 public:
  stop_signals_blocked();
  ~stop_signals_blocked();
  stop_signals_blocked(const stop_signals_blocked&) = delete;
  stop_signals_blocked& operator=(const stop_signals_blocked&) = delete;

 private:
  sigset_t before_;
};

// Every conversion of times in this process is UTC. Process-wide.
void use_utc();

}  // namespace dropix
