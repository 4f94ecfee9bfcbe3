#include "reconstruct/assign.h"

#include <algorithm>

#include "common/numeric.h"
#include "reconstruct/store.h"

namespace dropix {

namespace {

// The newest object of the Assign-queue whose latest piece lies on the scan line just above
// `y` and overlaps the run {xs, xe}. Line counts grow by exactly 1.0 per scan line, so the
// difference is compared for equality. Adjacent columns do not overlap.
drop_rec* continued_object(const queue_pair& qp, f64 y, s16 xs, s16 xe) {
  for (drop_rec* p = qp.assign_first; p; p = p->next) {
    if (y - p->y_last != 1.0) continue;
    const piece& latest = p->pieces[p->line_no - 1];
    if (latest.first <= xe && latest.last >= xs) return p;
  }
  return nullptr;
}

// Adds the run as the object's piece of line `y`. An object that already holds MAXLIN
// pieces is marked and its last piece overwritten, so it keeps absorbing its silhouette
// until it is discarded at the end of the block.
void add_piece(drop_rec& p, f64 y, s16 xs, s16 xe) {
  p.y_last = y;
  if (p.line_no >= MAXLIN) {
    p.overflow = 1;
    p.pieces[MAXLIN - 1] = {xs, xe};
    return;
  }
  p.pix_min = std::min(p.pix_min, xs);
  p.pix_max = std::max(p.pix_max, xe);
  p.max_wid = std::max<s16>(p.max_wid, static_cast<s16>(xe - xs));
  p.pieces[p.line_no] = {xs, xe};
  ++p.line_no;
}

// Overflowed objects, silhouettes one pixel wide and single scan lines cannot be evaluated.
bool unfit(const drop_rec& p) {
  return p.overflow != 0 || p.pix_max - p.pix_min + 1 < 2 || p.line_no < 2;
}

void remove_unfit(store_state& store, queue_pair& qp, diagnostics& d) {
  drop_rec* p = qp.assign_first;
  while (p) {
    drop_rec* const older = p->next;
    if (unfit(*p)) unlink_assign(store, p, qp, d);
    p = older;
  }
}

}  // namespace

void assign_pieces(store_state& store, const line_blk_rec& blk, queue_pair& qp, diagnostics& d) {
  const int n_lin = std::clamp<int>(blk.n_lin, 0, line_buf_max);
  for (int i = 0; i < n_lin; ++i) {
    const line_entry& line = blk.line[i];
    const int n_seg = std::clamp<int>(line.n_seg, 0, max_runs);
    for (int j = 0; j < n_seg; ++j) {
      const s16 xs = line.seg[j][0];
      const s16 xe = line.seg[j][1];
      if (drop_rec* p = continued_object(qp, line.y_count, xs, xe))
        add_piece(*p, line.y_count, xs, xe);
      else
        new_obj(store, xs, xe, line.y_count, qp, d);
    }
  }
  remove_unfit(store, qp, d);
  hprintf2(d, "** assign_pieces: ");
  show_slots(store, d);
}

void queue_chron(diagnostics& d, const char* name, char tag, const drop_rec* oldest) {
  if (!oldest) return;
  const f64 t = oldest->y_first;
  for (const drop_rec* p = oldest; p; p = p->prev) {
    if (!(p->y_first < t)) continue;
    err_printf(d, "%s %c -> Chronology - Error ", name, tag);
    err_printf(d, "%lu %lu\n", static_cast<unsigned long>(line_trunc(p->y_first)),
               static_cast<unsigned long>(line_trunc(t)));
  }
}

}  // namespace dropix
