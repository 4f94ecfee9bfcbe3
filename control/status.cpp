#include "control/status.h"

#include <cstdio>

#include "control/settings.h"
#include "input/rawfil.h"
#include "platform/platform.h"

namespace dropix {

namespace {
constexpr int status_row = 14;
constexpr u64 redraw_ms = 100;

void print_block(bool terminal) {
  const char* eol = terminal ? "\x1b[K\n" : "\n";
  std::printf("%s:%9lld%s", wr.pix_nam.c_str(), static_cast<long long>(wr.pix_end), eol);
  std::printf("%s:%9lld%s", raw.mp_nam.c_str(), static_cast<long long>(mp.rawend), eol);
  std::printf("A:%9lld%s", static_cast<long long>(mp.pos_a), eol);
  std::printf("B:%9lld%s", static_cast<long long>(mp.pos_b), eol);
  std::fflush(stdout);
}

void draw(bool force) {
  if (platform::out_is_terminal()) {
    const u64 now = platform::monotonic_ms();
    if (!force && ctl.status_shown && now - ctl.status_ms < redraw_ms) return;
    ctl.status_ms = now;
    if (diag.trace_flag != 1) set_cursor(0, status_row);
    print_block(true);
  } else {
    const s64 now = platform::clock_seconds();
    if (!force && now == ctl.status_second) return;
    ctl.status_second = now;
    print_block(false);
  }
  ctl.status_shown = true;
}
}  // namespace

void set_cursor(int col, int row) {
  if (platform::out_is_terminal()) platform::move_cursor(col, row);
}

s16 show_status() {
  if (ctl.status_first) {
    ctl.status_first = 0;
    get_raw_path();
    rawfil();
  }
  draw(false);
  if (platform::stop_signal()) return 0;
  if (platform::in_is_terminal() && platform::poll_key() == 27) return 0;
  return 1;
}

void status_final() {
  if (ctl.status_shown) draw(true);
}

}  // namespace dropix
