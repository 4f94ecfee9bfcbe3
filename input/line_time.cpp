#include "input/line_time.h"

#include "common/numeric.h"

namespace dropix {

namespace {

struct camera_timing {
  u32* bf;      // per-minute raw positions
  s16& minut;   // highest minute entered
  f64& old;     // highest line count seen
  s64 prev;     // raw offset of the block just decoded
};

// Enters the block's offset for its minute and for every minute skipped since the last one
// entered, unless an entry is already set: each entry ends up at the first block whose first
// line falls in that minute or later. A block without a minute (no line frequency yet, or a
// line count beyond the day's tables) enters nothing.
void enter_minute(camera_timing& c, char cam, const line_blk_rec& blk, f64 line_fr, const timing_state& timing,
                  const mp_state& mp, diagnostics& d) {
  const int m = minute_of(blk.line[0].y_count, line_fr);
  if (m < 0 || m <= c.minut) return;
  for (int k = c.minut + 1; k <= m; ++k)
    if (c.bf[k] == 0) c.bf[k] = static_cast<u32>(c.prev);
  c.minut = static_cast<s16>(m);
  hprintf(d, cam == 'A' ? "posa_bf[%d]=%ld \n" : "posb_bf[%d]=%ld \n", m, c.bf[m]);
  hprintf(d, "minut_a=%d prev_a=%ld pos_a=%ld \n", timing.minut_a, mp.prev_a, mp.pos_a);
  hprintf(d, "minut_b=%d prev_b=%ld pos_b=%ld \n", timing.minut_b, mp.prev_b, mp.pos_b);
}

// Line counts of one camera only ever grow; anything else means the raw data are not in
// time order and no output can be trusted.
void check_growth(camera_timing& c, char cam, const line_blk_rec& blk, diagnostics& d) {
  f64 old = c.old;  // kept here: the stores to c.old could reach the block, as far as the compiler knows
  const int n = blk.n_lin;
  // A block whose lines grow from one to the next grows from `old` when its first line does.
  if (blk.growing && n > 0 && blk.line[0].y_count > old) {
    c.old = blk.line[n - 1].y_count;
    return;
  }
  for (int i = 0; i < n; ++i) {
    const f64 y = blk.line[i].y_count;
    if (y > old) {
      old = y;
      continue;
    }
    c.old = old;
    if (cam == 'A') {
      err_printf(d, "old_a=%lf line_buf[%d].y_count=%lf \n", c.old, i, y);
      err_printf(d, "neg. time jump in A \n");
    } else {
      err_printf(d, "y_count=%lf\n", y);
      err_printf(d, "neg. time jump in B \n");
    }
    fail(d, "please rename or delete current set of data files");
  }
  c.old = old;
}

}  // namespace

void line_time(timing_state& timing, const line_blk_rec& blk, s16 ident, s64 prev, f64 line_fr,
               const mp_state& mp, diagnostics& d) {
  if (ident != ident_camera_a && ident != ident_camera_b) return;
  const bool a = ident == ident_camera_a;
  camera_timing c = a ? camera_timing{timing.pos.posa_bf, timing.minut_a, timing.old_a, prev}
                      : camera_timing{timing.pos.posb_bf, timing.minut_b, timing.old_b, prev};
  if (blk.n_lin <= 0) return;
  enter_minute(c, a ? 'A' : 'B', blk, line_fr, timing, mp, d);
  check_growth(c, a ? 'A' : 'B', blk, d);
}

}  // namespace dropix
