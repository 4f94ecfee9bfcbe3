// The truth check: drop records of the program's .hyd output paired with the simulated
// truth, and how well the program recovered number, size and fall speed of the drops.
#pragma once

#include <string>
#include <vector>

#include "reader/hyd_reader.h"
#include "tools/sim/truth.h"

namespace dropix::sim {

// What a drop record says of its drop.
struct recovered_drop {
  f64 y_first = 0;  // camera A's first line count
  double d = 0;     // equivalent diameter, mm
  double v = 0;     // fall speed, m/s: fall per line times the line frequency in force
  double b_first = -1;  // camera B's first line count; below 0 when not known
  int a_lo = -1, a_hi = -1;  // camera A silhouette's leftmost and rightmost pixel (-1: not known)
  int b_lo = -1, b_hi = -1;  // the same in camera B
};

// The drop records of a decoded .hyd stream, each with the line frequency of the main header
// record last met before it. Camera B's first line follows from the head: an object holds
// one piece on each of its consecutive lines, so y_last = y_first + lines - 1 in each
// camera, and with lines_b = lines_a + lines_diff the record's
// diff_lins = (yb_first - ya_first) + (yb_last - ya_last) = 2 (yb_first - ya_first) + lines_diff,
// whence yb_first = y_first + (diff_lins - lines_diff) / 2, exactly.
std::vector<recovered_drop> drops_of(const std::vector<reader::hyd_record>& records);

struct class_stats {
  double lo = 0, hi = 0;  // diameters [lo, hi), mm
  int drops = 0;          // true drops in the class (not placed too close to another)
  int recovered = 0;      // of them paired with a drop record
  int sized = 0;          // recovered and not clipped at a line end: the diameter statistics
  double median = 0;      // median relative diameter error, percent
  double p95 = 0;         // 95th percentile of the absolute relative error, percent
  double bias = 0;        // mean relative error, percent
  double spread = 0;      // standard deviation of the relative error, percent
  double v_median = 0;    // median relative fall-speed error, percent
  double fraction() const { return drops > 0 ? static_cast<double>(recovered) / drops : 0.0; }
};

// How well camera B's silhouettes were paired with camera A's, for the drops of `min_d` mm
// and more that both cameras see whole (not cut at a line end, not placed too close to
// another drop, not splashes) and over all drop records.
struct pairing_stats {
  double min_d = 0.7;
  int drops = 0;      // such drops
  int recovered = 0;  // of them paired with a record
  int right = 0;      // ... whose diameter lies within 10 % and fall speed within 5 % of the truth
  int records = 0;    // drop records
  // Wrong pairs: records whose camera A silhouette belongs to no true drop, whose camera B
  // silhouette is not their drop's (another drop's, or no drop's: noise or a silhouette
  // that starts where no drop's does), or that pair a drop of the class above with both
  // its silhouettes but miss its size or speed.
  int wrong_no_drop = 0, wrong_other_b = 0, wrong_no_b = 0, wrong_off = 0;
  // Each wrong pair: the record (index into the records), why it is wrong, and the true drop
  // whose camera A silhouette it carries (index into the truth, -1 for none).
  enum class wrong_kind { no_drop, other_b, no_b, off };
  struct wrong_pair {
    int record = 0;
    wrong_kind kind = wrong_kind::no_drop;
    int drop = -1;
  };
  std::vector<wrong_pair> wrong_list;
  // The same by size class of the true drop whose camera A silhouette a record carries: the
  // drops of the class seen whole by both cameras, alone (below min_d too), recovered and
  // right among them, the records of its drops, and the wrong pairs among those records.
  struct by_size {
    double lo = 0, hi = 0;
    int drops = 0, recovered = 0, right = 0;
    int records = 0, other_b = 0, no_b = 0, off = 0;
  };
  std::vector<by_size> sizes;
  int wrong() const { return wrong_no_drop + wrong_other_b + wrong_no_b + wrong_off; }
  double recovered_pct() const { return drops > 0 ? 100.0 * recovered / drops : 0.0; }
  double right_pct() const { return drops > 0 ? 100.0 * right / drops : 0.0; }
  double wrong_pct() const { return records > 0 ? 100.0 * wrong() / records : 0.0; }
};

// A diameter within this share and a fall speed within this share of the truth is right.
constexpr double right_d = 0.10, right_v = 0.05;

struct score {
  pairing_stats pairing;
  std::vector<class_stats> classes;  // by size
  class_stats large;                 // all drops of 1 mm and more
  int records = 0;                   // drop records in the output
  int unpaired = 0;                  // drop records with no true drop
  int close = 0, close_recovered = 0;      // drops placed too close to another one
  int clipped = 0, clipped_recovered = 0;  // drops cut by a line end (not close)
  double clipped_median = 0;               // their median relative diameter error, percent
  std::vector<int> missed;                 // ids of whole, separate drops of 1 mm and more not paired
};

// A record's silhouette in one camera is the drop's when it starts from 2 lines before the
// drop's first line in that camera up to 2 lines before its last (the narrow top lines of a
// drifting drop can break off its silhouette) and, where the truth and the record tell
// them, its columns overlap the drop's (within a pixel). A truth file without columns
// (older simulators), or a record without silhouettes, asks for first lines within 2 lines.
bool a_silhouette_is(const truth_row& t, const recovered_drop& r);
bool b_silhouette_is(const truth_row& t, const recovered_drop& r);

// A record pairs with a true drop whose camera A silhouette is the record's: one whose
// camera B silhouette is the record's too first, then the one starting nearest in camera A,
// then the nearest in size; every drop and every record pairs at most once. For a drop
// placed too close to another, the other's camera B silhouette counts as its own: the two
// make one silhouette.
score score_run(const std::vector<truth_row>& truth, const std::vector<recovered_drop>& drops);

// The statistics as a Markdown table, one row per size class and one for 1 mm and more,
// and the pairing figures.
std::string table(const score& s);

}  // namespace dropix::sim
