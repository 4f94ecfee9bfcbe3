#include "products/drops.h"

#include <algorithm>
#include <cmath>

namespace dropix::products {

long long scaled(double value, int places) {
  static constexpr double pow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
  // Rounded half away from zero, as llround does, without the library call (this runs ten
  // times per drop); exact below 2^53.
  const double x = value * pow10[places];
  long long r = static_cast<long long>(x);
  const double rest = x - static_cast<double>(r);
  if (rest >= 0.5) ++r;
  else if (rest <= -0.5) --r;
  return r;
}

float unscaled(long long count, int places) {
  static constexpr double pow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
  return static_cast<float>(static_cast<double>(count) / pow10[places]);
}

drop_columns::drop_columns(std::size_t capacity)
    : offset(capacity), time_ms(capacity), qc(capacity), capacity_(capacity) {
  floats.reserve(n_float);
  for (int k = 0; k < n_float; ++k) floats.emplace_back(capacity);
}

void drop_columns::push(const drop_values& p) {
  offset[n_] = static_cast<u32>(p.offset);
  time_ms[n_] = p.time_ms;
  const double values[n_float] = {p.d, p.v, p.ratio, p.w_a, p.w_b, p.h_a, p.h_b, p.x, p.y, p.area};
  for (int k = 0; k < n_float; ++k)
    floats[static_cast<std::size_t>(k)][n_] =
        std::isfinite(values[k]) ? unscaled(scaled(values[k], places_of[k]), places_of[k]) : static_cast<float>(values[k]);
  qc[n_] = p.qc;
  ++n_;
}

drop_deriver::drop_deriver(const qc_options& o)
    : opt_(o), law_(o.law, standard_atmosphere(o.altitude_m)) {}

drop_deriver::~drop_deriver() = default;

area_table& drop_deriver::table_for(const geometry& g) {
  if (last_ && last_->geo() == g) return *last_;
  for (const auto& t : tables_)
    if (t->geo() == g) return *(last_ = t.get());
  tables_.push_back(std::make_unique<area_table>(g, opt_.edge_margin));
  return *(last_ = tables_.back().get());
}

void drop_deriver::accept_header(const main_rec& h, u64 offset) {
  const std::string at = "main header record at offset " + std::to_string(offset);
  if (!std::isfinite(h.line_fr) || !(h.line_fr >= 1.0 && h.line_fr <= 1e7))
    throw bad_record{at + ": line frequency " + std::to_string(h.line_fr) + " is not a plausible number of lines per second"};
  const geometry g = geometry_of(h);
  if (const char* fault = geometry_fault(g)) throw bad_record{at + ": " + fault};
  if (2 * opt_.edge_margin >= 2 * g.gate1)
    throw bad_record{at + ": the edge margin of " + std::to_string(opt_.edge_margin) + " pixels leaves nothing of a " +
                     std::to_string(2 * g.gate1) + "-pixel line"};
  table_for(g);
}

double drop_deriver::measuring_area(const main_rec& h) { return table_for(geometry_of(h)).measuring_area(); }

u8 speed_and_size_flags(double d, double v, const terminal_speed& law, const qc_options& o) {
  u8 qc = 0;
  const double vt = law(d);
  if (!(vt > 0) || !(std::abs(v - vt) <= o.tolerance * vt) || !(v < o.v_max)) qc |= qc_fall_speed;
  if (d <= o.splash_d && v <= o.splash_v) qc |= qc_splash;
  if (!(d >= o.d_min && d <= o.d_max)) qc |= qc_diameter;
  return qc;
}

drop_values drop_deriver::derive(const reader::hyd_record& r, const main_rec& h) {
  const drop_head& k = r.drop;
  drop_values p;
  p.offset = r.offset;

  // Time: the header's day plus the line count over the line frequency (lines since
  // midnight UTC), to the nearest millisecond.
  const double lines_per_day = 86400.0 * h.line_fr;
  if (!std::isfinite(k.y_first) || k.y_first < 0 || k.y_first >= 2 * lines_per_day)
    throw bad_record{"drop record at offset " + std::to_string(r.offset) + ": line count " +
                     std::to_string(k.y_first) + " lies outside the day of its header"};
  const s64 day = static_cast<s64>(h.main_time) / 86400 * 86400;
  p.time_ms = day * 1000 + std::llround(k.y_first / h.line_fr * 1000.0);

  // The record stores its values truncated (diameter to 0.01 mm, scales to 1e-4 mm); the
  // centre of each truncation interval is the unbiased value.
  p.d = (k.diam_100 + 0.5) / 100.0;
  const double ys = (k.yscale_10k + 0.5) * 1e-4;  // fall per scan line, mm
  const double xsa = (k.xscale_a_10k + 0.5) * 1e-4, xsb = (k.xscale_b_10k + 0.5) * 1e-4;
  p.v = ys * h.line_fr / 1000.0;

  // Widths as the evaluation measures them: the widest last - first of the silhouette
  // times the camera's width-corrected scale; heights: lines times the fall per line.
  int wide_a = 0, wide_b = 0, max_a = k.pix_min_a, max_b = k.pix_min_b;
  for (const auto& s : r.a) {
    wide_a = std::max(wide_a, s.last - s.first);
    max_a = std::max<int>(max_a, s.last);
  }
  for (const auto& s : r.b) {
    wide_b = std::max(wide_b, s.last - s.first);
    max_b = std::max<int>(max_b, s.last);
  }
  p.w_a = wide_a * xsa;
  p.w_b = wide_b * xsb;
  p.h_a = static_cast<double>(r.a.size()) * ys;
  p.h_b = static_cast<double>(r.b.size()) * ys;
  p.ratio = p.w_a + p.w_b > 0 ? (p.h_a + p.h_b) / (p.w_a + p.w_b) : std::nan("");

  // Position of the silhouettes' centres, to the half pixel.
  const geometry g = geometry_of(h);
  const position at = position_of(g, 0.5 * (k.pix_min_a + max_a), 0.5 * (k.pix_min_b + max_b));
  p.x = at.x;
  p.y = at.y;
  area_table& table = table_for(g);
  p.area = table(p.w_a, p.w_b);

  p.qc = speed_and_size_flags(p.d, p.v, law_, opt_);
  const int m = opt_.edge_margin, last_pixel = 2 * g.gate1 - 1;
  if (k.pix_min_a < m || k.pix_min_b < m || max_a > last_pixel - m || max_b > last_pixel - m || !(p.area > 0))
    p.qc |= qc_edge;
  return p;
}

}  // namespace dropix::products
