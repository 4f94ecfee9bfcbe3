// The truth file: one CSV row per simulated drop, written next to the raw file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dropix::sim {

struct truth_row {
  int id = 0;
  double t = 0;                 // time of day (s): centre crosses camera A's plane
  std::uint64_t first_a = 0;    // first line count shaded by the drop in camera A (0: none)
  std::uint64_t first_b = 0;    // the same in camera B
  int lines_a = 0, lines_b = 0; // scan lines shaded by the drop per camera
  double d = 0;                 // equivalent diameter, mm
  double ratio = 1;             // axis ratio b/a
  double v = 0;                 // fall speed, m/s
  double x = 0, y = 0;          // position, mm from the centre of the area
  bool both = false;            // shaded lines in both cameras
  bool clipped = false;         // its shadow reaches past an end of a camera's line
  int partner = -1;             // id of a drop placed too close to it, or -1
  // Columns added for drifting, oscillating, clustered drops and splashes; a file without
  // them reads with these defaults (B's plane as A's).
  double ratio_b = 1;           // axis ratio when crossing camera B's plane
  double x_b = 0, y_b = 0;      // position when crossing camera B's plane
  bool splash = false;          // a splash droplet, not rain
  int burst = -1;               // number of the cluster it arrived in, or -1
  int pix_a_lo = -1, pix_a_hi = -1;  // leftmost and rightmost pixel it shades in camera A (-1: none)
  int pix_b_lo = -1, pix_b_hi = -1;  // the same in camera B
};

extern const char* const truth_heading;
// One row as the file holds it (no line end).
std::string truth_line(const truth_row& r);

// Writes the rows with a heading line; returns false when the file cannot be written.
bool write_truth(const std::string& path, const std::vector<truth_row>& rows);
// Reads a truth file; an empty result when it cannot be read or has no rows.
std::vector<truth_row> read_truth(const std::string& path);

}  // namespace dropix::sim
