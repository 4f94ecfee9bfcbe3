// The scripted host of in-process tests: a settable clock, keys delivered at chosen polls, a
// stop signal on demand, and a screen that records what is written and the terminal commands.
#pragma once

#include <string>

#include "platform/host.h"

namespace dropix::testing {

class fake_host final : public host {
 public:
  s64 clock = 1000000000;    // whole seconds returned by the clock
  int tick_every = 0;        // > 0: the clock moves on one second every tick_every readings
  long clock_reads = 0;
  bool out_terminal = false;
  bool in_terminal = false;
  long polls = 0;            // key polls so far
  long escape_at_poll = -1;  // the poll (1-based) that reads Escape
  int stop_sig = 0;          // what stop_signal() reports
  u64 ms = 0;                // monotonic clock
  std::string out;           // everything written to the screen
  std::string screen_cmds;   // "<cls>", "<cursor c,r>" and "<eol>" commands, in order

  void write(std::string_view text) override { out.append(text); }
  bool out_is_terminal() override { return out_terminal; }
  bool in_is_terminal() override { return in_terminal; }
  void clear_screen() override { screen_cmds += "<cls>"; }
  void move_cursor(int col, int row) override {
    screen_cmds += "<cursor " + std::to_string(col) + "," + std::to_string(row) + ">";
  }
  void clear_to_line_end() override {
    screen_cmds += "<eol>";
    out += "<eol>";
  }
  int poll_key() override { return ++polls == escape_at_poll ? 27 : -1; }
  void terminal_begin() override {}
  void terminal_restore() override {}
  void sleep_ms(unsigned t) override {
    ms += t;
    clock += t / 1000;
  }
  s64 clock_seconds() override {
    ++clock_reads;
    if (tick_every > 0 && clock_reads % tick_every == 0) ++clock;
    return clock;
  }
  u64 monotonic_ms() override { return ms; }
  int stop_signal() override { return stop_sig; }
};

}  // namespace dropix::testing
