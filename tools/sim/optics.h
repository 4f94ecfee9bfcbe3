// The simulated instrument: its header geometry and what its two line cameras see.
//
// Coordinates: the measuring area is a horizontal square around its centre. x (mm) runs
// along camera A's scan line, y (mm) along camera B's. A continuous pixel coordinate u has
// pixel p's centre at u = p, so pixel p covers [p - 0.5, p + 0.5); the area's centre lies at
// u = gate1 in both cameras and a camera's line holds the pixels 0 .. 2 gate1 - 1.
#pragma once

#include <optional>

#include "common/formats.h"
#include "kit/rawbuild.h"

namespace dropix::sim {

// The simulator's instrument header: 512-pixel cameras centred on gate1 256, nominal scales
// near 0.19 mm per pixel, cameras about 300 mm from the centre and light planes 6.4 to
// 6.7 mm apart, slightly tilted against each other.
hd_par instrument_header(u32 valid_since, f64 line_fr);

// Where a drop at (x, y) appears.
struct view {
  double off_a = 0;  // camera A: centre offset from gate1, pixels
  double off_b = 0;  // camera B: centre offset from gate1, pixels
  double xs_a = 0;   // camera A: mm per pixel at the drop
  double xs_b = 0;   // camera B: mm per pixel at the drop
};

// Perspective: each camera's scale grows with the drop's distance from it, and that
// distance is read off the other camera's pixel offset:
//   xs_a = XSCALE0_1 (L0_1 - XSCALE0_2 off_b) / L0_1   (camera A faces the far side, y > 0)
//   xs_b = XSCALE0_2 (L0_2 + XSCALE0_1 off_a) / L0_2   (camera B faces from x < 0)
// with off_a = x / xs_a and off_b = y / xs_b. These are the relations the evaluation
// inverts; the coupled pair is solved by fixed-point iteration (the coupling is weak,
// about 1e-3 per step).
view locate(const hd_par& h, double x, double y);

// Distance (mm) of camera B's light plane below camera A's at pixel centres c_a, c_b:
// bilinear between the corner values HBL (c_a = 0, c_b = 0), HBR (c_a = W, c_b = 0) and
// HFR (c_a = W, c_b = W) with the fourth corner HFL = HBL + HFR - HBR that keeps the
// four corners in one plane; W = 2 gate1.
double plane_distance(const hd_par& h, double c_a, double c_b);

// Pixels on one scan line.
inline int line_pixels(const hd_par& h) { return 2 * h.gate1; }

// True when both cameras see the point's centre on a pixel of their line.
bool in_view(const hd_par& h, const view& v);

// The region from which drop positions are drawn: a bounding box of the area both cameras
// see, and the size of that area (mm^2), measured on a fine grid.
struct measuring_area {
  double x_lo, x_hi, y_lo, y_hi;
  double area_mm2;
};
measuring_area area_of(const hd_par& h);

// Shading rule: pixel p is shaded when the shadow [u_left, u_right] covers at least half
// of it. A shadow of one pixel or more thus shades exactly the pixels whose centres it
// holds, and last - first comes out one pixel short of the shadow's width on average.
// Pixels outside 0 .. pixels - 1 do not exist. Returns the shaded run, if any.
std::optional<rawkit::run> shade(double u_left, double u_right, int pixels);

}  // namespace dropix::sim
