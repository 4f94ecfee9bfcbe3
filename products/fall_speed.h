// Terminal fall speeds of raindrops in still air, for the fall-speed check of the products.
//
// Two laws:
//   Atlas, Srivastava and Sekhon (1973), Rev. Geophys. Space Phys. 11, 1:
//     v = 9.65 - 10.3 exp(-0.6 D)  (m/s, D in mm), fitted to Gunn and Kinzer (1949) at sea level;
//   Beard (1976), J. Atmos. Sci. 33, 851: the drag of a drop from its Davies (or Bond) number,
//     with the air's density and viscosity, so that the speed follows the station's altitude.
// The atmosphere for Beard's law is the standard atmosphere (ICAO 1993 / US Standard
// Atmosphere 1976, troposphere) at the station's altitude, dry.
#pragma once

#include <string>
#include <string_view>

namespace dropix::products {

// Air and water at the instrument.
struct atmosphere {
  double temperature_k = 288.15;  // K
  double pressure_pa = 101325.0;  // Pa
  double air_density = 1.2250;    // kg m-3
  double air_viscosity = 1.7894e-5;  // dynamic viscosity, Pa s
};

// The standard atmosphere at altitude h (m above sea level, -500 .. 11000: the troposphere):
//   T = 288.15 K - 0.0065 K/m h;  p = 101325 Pa (T / 288.15 K)^(g0 / (L R));  rho = p / (R T)
// with g0 = 9.80665 m s-2, L = 0.0065 K/m, R = 287.05287 J kg-1 K-1, and the viscosity of
// Sutherland's law as the standard atmosphere gives it: eta = 1.458e-6 T^1.5 / (T + 110.4).
atmosphere standard_atmosphere(double altitude_m);

// Air at temperature T and pressure p (dry), for tests against measurements made so.
atmosphere air_at(double temperature_k, double pressure_pa);

enum class speed_law { atlas_1973, beard_1976 };

// "atlas" or "beard"; false for anything else.
bool parse_speed_law(std::string_view text, speed_law* law);
const char* law_name(speed_law law);      // "atlas" / "beard"
const char* law_citation(speed_law law);  // the reference, for file attributes

// Atlas et al. (1973), m/s; negative below 0.109 mm, where the fit has no meaning.
double atlas_1973(double d_mm);

// Beard (1976), m/s, for D in mm: the slip-corrected Stokes regime below 19 um, the Davies
// number regime up to 1.07 mm, the Bond number regime up to 7 mm; beyond 7 mm the speed of a
// 7 mm drop (the law's end; real drops that large flatten and do not fall faster). 0 for
// D <= 0.
double beard_1976(double d_mm, const atmosphere& air);

// A terminal-speed law ready to evaluate: the law and, for Beard's, the atmosphere.
class terminal_speed {
 public:
  terminal_speed(speed_law law, const atmosphere& air) : law_(law), air_(air) {}
  double operator()(double d_mm) const {
    return law_ == speed_law::atlas_1973 ? atlas_1973(d_mm) : beard_1976(d_mm, air_);
  }
  speed_law law() const { return law_; }
  const atmosphere& air() const { return air_; }

 private:
  speed_law law_;
  atmosphere air_;
};

}  // namespace dropix::products
