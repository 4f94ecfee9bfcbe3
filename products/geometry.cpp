#include "products/geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace dropix::products {

geometry geometry_of(const main_rec& h) {
  geometry g;
  g.gate1 = h.gate1;
  g.xs1 = h.XSCALE0_1;
  g.xs2 = h.XSCALE0_2;
  g.l1 = h.L0_1;
  g.l2 = h.L0_2;
  return g;
}

const char* geometry_fault(const geometry& g) {
  auto positive = [](double v) { return std::isfinite(v) && v > 0; };
  if (g.gate1 < 4) return "gate1 below 4 pixels";
  if (!positive(g.xs1) || !positive(g.xs2)) return "a nominal scale (XSCALE0_1, XSCALE0_2) that is not a positive number";
  if (!positive(g.l1) || !positive(g.l2)) return "a camera distance (L0_1, L0_2) that is not a positive number";
  // Both scales must stay positive over the whole line of the other camera.
  if (!(g.xs_a(g.gate1) > 0) || !(g.xs_b(-g.gate1) > 0))
    return "camera distances too short for the line: a scale turns negative inside the area";
  return nullptr;
}

position position_of(const geometry& g, double c_a, double c_b) {
  const double off_a = c_a - g.gate1, off_b = c_b - g.gate1;
  return {off_a * g.xs_a(off_b), off_b * g.xs_b(off_a)};
}

double effective_area(const geometry& g, double w_a, double w_b, int margin, int slices) {
  w_a = std::max(0.0, w_a);
  w_b = std::max(0.0, w_b);
  const double lo = margin - 1.0 - g.gate1;  // limits of u - r and u + r, as offsets
  const double hi = g.gate1 - static_cast<double>(margin);
  if (!(hi > lo) || slices < 4) return 0;
  const double cross = g.xs1 * g.xs1 * g.xs2 * g.xs2 / (g.l1 * g.l2);
  // Area of the slice of camera B offset s, one unit thick.
  auto slice = [&](double s) {
    // Camera A: its radius in pixels at this depth.
    const double r_a = w_a / (2.0 * g.xs_a(s));
    double a_lo = lo + r_a;
    const double a_hi = hi - r_a;
    // Camera B: room q on either side of s for its radius w_b / (2 xs_b(off_a)), which asks
    // xs_b(off_a) > w_b / (2 q), a lower bound on off_a.
    const double q = std::min(s - lo, hi - s);
    if (w_b > 0) a_lo = std::max(a_lo, g.l2 * (w_b / (2.0 * q * g.xs2) - 1.0) / g.xs1);
    if (!(a_hi > a_lo)) return 0.0;
    const double mid = 0.5 * (a_lo + a_hi);
    return (a_hi - a_lo) * (g.xs_a(s) * g.xs_b(mid) + mid * s * cross);
  };
  auto midpoint = [&](double from, double to, int n) {
    const double ds = (to - from) / n;
    double sum = 0;
    for (int i = 0; i < n; ++i) sum += slice(from + (i + 0.5) * ds);
    return sum * ds;
  };
  // Within camera B's largest radius of either end of its line, its condition cuts each slice
  // and the slice area changes fast with s: those two strips get slices of their own.
  const double strip = std::min(w_b / (2.0 * g.xs_b(lo)), 0.5 * (hi - lo));
  if (!(strip > 0)) return midpoint(lo, hi, slices);
  const int n_strip = std::max(slices / 4, 1);
  return midpoint(lo, lo + strip, n_strip) + midpoint(lo + strip, hi - strip, slices) + midpoint(hi - strip, hi, n_strip);
}

area_table::area_table(const geometry& g, int margin)
    : geo_(g), margin_(margin), values_(n * n, std::numeric_limits<double>::quiet_NaN()) {}

double area_table::node(int i, int j) {
  double& v = values_[static_cast<std::size_t>(i * n + j)];
  if (std::isnan(v)) v = effective_area(geo_, i * step, j * step, margin_, 1024);
  return v;
}

double area_table::operator()(double w_a, double w_b) {
  w_a = std::max(0.0, w_a);
  w_b = std::max(0.0, w_b);
  const double fa = w_a / step, fb = w_b / step;
  if (!(fa < n - 1) || !(fb < n - 1)) return effective_area(geo_, w_a, w_b, margin_);
  const int i = static_cast<int>(fa), j = static_cast<int>(fb);
  const double ta = fa - i, tb = fb - j;
  return (1 - ta) * ((1 - tb) * node(i, j) + tb * node(i, j + 1)) + ta * ((1 - tb) * node(i + 1, j) + tb * node(i + 1, j + 1));
}

}  // namespace dropix::products
