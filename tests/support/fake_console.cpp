#include "tests/support/fake_console.h"

#include "platform/platform.h"

namespace dropix::platform {

using dropix::fake_console::fc;

bool out_is_terminal() { return fc.out_terminal; }
bool in_is_terminal() { return fc.in_terminal; }
void clear_screen() { fc.screen += "<cls>"; }
void move_cursor(int col, int row) {
  fc.screen += "<cursor " + std::to_string(col) + "," + std::to_string(row) + ">";
}
void clear_to_line_end() {}
int poll_key() {
  ++fc.polls;
  return fc.polls == fc.escape_at_poll ? 27 : -1;
}
void terminal_begin() {}
void terminal_restore() {}
void sleep_ms(unsigned ms) { fc.ms += ms; fc.clock += ms / 1000; }
s64 clock_seconds() {
  ++fc.clock_reads;
  if (fc.tick_every > 0 && fc.clock_reads % fc.tick_every == 0) ++fc.clock;
  return fc.clock;
}
u64 monotonic_ms() { return fc.ms; }
void install_signal_handlers() {}
int stop_signal() { return fc.stop_sig; }

}  // namespace dropix::platform
