// Drop size distributions over fixed time intervals, from the drops themselves.
//
// Each drop k that passes QC stands for 1 / (A_k v_k dt) drops per cubic metre of air, A_k its
// effective sampling area (m^2), v_k its measured fall speed (m/s), dt the interval (s).
// Everything below sums such weights; docs/products.md has the formulas and their sources.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "common/formats.h"
#include "products/drops.h"

namespace dropix::products {

// Diameter bins of 0.2 mm from 0 to 10 mm, velocity bins of 0.2 m/s from 0 to 12 m/s.
struct bins {
  static constexpr int n_d = 50, n_v = 60;
  static constexpr double d_width = 0.2, v_width = 0.2;
  static constexpr double d_top = n_d * d_width, v_top = n_v * v_width;
  // Bin of a value, the top edge belonging to the last bin; -1 outside [0, top].
  static int diameter(double d) { return index(d, d_width, n_d); }
  static int velocity(double v) { return index(v, v_width, n_v); }

 private:
  static int index(double x, double w, int n) {
    if (!(x >= 0) || x > n * w) return -1;
    const int i = static_cast<int>(x / w);
    return i < n ? i : n - 1;
  }
};

// Sums over the drops of one interval.
struct interval_sums {
  u32 n_raw = 0;  // drop records in the interval
  u32 n = 0;      // of them, drops that passed QC
  std::array<u32, bins::n_d> count{};    // QC-passed drops per diameter bin
  std::array<double, bins::n_d> conc{};  // sum of 1 / (A v) per diameter bin, m-1 s
  std::array<double, bins::n_d> vsum{};  // sum of v per diameter bin, m/s
  std::array<double, bins::n_d> m3{};    // sum of D^3 / (A v) per diameter bin
  std::array<double, 7> moment{};        // sum of D^k / (A v), k = 0..6 (D in mm, A in m^2)
  double depth_mm = 0;   // sum of pi/6 D^3 / A (mm^3 over mm^2): the rain the drops bring
  double energy = 0;     // sum of (pi/12) rho_w D^3 v^2 / A, J m-2
  double d_min = 0, d_max = 0;  // of the QC-passed drops (valid when n > 0)
  std::vector<u16> cells;  // (diameter bin * n_v + velocity bin) of every drop inside both bin ranges
};

// The intervals [start + i dt, start + (i + 1) dt) covering a stretch of time, dt dividing a
// day so that intervals align with midnight.
class dsd_series {
 public:
  // Intervals from the one holding first_ms to the one holding last_ms (first <= last).
  dsd_series(s64 first_ms, s64 last_ms, int interval_s);
  void add(const drop_values& p);
  std::size_t size() const { return sums_.size(); }
  int interval_s() const { return dt_; }
  s64 start_s(std::size_t i) const { return start_s_ + static_cast<s64>(i) * dt_; }
  s64 end_s(std::size_t i) const { return start_s(i) + dt_; }  // the time label
  const interval_sums& at(std::size_t i) const { return sums_[i]; }

 private:
  int dt_;
  s64 start_s_;
  std::vector<interval_sums> sums_;
};

// The derived quantities of one interval. Quantities without drops to define them (Z, Dm,
// sigma_m, Nw, D10, D50, D90, Dmin, Dmax, KED, fall_velocity of an empty bin) are NaN.
struct dsd_values {
  std::array<double, bins::n_d> nd{};  // drop_number_concentration, m-3 mm-1
  std::array<double, bins::n_d> fall_velocity{};  // mean measured, m/s
  std::array<double, 7> m{};  // M0..M6, m-3 mm^k
  double nt = 0, r = 0, p = 0, z = 0, lwc = 0;
  double dm = 0, sigma_m = 0, nw = 0, d10 = 0, d50 = 0, d90 = 0, d_min = 0, d_max = 0;
  double tke = 0, kef = 0, ked = 0;
};
dsd_values derive_dsd(const interval_sums& s, int interval_s);

}  // namespace dropix::products
