#include "products/fall_speed.h"

#include <algorithm>
#include <cmath>

namespace dropix::products {

namespace {

constexpr double g0 = 9.80665;          // standard gravity, m s-2
constexpr double r_dry = 287.05287;     // gas constant of dry air, J kg-1 K-1
constexpr double lapse = 0.0065;        // tropospheric lapse rate, K/m
constexpr double t_sea = 288.15;        // K
constexpr double p_sea = 101325.0;      // Pa
constexpr double rho_water = 1000.0;    // kg m-3

// Sutherland's law with the constants of the US Standard Atmosphere 1976.
double sutherland(double t) { return 1.458e-6 * t * std::sqrt(t) / (t + 110.4); }

// Surface tension of water against air (N/m), linear in temperature: Pruppacher and Klett
// (1997), Microphysics of Clouds and Precipitation, eq. 5-12.
double surface_tension(double t) { return 0.0761 - 1.55e-4 * (t - 273.15); }

double poly(const double* b, int n, double x) {
  double y = 0;
  for (int i = n - 1; i >= 0; --i) y = y * x + b[i];
  return y;
}

}  // namespace

atmosphere air_at(double temperature_k, double pressure_pa) {
  atmosphere a;
  a.temperature_k = temperature_k;
  a.pressure_pa = pressure_pa;
  a.air_density = pressure_pa / (r_dry * temperature_k);
  a.air_viscosity = sutherland(temperature_k);
  return a;
}

atmosphere standard_atmosphere(double altitude_m) {
  const double t = t_sea - lapse * altitude_m;
  return air_at(t, p_sea * std::pow(t / t_sea, g0 / (lapse * r_dry)));
}

bool parse_speed_law(std::string_view text, speed_law* law) {
  if (text == "atlas") *law = speed_law::atlas_1973;
  else if (text == "beard") *law = speed_law::beard_1976;
  else return false;
  return true;
}

const char* law_name(speed_law law) { return law == speed_law::atlas_1973 ? "atlas" : "beard"; }

const char* law_citation(speed_law law) {
  return law == speed_law::atlas_1973
             ? "Atlas, Srivastava and Sekhon (1973), Rev. Geophys. Space Phys. 11, 1: v = 9.65 - 10.3 exp(-0.6 D)"
             : "Beard (1976), J. Atmos. Sci. 33, 851, in the standard atmosphere at the station's altitude";
}

double atlas_1973(double d_mm) { return 9.65 - 10.3 * std::exp(-0.6 * d_mm); }

double beard_1976(double d_mm, const atmosphere& air) {
  if (!(d_mm > 0)) return 0;
  const double d = std::min(d_mm, 7.0) * 1e-3;  // m
  const double rho = air.air_density, eta = air.air_viscosity;
  const double drho = rho_water - rho;
  // Slip correction: mean free path of air molecules, 6.62e-8 m at 1013.25 hPa and 20 C,
  // scaled with viscosity, pressure and temperature.
  const double lambda = 6.62e-8 * (eta / 1.818e-5) * (101325.0 / air.pressure_pa) *
                        std::sqrt(air.temperature_k / 293.15);
  const double slip = 1.0 + 2.51 * lambda / d;
  if (d < 19e-6) return drho * g0 * d * d * slip / (18.0 * eta);
  double reynolds = 0;
  if (d < 1.07e-3) {
    // Regime 2: Reynolds number from the Davies number N_Da = 4 rho drho g d^3 / (3 eta^2).
    static constexpr double b[] = {-3.18657, 0.992696, -0.153193e-2, -0.987059e-3,
                                   -0.578878e-3, 0.855176e-4, -0.327815e-5};
    const double x = std::log(4.0 * rho * drho * g0 * d * d * d / (3.0 * eta * eta));
    reynolds = slip * std::exp(poly(b, 7, x));
  } else {
    // Regime 3: from the modified Bond number Bo = 4 drho g d^2 / (3 sigma) and the physical
    // property number Np = sigma^3 rho^2 / (eta^4 drho g).
    static constexpr double b[] = {-5.00015, 5.23778, -2.04914, 0.475294, -0.0542819, 0.238449e-2};
    const double sigma = surface_tension(air.temperature_k);
    const double np6 = std::pow(sigma * sigma * sigma * rho * rho / (eta * eta * eta * eta * drho * g0), 1.0 / 6.0);
    const double x = std::log(4.0 * drho * g0 * d * d / (3.0 * sigma) * np6);
    reynolds = np6 * std::exp(poly(b, 6, x));
  }
  return eta * reynolds / (rho * d);
}

}  // namespace dropix::products
