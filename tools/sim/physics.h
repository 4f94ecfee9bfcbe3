// The physical laws of the simulated rain, each with its published source.
//
// Units: diameters D in mm, fall speeds in m/s, rain rates R in mm/h, number densities
// N(D) in m^-3 mm^-1, fluxes in m^-2 s^-1.
#pragma once

#include <vector>

#include "tools/sim/rng.h"

namespace dropix::sim {

// The simulated drops lie between these diameters. Below 0.25 mm the Atlas fall-speed law
// heads for zero (it crosses it at 0.109 mm) and a drop covers little more than one pixel,
// which the instrument cannot size; drops above 8 mm break up before they reach the ground.
constexpr double d_min = 0.25;
constexpr double d_max = 8.0;

// Marshall and Palmer (1948), J. Meteor. 5, 165: N(D) = 8000 exp(-Lambda D) with
// Lambda = 4.1 R^-0.21 mm^-1.
double mp_slope(double rain);
double mp_density(double d, double rain);

// Normalised gamma distribution, Testud et al. (2001), J. Appl. Meteor. 40, 1118:
// N(D) = Nw f(mu) (D/Dm)^mu exp(-(4 + mu) D / Dm), f(mu) = 6/4^4 (4+mu)^(mu+4) / Gamma(mu+4),
// Dm the mass-weighted mean diameter, Nw the intercept of the exponential of equal water
// content and Dm (8000 m^-3 mm^-1 is the Marshall-Palmer value).
double gamma_density(double d, double nw, double dm, double mu);

// Atlas, Srivastava and Sekhon (1973), Rev. Geophys. Space Phys. 11, 1: terminal fall speed
// of raindrops near sea level, v = 9.65 - 10.3 exp(-0.6 D) m/s.
double fall_speed(double d);

// Beard and Chuang (1987), J. Atmos. Sci. 44, 1509, polynomial fit of the equilibrium
// axis ratio b/a (vertical over horizontal axis) of falling drops:
// b/a = 1.0048 + 5.7e-4 D - 2.628e-2 D^2 + 3.682e-3 D^3 - 1.677e-4 D^4.
// Drops below 1 mm are taken as spheres (the fit rises above 1 there).
double axis_ratio(double d);

// Horizontal and vertical axes (mm) of the oblate spheroid of equivalent diameter d and
// axis ratio r: the volume pi/6 a^2 b equals pi/6 d^3.
double horizontal_axis(double d, double r);
double vertical_axis(double d, double r);

enum class dsd_kind { marshall_palmer, gamma };

// A drop size distribution for a nominal rain rate.
struct size_distribution {
  dsd_kind kind = dsd_kind::marshall_palmer;
  double rain = 1.0;  // nominal rain rate, mm/h
  double nw = 8000.0; // gamma: normalised intercept
  double dm = 1.0;    // gamma: mass-weighted mean diameter, mm
  double mu = 3.0;    // gamma: shape
  double density(double d) const;
};

size_distribution marshall_palmer(double rain);
// A gamma distribution of shape mu with the Marshall-Palmer Nw whose Dm is chosen so that
// the rain rate between d_min and d_max equals `rain`.
size_distribution gamma_for_rain(double rain, double mu);

// Rain rate carried by the drops between d_min and d_max:
// R = 6 pi 1e-4 integral N(D) D^3 v(D) dD (mm/h; pi/6 D^3 mm^3 per drop, 3.6e6 s mm/(h m)).
double rain_rate(const size_distribution& s);
// Number of drops crossing one square metre per second: integral N(D) v(D) dD.
double number_flux(const size_distribution& s);

// Draws diameters of drops crossing a horizontal area: the flux-weighted density N(D) v(D)
// (fast drops cross more often than their share of the volume), from a tabulated inverse
// cumulative distribution.
class size_sampler {
 public:
  explicit size_sampler(const size_distribution& s);
  double draw(rng& r) const;
  double flux() const { return flux_; }  // m^-2 s^-1

 private:
  std::vector<double> cdf_;  // cumulative flux at d_min + i * step
  double step_;
  double flux_;
};

}  // namespace dropix::sim
