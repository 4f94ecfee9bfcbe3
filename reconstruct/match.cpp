#include "reconstruct/match.h"

#include <bit>
#include <cstdlib>

#include "common/numeric.h"

namespace dropix {

namespace {

// Silhouettes of one drop differ by at most this many scan lines between the cameras.
constexpr int max_line_diff = 5;

// Bounds of the width ratio A/B: the single-precision values nearest 2/3 and 3/2.
constexpr f32 min_ratio = 0.6666667f;
constexpr f32 max_ratio = 1.5f;
static_assert(std::bit_cast<u32>(min_ratio) == 0x3F2AAAABu);

enum class timing { too_early, in_window, too_late };

timing compare(const drop_rec* a, const drop_rec* b) {
  const f64 ya = a->y_first;
  const f64 yb = b->y_first;
  if (yb - window_lines > ya) return timing::too_late;
  if (ya > yb) return timing::too_early;
  return timing::in_window;
}

// Looks for the partner of `a` among camera B's waiting objects, oldest first. Camera B
// objects that start before `a` can no longer find a partner and are given up; so is `a`
// once a camera B object starts beyond its window. Returns the number of pairs (0 or 1).
int match_one(store_state& store, drop_rec* a, s32* total, pair_sink& sink, diagnostics& d) {
  drop_rec* b = store.qb.wait_last;
  while (b) {
    drop_rec* const b_newer = b->prev;
    switch (compare(a, b)) {
      case timing::too_early:
        unlink_wait(store, b, store.qb, d);
        break;
      case timing::too_late:
        unlink_wait(store, a, store.qa, d);
        return 0;
      case timing::in_window:
        if (!match_test(a, b, d)) break;
        ++*total;
        if (match_chron(store.last_match_y, a, d)) sink.pair(a, b);
        unlink_wait(store, a, store.qa, d);
        unlink_wait(store, b, store.qb, d);
        return 1;
    }
    b = b_newer;
  }
  return 0;  // no camera B object late enough yet: a waits for the next call
}

}  // namespace

void find_m(store_state& store, u64 horizon_base, s32* total, pair_sink& sink, diagnostics& d) {
  int matched = 0;
  // Camera A objects starting within the last 1200 lines may still get their partner from
  // camera B lines not read yet. Shortly after midnight the subtraction wraps round and
  // every object is examined.
  const u64 horizon = horizon_base - horizon_lines;
  drop_rec* a = store.qa.wait_last;
  while (a) {
    drop_rec* const a_newer = a->prev;
    if (static_cast<f64>(horizon) < a->y_first) break;
    matched += match_one(store, a, total, sink, d);
    a = a_newer;
  }
  hprintf2(d, "** find_m - matched: %d\n", matched);
  hprintf2(d, "** find_m: ");
  show_slots(store, d);
}

int match_test(const drop_rec* a, const drop_rec* b, diagnostics& d) {
  if (a->max_wid == 0 || b->max_wid == 0)
    hprintf2(d, "*** match Error: W1= %d, W2= %d\n", a->max_wid, b->max_wid);
  if (std::abs(b->line_no - a->line_no) > max_line_diff) return 0;

  // A zero width gives a ratio of zero, infinity or no number at all: never a match.
  if (a->max_wid == 0 || b->max_wid == 0) return 0;
  const auto ratio = static_cast<f32>(static_cast<f64>(a->max_wid) / b->max_wid);
  if (!(ratio >= min_ratio && ratio <= max_ratio)) return 0;

  // The camera B silhouette must lie, on average over its first and last line, later than
  // camera A's.
  const s64 d_first = trunc_s32(b->y_first - a->y_first);
  const s64 d_last = trunc_s32(b->y_last - a->y_last);
  return d_first + d_last > 0 ? 1 : 0;
}

int match_chron(f64& last_match_y, const drop_rec* a, diagnostics& d) {
  if (a->y_first >= last_match_y) {
    last_match_y = a->y_first;
    return 1;
  }
  hprintf2(d, "\nFind_m -> Chronology - Error ");
  err_printf(d, "C");
  return 0;
}

}  // namespace dropix
