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
inline void add_piece(drop_rec& p, f64 y, s16 xs, s16 xe) {
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

// Line counts from 4 up to 2^53: there y - y_last == 1.0 holds exactly when y_last == y - 1.
constexpr f64 exact_lines_from = 4.0;
constexpr f64 exact_lines_below = 9007199254740992.0;

// Runs of one line looked for among the whole Assign-queue, newest object first.
void assign_line_searching_queue(store_state& store, const line_entry& line, int n_seg, queue_pair& qp,
                                 diagnostics& d) {
  for (int j = 0; j < n_seg; ++j) {
    const s16 xs = line.seg[j][0];
    const s16 xe = line.seg[j][1];
    if (drop_rec* p = continued_object(qp, line.y_count, xs, xe))
      add_piece(*p, line.y_count, xs, xe);
    else
      new_obj(store, xs, xe, line.y_count, qp, d);
  }
}

// Adds the lines from `from` on to object p as long as each has one run, lies exactly one
// line after the line before (from 4 up to 2^53, where that is y - 1.0 == y_before) and
// overlaps p's latest piece, and p has room: add_piece line by line, with p's fields held in
// registers. Returns the first line not taken.
int extend_one_object(drop_rec& p, const line_blk_rec& blk, int from, int n_lin) {
  const int line_no = p.line_no;
  s16 pix_min = p.pix_min, pix_max = p.pix_max, max_wid = p.max_wid;
  piece latest = p.pieces[line_no - 1];
  f64 y_before = p.y_last;
  const int stop = std::min(n_lin, from + (MAXLIN - line_no));  // p has room up to here
  piece* out = p.pieces + line_no;
  int i = from;
  for (; i < stop; ++i) {
    const line_entry& line = blk.line[i];
    const f64 y = line.y_count;
    if (line.n_seg != 1 || !(y - 1.0 == y_before && y < exact_lines_below)) break;
    const s16 xs = line.seg[0][0];
    const s16 xe = line.seg[0][1];
    if (!(latest.first <= xe && latest.last >= xs)) break;
    pix_min = std::min(pix_min, xs);
    pix_max = std::max(pix_max, xe);
    max_wid = std::max<s16>(max_wid, static_cast<s16>(xe - xs));
    latest = {xs, xe};
    *out++ = latest;
    y_before = y;
  }
  p.line_no = static_cast<s16>(out - p.pieces);
  p.pix_min = pix_min;
  p.pix_max = pix_max;
  p.max_wid = max_wid;
  p.y_last = y_before;
  return i;
}

}  // namespace

// Within a block whose lines come in strictly growing line counts (as the logger writes
// them) and whose Assign-queue starts empty, the objects whose latest piece lies on the line
// just above are exactly those that line gave a piece: at most six, and only they are
// searched. They are kept newest first, their order in the queue: the objects a line makes
// are newer than those it continues, which keep their order. A line less than one line
// after the one before (line counts that step by fractions), and every line of any other
// block, is searched in the whole queue.
void assign_pieces(store_state& store, const line_blk_rec& blk, queue_pair& qp, diagnostics& d) {
  const int n_lin = std::clamp<int>(blk.n_lin, 0, line_buf_max);
  bool in_order = qp.assign_first == nullptr;
  drop_rec* lists[2][max_runs];
  drop_rec** above = lists[0];  // what the line before gave a piece, newest first
  drop_rec** here = lists[1];
  int n_above = 0;
  f64 y_above = 0;
  for (int i = 0; i < n_lin; ++i) {
    const line_entry& line = blk.line[i];
    const f64 y = line.y_count;
    const int n_seg = std::clamp<int>(line.n_seg, 0, max_runs);
    if (in_order && !(y >= exact_lines_from && y < exact_lines_below && (i == 0 || y > y_above))) in_order = false;
    if (!in_order) {
      assign_line_searching_queue(store, line, n_seg, qp, d);
      continue;
    }
    if (n_seg == 1 && n_above == 1 && i > 0 && y - 1.0 == y_above) {
      // A run of one-run lines, each one line after the one before, that go on with the
      // one object the line before gave a piece: the common case inside a silhouette.
      const int end = extend_one_object(*above[0], blk, i, n_lin);
      if (end > i) {
        y_above = blk.line[end - 1].y_count;
        i = end - 1;
        continue;
      }
    }
    int n_here = 0;
    if (i > 0 && y_above != y - 1.0) {
      if (y_above > y - 1.0) {
        // Less than a line back: objects of earlier lines may lie one line back.
        assign_line_searching_queue(store, line, n_seg, qp, d);
        for (drop_rec* p = qp.assign_first; p; p = p->next)
          if (p->y_last == y) here[n_here++] = p;
        std::swap(above, here);
        n_above = n_here;
        y_above = y;
        continue;
      }
      n_above = 0;  // after a gap nothing is continued
    }
    if (n_seg == 1) {
      // The common line: one run. Every object of `above` has its latest piece on the line
      // above.
      const s16 xs = line.seg[0][0];
      const s16 xe = line.seg[0][1];
      drop_rec* p = nullptr;
      for (int k = 0; k < n_above; ++k) {
        const piece& latest = above[k]->pieces[above[k]->line_no - 1];
        if (latest.first <= xe && latest.last >= xs) {
          p = above[k];
          break;
        }
      }
      if (p) {
        add_piece(*p, y, xs, xe);
      } else {
        new_obj(store, xs, xe, y, qp, d);
        p = qp.assign_first;
      }
      here[n_here++] = p;
    } else {
      bool continued[max_runs] = {};
      drop_rec* made[max_runs];  // oldest first
      int n_made = 0;
      for (int j = 0; j < n_seg; ++j) {
        const s16 xs = line.seg[j][0];
        const s16 xe = line.seg[j][1];
        int k = 0;
        for (; k < n_above; ++k) {
          const drop_rec* q = above[k];
          if (q->y_last == y) continue;  // continued by an earlier run of this line
          const piece& latest = q->pieces[q->line_no - 1];
          if (latest.first <= xe && latest.last >= xs) break;
        }
        if (k < n_above) {
          add_piece(*above[k], y, xs, xe);
          continued[k] = true;
          continue;
        }
        const u32 emptied = store.forced_emptyings;
        new_obj(store, xs, xe, y, qp, d);
        if (store.forced_emptyings != emptied) {
          n_above = 0;  // every object made before is gone
          n_made = 0;
        }
        made[n_made++] = qp.assign_first;
      }
      for (int k = n_made - 1; k >= 0; --k) here[n_here++] = made[k];
      for (int k = 0; k < n_above; ++k)
        if (continued[k]) here[n_here++] = above[k];
    }
    std::swap(above, here);
    n_above = n_here;
    y_above = y;
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
