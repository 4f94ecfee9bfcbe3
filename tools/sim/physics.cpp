#include "tools/sim/physics.h"

#include <algorithm>
#include <cmath>

namespace dropix::sim {

namespace {

constexpr double integration_step = 0.001;  // mm

// Integral of f over [d_min, d_max] by the trapezoid rule.
template <class F>
double integrate(F f) {
  const int n = static_cast<int>(std::lround((d_max - d_min) / integration_step));
  double sum = 0.5 * (f(d_min) + f(d_max));
  for (int i = 1; i < n; ++i) sum += f(d_min + i * integration_step);
  return sum * integration_step;
}

}  // namespace

double mp_slope(double rain) { return 4.1 * std::pow(rain, -0.21); }

double mp_density(double d, double rain) { return 8000.0 * std::exp(-mp_slope(rain) * d); }

double gamma_density(double d, double nw, double dm, double mu) {
  const double f = 6.0 / 256.0 * std::pow(4.0 + mu, mu + 4.0) / std::tgamma(mu + 4.0);
  return nw * f * std::pow(d / dm, mu) * std::exp(-(4.0 + mu) * d / dm);
}

double fall_speed(double d) { return 9.65 - 10.3 * std::exp(-0.6 * d); }

double axis_ratio(double d) {
  if (d < 1.0) return 1.0;
  return 1.0048 + 5.7e-4 * d - 2.628e-2 * d * d + 3.682e-3 * d * d * d - 1.677e-4 * d * d * d * d;
}

double horizontal_axis(double d, double r) { return d / std::cbrt(r); }
double vertical_axis(double d, double r) { return horizontal_axis(d, r) * r; }

double size_distribution::density(double d) const {
  return kind == dsd_kind::marshall_palmer ? mp_density(d, rain) : gamma_density(d, nw, dm, mu);
}

size_distribution marshall_palmer(double rain) {
  size_distribution s;
  s.kind = dsd_kind::marshall_palmer;
  s.rain = rain;
  return s;
}

size_distribution gamma_for_rain(double rain, double mu) {
  size_distribution s;
  s.kind = dsd_kind::gamma;
  s.rain = rain;
  s.mu = mu;
  // The rain rate grows with Dm at fixed Nw: bisect.
  double lo = 0.3, hi = 5.0;
  for (int i = 0; i < 60; ++i) {
    s.dm = 0.5 * (lo + hi);
    (rain_rate(s) < rain ? lo : hi) = s.dm;
  }
  return s;
}

double rain_rate(const size_distribution& s) {
  return 6.0 * 3.141592653589793e-4 *
         integrate([&](double d) { return s.density(d) * d * d * d * fall_speed(d); });
}

double number_flux(const size_distribution& s) {
  return integrate([&](double d) { return s.density(d) * fall_speed(d); });
}

size_sampler::size_sampler(const size_distribution& s) : step_(integration_step) {
  const int n = static_cast<int>(std::lround((d_max - d_min) / step_));
  cdf_.assign(n + 1, 0.0);
  double prev = s.density(d_min) * fall_speed(d_min);
  for (int i = 1; i <= n; ++i) {
    const double cur = s.density(d_min + i * step_) * fall_speed(d_min + i * step_);
    cdf_[i] = cdf_[i - 1] + 0.5 * (prev + cur) * step_;
    prev = cur;
  }
  flux_ = cdf_.back();
}

double size_sampler::draw(rng& r) const {
  const double target = r.uniform() * flux_;
  const auto it = std::upper_bound(cdf_.begin(), cdf_.end(), target);
  const std::size_t i = std::clamp<std::size_t>(it - cdf_.begin(), 1, cdf_.size() - 1);
  const double lo = cdf_[i - 1], hi = cdf_[i];
  const double frac = hi > lo ? (target - lo) / (hi - lo) : 0.0;
  return d_min + (static_cast<double>(i - 1) + frac) * step_;
}

}  // namespace dropix::sim
