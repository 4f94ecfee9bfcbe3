// Records shared by the stages of a pass: decoded scan lines, objects and their queues, the
// list of main headers in force and the calibration factors. None of them reaches a file as
// it is laid out here; the file formats are in formats.h.
#pragma once

#include <memory>
#include <vector>

#include "common/formats.h"
#include "common/numeric.h"

namespace dropix {

// ---- limits ------------------------------------------------------------------------------
constexpr int MAXLIN = 600;          // most scan lines (pieces) per object
constexpr int n_slots = 900;         // object store
constexpr int line_buf_max = 2000;   // decoded lines per block
constexpr int max_headers = 100;     // distinct main headers per raw file
constexpr int frame_buf_size = 16384;
constexpr int max_runs = 6;          // shaded runs per scan line
constexpr int n_corr = 512;          // factor table entries, 0.1 mm apart
// Drop records buffered before a flush (append to .hyd, sync, rewrite .hd and .abh). A run
// that keeps up with the logger flushes every 3 s, long before the buffer fills; decoding a
// recorded day at full speed, the buffer and the main headers set the number of syncs
// (two hours of 50 mm/h hold 26 MB of records, 660 KB between two of the logger's headers).
constexpr u32 pix_buf_limit = 2000000;
constexpr int max_packed_values = 4 * MAXLIN;

// ---- decoded scan lines ------------------------------------------------------------------
// One scan line of a line block: its line count and up to six shaded runs {first, last}.
struct line_entry {
  f64 y_count = 0;  // line count since midnight
  s16 n_seg = 0;    // number of runs, 1..6
  s16 seg[max_runs][2] = {};  // first and last pixel of each run, left to right; absent runs 0
};

// The decoded lines of one camera line block.
struct line_blk_rec {
  s16 n_lin = 0;
  // Known to the decoder: every line's count lies above the count of the line before it in
  // the block (false when not known, as for blocks made otherwise).
  bool growing = false;
  line_entry line[line_buf_max];
};

// ---- objects -----------------------------------------------------------------------------
struct piece {
  s16 first;  // first shaded pixel
  s16 last;   // last shaded pixel (inclusive)
};
static_assert(sizeof(piece) == 4);

// One silhouette seen by one camera.
struct drop_rec {
  s16 pix_min = 0;   // left edge: smallest first pixel
  s16 pix_max = 0;   // right edge: largest last pixel
  s16 max_wid = 0;   // widest piece (last - first) among the pieces after the first
  s16 line_no = 0;   // pieces stored, one per scan line
  f64 y_last = 0;    // line count of the latest piece
  f64 y_first = 0;   // line count of the first piece
  drop_rec* next = nullptr;  // towards the older end of its queue
  drop_rec* prev = nullptr;  // towards the newer end
  s16 status = 0;    // 0 free, 1 just allocated, else the tag of its queue
  s16 overflow = 0;  // a piece arrived after MAXLIN lines
  // Its pieces, line by line: in the store, a room for MAXLIN pieces lent to the slot while
  // it is taken (null while the slot is free).
  piece* pieces = nullptr;
};

// The two queues of one camera: Assign (objects still growing) and Wait (complete objects
// waiting for their partner). "first" is the newest end, "last" the oldest.
struct queue_pair {
  char assign_tag = 0;
  char wait_tag = 0;
  drop_rec* assign_first = nullptr;
  drop_rec* assign_last = nullptr;
  drop_rec* wait_first = nullptr;
  drop_rec* wait_last = nullptr;
  // Known of the Wait-queue: from its oldest end on, no object's y_first lies below the one
  // before (false when not known). Objects leaving keep it so.
  bool wait_in_order = true;
};

// ---- header list -------------------------------------------------------------------------
// One main header in force from scan line `line` on.
struct hd_node {
  main_rec rec;        // the header's own record
  f64 line = 0;        // line count from which it holds: (main_time mod 86400) * line_fr
  hd_node* next = nullptr;
  hd_node* prev = nullptr;
};

// The main headers of a run in ascending order of their lines; only ever appended to.
struct header_list {
  hd_node* head = nullptr;
  hd_node* tail = nullptr;
  std::vector<std::unique_ptr<hd_node>> nodes;  // owns the nodes

  // Appends a node holding `rec` from line `line` on.
  void append(const main_rec& rec, f64 line);

  // The header in force at line count y (truncated): the first node whose interval [line,
  // next line] holds it, else the last node from its line on; null when y lies before them
  // all. A line exactly on a newer header's line is still the older one's.
  const hd_node* in_force(f64 y) const;

  // The line frequency to count line y in: that of the header in force, else `fallback`.
  f64 line_fr_at(f64 y, f64 fallback) const {
    const hd_node* n = in_force(y);
    return n ? n->rec.line_fr : fallback;
  }
};

inline const hd_node* header_list::in_force(f64 y) const {
  const f64 t = static_cast<f64>(line_trunc(y));
  if (!head) return nullptr;
  for (const hd_node* n = head; n->next; n = n->next)
    if (n->line <= t && t <= n->next->line) return n;
  return tail->line <= t ? tail : nullptr;
}

inline void header_list::append(const main_rec& rec, f64 line) {
  auto node = std::make_unique<hd_node>();
  node->rec = rec;
  node->line = line;
  node->prev = tail;
  if (tail)
    tail->next = node.get();
  else
    head = node.get();
  tail = node.get();
  nodes.push_back(std::move(node));
}

// ---- calibration -------------------------------------------------------------------------
// The size errors of "corrfact.dat" and the factor tables made of them: entry i of a table
// corrects a size measured as i * 0.1 mm.
struct corr_tables_rec {
  f32 diameter[10] = {};
  f32 height_a_pct[10] = {};
  f32 height_b_pct[10] = {};
  f32 width_a_pct[10] = {};
  f32 width_b_pct[10] = {};
  f32 height_a_fac[n_corr] = {};
  f32 height_b_fac[n_corr] = {};
  f32 width_a_fac[n_corr] = {};
  f32 width_b_fac[n_corr] = {};
};

// ---- raw positions -----------------------------------------------------------------------
// Per minute of the day, the raw-file offset of each camera's first line block of that minute
// or later (0 = not set). Line timing fills them; the resume file stores them.
struct raw_positions {
  u32 posa_bf[minutes_per_day_table] = {};
  u32 posb_bf[minutes_per_day_table] = {};
};

}  // namespace dropix
