// Calibration with precision spheres: the simulated instrument sees spheres of known
// diameters, and what its pixels make of their widths and heights, measured the way the
// evaluation measures them, gives the size errors of the correction file "corrfact.dat".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/formats.h"
#include "tools/sim/rng.h"
#include "tools/sim/shadow.h"

namespace dropix::sim {

// Ten sphere diameters (mm) across the range of raindrops.
extern const double calibration_diameters[10];

// What the evaluation makes of a pair of silhouettes before it applies correction factors.
struct sphere_measure {
  double width_a = 0, width_b = 0;    // widest piece (last - first) times the camera's scale, mm
  double height_a = 0, height_b = 0;  // lines times the fall per line, mm
};

// Camera scales from the centre offsets (pix_min + pix_max) / 2 - gate1 of the other
// camera's silhouette, plane distance at the silhouettes' centres, fall per line from the
// plane distance over the mean of the first-line and last-line delays. Nothing when a
// camera saw nothing.
std::optional<sphere_measure> measure(const hd_par& h, const std::vector<mark>& a, const std::vector<mark>& b);

// Size errors in percent at one calibration diameter: positive when the camera sees the
// sphere larger than it is.
struct calibration_point {
  double d = 0;
  double height_a = 0, height_b = 0, width_a = 0, width_b = 0;
};

// Drops `spheres` spheres of each calibration diameter at random positions (wholly inside
// both cameras' lines) and random phases of the line clock, each falling at the terminal
// speed of a raindrop of its size, and averages their measured sizes.
std::vector<calibration_point> calibrate(const hd_par& h, int spheres, rng& r);

// The correction file: eight lines, labels in columns 1-10, value k in the 7 columns from
// column 11 + 7k (a blank and a six-character number).
std::string corrfact_text(const std::vector<calibration_point>& points);

}  // namespace dropix::sim
