// The scripted console that unit tests link instead of the terminal: a settable clock, keys
// delivered at chosen polls, a stop signal on demand, and a record of screen commands.
#pragma once

#include <string>

#include "common/formats.h"

namespace dropix::fake_console {

struct state {
  s64 clock = 1000000000;  // whole seconds returned by the clock
  int tick_every = 0;      // > 0: the clock moves on one second every tick_every readings
  long clock_reads = 0;
  bool out_terminal = false;
  bool in_terminal = false;
  long polls = 0;          // key polls so far
  long escape_at_poll = -1;  // the poll (1-based) that reads Escape
  int stop_sig = 0;        // what stop_signal() reports
  u64 ms = 0;              // monotonic clock
  std::string screen;      // "<cls>" and "<cursor c,r>" commands, in order
};

inline state fc;

inline void reset() { fc = state{}; }

}  // namespace dropix::fake_console
