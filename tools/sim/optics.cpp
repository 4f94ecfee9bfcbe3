#include "tools/sim/optics.h"

#include <algorithm>
#include <cmath>

namespace dropix::sim {

hd_par instrument_header(u32 valid_since, f64 line_fr) {
  // The builder's plausible instrument, with this instrument's own geometry.
  hd_par h = rawkit::sample_header(valid_since, line_fr);
  h.hd_word0 = 1;
  h.hd_word4 = 7;
  h.HBL = 6.42f;
  h.HBR = 6.55f;
  h.HFR = 6.71f;
  h.XSCALE0_1 = 0.1904f;
  h.XSCALE0_2 = 0.1921f;
  h.L0_1 = 310.0f;
  h.L0_2 = 298.0f;
  return h;
}

view locate(const hd_par& h, double x, double y) {
  const double xs1 = h.XSCALE0_1, xs2 = h.XSCALE0_2, l1 = h.L0_1, l2 = h.L0_2;
  view v;
  v.xs_a = xs1;
  v.xs_b = xs2;
  for (int i = 0; i < 50; ++i) {
    const double prev_a = v.off_a, prev_b = v.off_b;
    v.xs_a = xs1 * (l1 - xs2 * v.off_b) / l1;
    v.off_a = x / v.xs_a;
    v.xs_b = xs2 * (l2 + xs1 * v.off_a) / l2;
    v.off_b = y / v.xs_b;
    if (std::abs(v.off_a - prev_a) < 1e-12 && std::abs(v.off_b - prev_b) < 1e-12) break;
  }
  return v;
}

double plane_distance(const hd_par& h, double c_a, double c_b) {
  const double w = h.gate1 * 2.0;
  const double hfl = static_cast<double>(h.HBL) + h.HFR - h.HBR;
  const double front = hfl + (h.HFR - hfl) * c_a / w;
  const double back = h.HBL + (static_cast<double>(h.HBR) - h.HBL) * c_a / w;
  return back + (front - back) * c_b / w;
}

bool in_view(const hd_par& h, const view& v) {
  const double hi = line_pixels(h) - 1;
  const double ua = h.gate1 + v.off_a, ub = h.gate1 + v.off_b;
  return ua >= 0 && ua <= hi && ub >= 0 && ub <= hi;
}

measuring_area area_of(const hd_par& h) {
  // The largest scales occur on the far edges; a box of that half-width holds the area.
  const double xs_a_max = h.XSCALE0_1 * (h.L0_1 + h.XSCALE0_2 * h.gate1) / h.L0_1;
  const double xs_b_max = h.XSCALE0_2 * (h.L0_2 + h.XSCALE0_1 * h.gate1) / h.L0_2;
  measuring_area a{};
  a.x_lo = -h.gate1 * xs_a_max;
  a.x_hi = h.gate1 * xs_a_max;
  a.y_lo = -h.gate1 * xs_b_max;
  a.y_hi = h.gate1 * xs_b_max;
  constexpr int n = 600;
  const double dx = (a.x_hi - a.x_lo) / n, dy = (a.y_hi - a.y_lo) / n;
  long inside = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      inside += in_view(h, locate(h, a.x_lo + (i + 0.5) * dx, a.y_lo + (j + 0.5) * dy));
  a.area_mm2 = static_cast<double>(inside) * dx * dy;
  return a;
}

std::optional<rawkit::run> shade(double u_left, double u_right, int pixels) {
  if (!(u_right > u_left)) return std::nullopt;
  const int lo = std::max(0, static_cast<int>(std::floor(u_left)));
  const int hi = std::min(pixels - 1, static_cast<int>(std::ceil(u_right)));
  int first = -1, last = -1;
  for (int p = lo; p <= hi; ++p) {
    const double cover = std::min(u_right, p + 0.5) - std::max(u_left, p - 0.5);
    if (cover >= 0.5) {
      if (first < 0) first = p;
      last = p;
    }
  }
  if (first < 0) return std::nullopt;
  return rawkit::run{static_cast<s16>(first), static_cast<s16>(last)};
}

}  // namespace dropix::sim
