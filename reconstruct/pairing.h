// Physical pairing: the second matching mode (/m, or MATCHING PHYSICAL in DROPIX.SET).
//
// Each camera A object is paired with the camera B object that best describes the same drop,
// judged by what the instrument measures of a candidate pair: both cameras' widths in
// millimetres at the scales the pair's positions give, the line counts, and the fall speed
// that the delay between the cameras gives over the plane distance at the pair's position,
// which must agree with the drop's vertical extent and lie in a loose band around the
// terminal speed of its size. The terms make a cost; the pairs are chosen by a minimum-cost
// assignment over the objects waiting together, and a pair whose cost reaches a limit is
// never made: such a camera A object stays unpaired.
//
// Like find_m, find_pairs decides only about camera A objects whose camera B partner can no
// longer come: those starting at horizon_base - 1200 or earlier. Younger camera A objects
// take part in the assignment as competitors for the camera B objects they could claim, but
// they are decided in a later call.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "common/diag.h"
#include "common/records.h"
#include "reconstruct/match.h"
#include "reconstruct/store.h"

namespace dropix {

// What the pairing reads off one object.
struct silhouette {
  drop_rec* obj = nullptr;
  f64 y_first = 0;  // line count of the first piece
  f64 y_last = 0;   // line count of the last piece
  s32 lines = 0;    // pieces (scan lines)
  s32 pix_min = 0;  // leftmost shaded pixel
  s32 pix_max = 0;  // rightmost shaded pixel
  f64 centre = 0;   // middle of the leftmost and rightmost shaded pixel, pixels
  s32 widest = 0;   // shaded pixels of the widest piece, both ends counted
  s32 shaded = 0;   // shaded pixels of all pieces
  bool sizable = false;  // a piece after the first is wider than one pixel (max_wid > 0): the
                         // evaluation's widths (last - first) are not all zero, and find_m
                         // pairs nothing else either
};

silhouette silhouette_of(drop_rec* obj);

// The tolerances of the cost and its limit. Each term is the square of a deviation in units
// of its tolerance; a tolerance combines the pixel and line quantisation with a relative
// part for what the model leaves out (oscillation, drift, the scatter about the laws).
struct pairing_params {
  f64 width_px = 0.6;       // quantisation of a widest piece, pixels (each camera)
  f64 width_rel = 0.05;     // widths of one drop in the two directions
  f64 height_lines = 0.8;   // quantisation of the mean line count, lines
  f64 height_rel = 0.08;    // the vertical axis from the axis-ratio law
  f64 area_px = 0.4;        // quantisation of each chord of a silhouette's area, pixels
  f64 area_edge = 1.0;      // a top or bottom chord one camera misses, pixels
  f64 area_rel = 0.05;      // areas of one drop seen in the two directions
  f64 lines_abs = 1.0;      // line counts of the two cameras, lines
  f64 lines_rel = 0.06;
  f64 speed_band = 0.25;    // |ln(v / v_terminal)| free of cost
  f64 speed_sd = 0.15;      // beyond the band, ln units per unit of deviation
  f64 limit = 25.0;         // a pair costing this much or more is never made
  f64 margin = 2.0;         // a pair whose best alternative costs less than this more is not made
  int max_candidates = 8;   // cheapest camera B candidates kept per camera A object
  int max_block = 48;       // camera A objects solved together at most
};

// The terms of a candidate pair's cost and what the pair says of its drop.
struct pair_cost {
  f64 width = 0;   // camera A width against camera B width, mm
  f64 height = 0;  // mean line count against the vertical axis the fall per line gives
  f64 lines = 0;   // camera A line count against camera B's
  f64 speed = 0;   // fall speed outside the band around the terminal speed
  f64 area = 0;    // camera A silhouette area against camera B's, mm x lines
  f64 diameter = 0;    // equivalent diameter from the widths and the axis-ratio law, mm
  f64 fall_speed = 0;  // plane distance over the mean delay, m/s
  f64 total() const { return width + height + lines + speed + area; }
};

// The cost of pairing camera A's silhouette `a` with camera B's `b` under the header `h`;
// nothing when `b` cannot be a later view of the drop `a` shows: it starts before `a` or
// more than 1200 lines after it, the mean delay of first and last lines is below one line,
// either silhouette is not sizable, or the header's geometry gives no positive scale, plane
// distance or line frequency. Once the line, width and area terms reach the limit the others
// are not computed and stay 0 (the pair is not made either way).
std::optional<pair_cost> cost_of_pair(const main_rec& h, const silhouette& a, const silhouette& b,
                                      const pairing_params& p);

// The laws the cost uses (D in mm): the terminal fall speed (m/s) and the equilibrium axis
// ratio (vertical over horizontal axis, at most 1) of Brandes, Zhang and Vivekanandan
// (2002), J. Appl. Meteor. 41, 674, both fitted to measurements of 0.1 to 8 mm.
f64 terminal_speed(f64 d);
f64 axis_ratio_law(f64 d);

// The geometry of a camera A object's candidate pairs, as the evaluation takes it (eval_dr):
// camera A's pixel position fixes the drop's distance from camera B, and so camera B's
// scale, and camera B's position fixes camera A's scale; the plane distance is bilinear
// between the three measured corners, the fourth keeping them in one plane. What depends on
// camera A's position alone is worked out once per object.
struct row_geometry {
  f64 gate = 0;         // centre pixel
  f64 xs_b = 0;         // camera B, mm per pixel at the drop
  f64 xs_a0 = 0;        // camera A, mm per pixel at camera B's centre pixel ...
  f64 xs_a_slope = 0;   // ... less this much per pixel of camera B's offset
  f64 h_back = 0;       // plane distance at camera B's pixel 0 ...
  f64 h_slope = 0;      // ... plus this much per pixel of camera B's position
  f64 mm_per_s = 0;     // line frequency / 1000: mm per line into m/s
};

// A candidate pair: row a (camera A object), column b (camera B object), its cost.
struct candidate {
  s32 a = 0;
  s32 b = 0;
  f64 cost = 0;
};

// Minimum-cost assignment of rows to columns over the candidates, every row either paired
// by one of its candidates or left unpaired at `unpaired_cost`, every column used at most
// once. Solved with the shortest-augmenting-path form of the Hungarian method on the
// n_rows x (n_cols + n_rows) matrix whose extra columns are the rows' "unpaired" choices:
// O(n_rows^2 (n_cols + n_rows)). The same input always gives the same solution. partner[r]
// is the column of row r, or -1.
class assignment {
 public:
  void solve(int n_rows, int n_cols, std::span<const candidate> cands, f64 unpaired_cost, std::vector<int>& partner);

 private:
  std::vector<f64> cost_, u_, v_, min_to_;
  std::vector<int> col_row_, way_;
  std::vector<char> used_;
};

// The state of the physical pairing in a session: scratch space kept between calls, so that
// a call allocates only while the windows grow, and counts for the trace.
struct pairing_state {
  pairing_params params;
  std::vector<silhouette> a, b;          // waiting objects of this call, in time order
  std::vector<candidate> cands;          // candidate pairs below the limit, row by row
  std::vector<std::size_t> cand_begin;   // row r's candidates: cand_begin[r] .. cand_end[r]
  std::vector<std::size_t> cand_end;
  std::vector<char> evaluated;           // row's candidates worked out in this call
  std::vector<char> row_state;           // row's geometry: 0 not yet, 1 known, 2 none
  std::vector<row_geometry> row_geo;
  std::vector<char> col_seen;            // column met among the candidates
  std::vector<int> frontier;             // columns whose younger competitors are still to find
  std::vector<int> parent;               // union-find over rows, then columns
  std::vector<int> group_of_root;        // group number of a union-find root
  std::vector<int> row_group;            // group of each row
  std::vector<int> group_start;          // rows of group g: rows[group_start[g] .. group_start[g + 1]]
  std::vector<char> group_old;           // group holds a row decided now
  std::vector<int> fill;                 // rows placed per group so far
  std::vector<int> rows;                 // rows grouped, in time order within a group
  std::vector<int> cols, col_at;         // one block's columns, and each column's number in it
  std::vector<candidate> block_cands;
  std::vector<int> partner;              // the solved block's partners
  std::vector<candidate> other_cands;    // the block without one pair ...
  std::vector<int> other_partner;        // ... and its solution
  std::vector<int> refused;              // column of a decided row's near tie, -1: none
  std::vector<int> chosen;               // column chosen for each decided row, -1: none
  std::vector<char> b_taken;             // column paired (or held by a near tie) in this call
  std::vector<const main_rec*> no_geometry;  // headers already reported as unusable
  assignment solver;
  s64 pairs = 0;     // pairs made
  s64 unpaired = 0;  // camera A objects given up without a partner
  s64 near_ties = 0;  // ... of them because their best pair was a near tie
  int largest_block = 0;  // most rows solved together so far
};

// Pairs the objects of both Wait-queues: the camera A objects starting at horizon_base - 1200
// or earlier are decided (paired or given up); the pairs go to `sink` in time order (after
// match_chron, as find_m hands them on) and *total counts them; camera B objects that no
// camera A object still waiting can take (starting at that line or earlier) are released.
// Ends the run as the evaluation would when no main header is in force for a camera A object
// that has a camera B object in its window.
void find_pairs(pairing_state& st, store_state& store, const header_list& headers, u64 horizon_base, s32* total,
                pair_sink& sink, diagnostics& d);

}  // namespace dropix
