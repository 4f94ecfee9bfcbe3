#include "control/status.h"

namespace dropix {

namespace {
constexpr int status_row = 14;
constexpr u64 redraw_ms = 100;

void print_block(host& h, const status_view& v, bool terminal) {
  const auto line = [&](const char* label, long long value) {
    screen_printf(h, "%s:%9lld", label, value);
    if (terminal) h.clear_to_line_end();  // shorter numbers leave no stale digits
    h.write("\n");
  };
  line(v.pix_nam.c_str(), static_cast<long long>(v.pix_end));
  line(v.mp_nam.c_str(), static_cast<long long>(v.rawend));
  line("A", static_cast<long long>(v.pos_a));
  line("B", static_cast<long long>(v.pos_b));
  h.flush();
}

void draw(status_state& st, host& h, const status_view& v, bool trace, bool force) {
  if (h.out_is_terminal()) {
    const u64 now = h.monotonic_ms();
    if (!force && st.status_shown && now - st.status_ms < redraw_ms) return;
    st.status_ms = now;
    if (!trace) set_cursor(h, 0, status_row);
    print_block(h, v, true);
  } else {
    const s64 now = h.clock_seconds();
    if (!force && now == st.status_second) return;
    st.status_second = now;
    print_block(h, v, false);
  }
  st.status_shown = true;
}
}  // namespace

void set_cursor(host& h, int col, int row) {
  if (h.out_is_terminal()) h.move_cursor(col, row);
}

s16 show_status(status_state& st, host& h, const status_view& v, bool trace) {
  draw(st, h, v, trace, false);
  if (h.stop_signal()) return 0;
  if (h.in_is_terminal() && h.poll_key() == 27) return 0;
  return 1;
}

void status_final(status_state& st, host& h, const status_view& v, bool trace) {
  if (st.status_shown) draw(st, h, v, trace, true);
}

}  // namespace dropix
