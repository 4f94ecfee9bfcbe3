// Where a drop is and how much of the measuring area could have seen it, from the geometry of
// the main header in force.
//
// Pixel coordinates: pixel p of a scan line has its centre at u = p and covers [p - 0.5,
// p + 0.5); each camera's line holds the pixels 0 .. 2 gate1 - 1 and the centre of the area
// lies at u = gate1 in both cameras. The offset of a point from the centre is off = u - gate1.
//
// Perspective (as the evaluation applies it): each camera's scale at a drop depends on the
// drop's distance from that camera, read off the other camera's offset:
//   xs_a(off_b) = XSCALE0_1 (L0_1 - XSCALE0_2 off_b) / L0_1   (mm per pixel, camera A)
//   xs_b(off_a) = XSCALE0_2 (L0_2 + XSCALE0_1 off_a) / L0_2   (camera B)
// and the horizontal position is x = off_a xs_a(off_b) (along camera A's line), y = off_b
// xs_b(off_a) (along camera B's line), in mm from the centre.
#pragma once

#include <vector>

#include "common/formats.h"

namespace dropix::products {

struct geometry {
  int gate1 = 0;  // centre pixel; each line holds 2 gate1 pixels
  double xs1 = 0, xs2 = 0;  // XSCALE0_1, XSCALE0_2: mm per pixel at the centre
  double l1 = 0, l2 = 0;    // L0_1, L0_2: camera distances to the centre, mm

  double xs_a(double off_b) const { return xs1 * (l1 - xs2 * off_b) / l1; }
  double xs_b(double off_a) const { return xs2 * (l2 + xs1 * off_a) / l2; }
  bool operator==(const geometry&) const = default;
};

geometry geometry_of(const main_rec& h);

// Empty when the header's geometry can be used; otherwise what is wrong with it (a line of
// fewer than 8 pixels, a scale or distance that is not a positive finite number, or a
// perspective that turns a scale negative inside the area).
const char* geometry_fault(const geometry& g);

// Position (mm) of a point seen at pixel centres c_a (camera A) and c_b (camera B).
struct position {
  double x = 0, y = 0;
};
position position_of(const geometry& g, double c_a, double c_b);

// The effective sampling area (mm^2) for a drop whose shadow is w_a mm wide in camera A and
// w_b mm wide in camera B: the part of the measuring area in which such a drop is seen whole
// by both cameras, its silhouette keeping off the `margin` outermost pixels at either end
// of both lines (margin >= 1: a silhouette that reaches pixel margin - 1 or 2 gate1 - margin
// is "near the edge").
//
// A pixel is shaded when the shadow covers half of it or more, so a shadow [u - r, u + r]
// (r = w / (2 xs) pixels) leaves pixel m - 1 dark exactly when u - r > m - 1. The drop is
// seen whole when, in both cameras,
//   margin - 1 + r < u < 2 gate1 - margin - r.
// In offsets that is a band of camera A offsets for each camera B offset, cut on one side by
// camera B's condition (camera B's scale grows with camera A's offset, so its r shrinks).
// The area is the integral over that region of the Jacobian of (off_a, off_b) -> (x, y):
//   |J| = xs_a(off_b) xs_b(off_a) + off_a off_b XSCALE0_1^2 XSCALE0_2^2 / (L0_1 L0_2),
// exactly in off_a (J is linear there) and by the midpoint rule over `slices` slices of
// off_b, with slices of their own in the two strips at the ends of camera B's line where its
// condition cuts in. With w_a = w_b = 0 and margin 1 this is the measuring area: all the points whose
// centre falls on a pixel of both lines.
double effective_area(const geometry& g, double w_a, double w_b, int margin, int slices = 4096);

// effective_area for one header and margin, tabulated over both widths (0 to 12 mm by
// 0.25 mm) and interpolated bilinearly: the area is nearly bilinear in the two widths, and
// the table agrees with the integral within 1e-4 of the measuring area (tested). A node is
// integrated when first needed (a day of rain touches a few hundred of them); wider shadows
// are integrated directly.
class area_table {
 public:
  area_table(const geometry& g, int margin);
  double operator()(double w_a, double w_b);
  double measuring_area() { return node(0, 0); }
  const geometry& geo() const { return geo_; }
  int margin() const { return margin_; }

 private:
  static constexpr double step = 0.25;
  static constexpr int n = 49;  // nodes per width: 0 .. 12 mm
  double node(int i, int j);
  geometry geo_;
  int margin_;
  std::vector<double> values_;  // n x n, w_a major; NaN until integrated
};

}  // namespace dropix::products
