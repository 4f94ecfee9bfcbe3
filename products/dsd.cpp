#include "products/dsd.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace dropix::products {

namespace {

constexpr double pi = 3.141592653589793;
constexpr double rho_water = 1000.0;  // kg m-3
const double nan = std::numeric_limits<double>::quiet_NaN();

s64 floor_div(s64 a, s64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Diameter below which a fraction q of the bins' water lies, by linear interpolation of
// the cumulative water content within the bin that crosses q.
double water_quantile(const interval_sums& s, double total, double q) {
  double below = 0;
  for (int i = 0; i < bins::n_d; ++i) {
    const double next = below + s.m3[i] / total;
    if (next >= q && s.m3[i] > 0) return (i + (q - below) / (next - below)) * bins::d_width;
    below = next;
  }
  return bins::d_top;
}

}  // namespace

dsd_series::dsd_series(s64 first_ms, s64 last_ms, int interval_s) : dt_(interval_s) {
  const s64 first = floor_div(first_ms, 1000LL * dt_), last = floor_div(last_ms, 1000LL * dt_);
  start_s_ = first * dt_;
  sums_.resize(static_cast<std::size_t>(std::max<s64>(last - first, 0) + 1));
}

void dsd_series::add(const drop_values& p) {
  const s64 k = floor_div(p.time_ms, 1000LL * dt_) - start_s_ / dt_;
  if (k < 0 || k >= static_cast<s64>(sums_.size())) return;
  interval_sums& s = sums_[static_cast<std::size_t>(k)];
  ++s.n_raw;
  const int i = bins::diameter(p.d), j = bins::velocity(p.v);
  if (i >= 0 && j >= 0) s.cells.push_back(static_cast<u16>(i * bins::n_v + j));
  if (p.qc != 0 || i < 0 || !(p.area > 0) || !(p.v > 0)) return;
  const double a = p.area * 1e-6;  // m^2
  const double w = 1.0 / (a * p.v);
  ++s.n;
  ++s.count[i];
  s.conc[i] += w;
  s.vsum[i] += p.v;
  const double d3 = p.d * p.d * p.d;
  s.m3[i] += d3 * w;
  double dk = 1;
  for (double& m : s.moment) {
    m += dk * w;
    dk *= p.d;
  }
  s.depth_mm += pi / 6.0 * d3 / p.area;
  s.energy += pi / 12.0 * rho_water * d3 * 1e-9 * p.v * p.v / a;
  s.d_min = s.n == 1 ? p.d : std::min(s.d_min, p.d);
  s.d_max = s.n == 1 ? p.d : std::max(s.d_max, p.d);
}

dsd_values derive_dsd(const interval_sums& s, int interval_s) {
  dsd_values o;
  const double dt = interval_s;
  for (int i = 0; i < bins::n_d; ++i) {
    o.nd[i] = s.conc[i] / (dt * bins::d_width);
    o.fall_velocity[i] = s.count[i] ? s.vsum[i] / s.count[i] : nan;
  }
  for (int k = 0; k < 7; ++k) o.m[k] = s.moment[k] / dt;
  o.nt = o.m[0];
  o.p = s.depth_mm;
  o.r = s.depth_mm * 3600.0 / dt;
  o.lwc = pi / 6.0 * 1e-3 * o.m[3];  // g m-3: rho_w = 1e-3 g mm-3
  o.tke = s.energy;
  o.kef = s.energy * 3600.0 / dt;
  o.ked = o.r > 0 ? o.kef / o.r : nan;
  if (s.n == 0) {
    o.z = o.dm = o.sigma_m = o.nw = o.d10 = o.d50 = o.d90 = o.d_min = o.d_max = nan;
    return o;
  }
  o.z = 10.0 * std::log10(o.m[6]);
  o.dm = o.m[4] / o.m[3];
  o.sigma_m = std::sqrt(std::max(0.0, o.m[5] / o.m[3] - o.dm * o.dm));
  o.nw = 256.0 / 6.0 * o.m[3] / std::pow(o.dm, 4);
  double total = 0;
  for (double v : s.m3) total += v;
  o.d10 = water_quantile(s, total, 0.1);
  o.d50 = water_quantile(s, total, 0.5);
  o.d90 = water_quantile(s, total, 0.9);
  o.d_min = s.d_min;
  o.d_max = s.d_max;
  return o;
}

}  // namespace dropix::products
