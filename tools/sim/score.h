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
};

// The drop records of a decoded .hyd stream, each with the line frequency of the main header
// record last met before it.
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

struct score {
  std::vector<class_stats> classes;  // by size
  class_stats large;                 // all drops of 1 mm and more
  int records = 0;                   // drop records in the output
  int unpaired = 0;                  // drop records with no true drop
  int close = 0, close_recovered = 0;      // drops placed too close to another one
  int clipped = 0, clipped_recovered = 0;  // drops cut by a line end (not close)
  double clipped_median = 0;               // their median relative diameter error, percent
  std::vector<int> missed;                 // ids of whole, separate drops of 1 mm and more not paired
};

// A record pairs with the true drop whose first camera A line lies within 2 lines of the
// record's (the nearest first, then the nearest in size); every drop and every record pairs
// at most once.
score score_run(const std::vector<truth_row>& truth, const std::vector<recovered_drop>& drops);

// The statistics as a Markdown table, one row per size class and one for 1 mm and more.
std::string table(const score& s);

}  // namespace dropix::sim
