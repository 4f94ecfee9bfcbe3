// A simulated rain event: drops arriving at the measuring area, and the noise that the
// cameras record besides them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/formats.h"
#include "tools/sim/physics.h"
#include "tools/sim/rng.h"

namespace dropix::sim {

struct drop {
  int id = 0;         // running number in time order
  double t = 0;       // time of day (s) at which the centre crosses camera A's light plane
  double d = 0;       // equivalent (volume) diameter, mm
  double ratio = 1;   // axis ratio b/a when crossing camera A's plane
  double ratio_b = 0; // axis ratio when crossing camera B's plane; 0: the same as `ratio`
  double v = 0;       // fall speed, m/s
  double x = 0;       // position along camera A's line, mm from the centre, at camera A's plane
  double y = 0;       // position along camera B's line, mm from the centre, at camera A's plane
  double ux = 0;      // horizontal velocity along camera A's line (x), m/s
  double uy = 0;      // horizontal velocity along camera B's line (y), m/s
  int partner = -1;   // id of the drop it was placed too close to, or -1
  int burst = -1;     // number of the cluster of drops it arrived in, or -1
  bool splash = false;  // a splash droplet, not rain
  double ratio_at_b() const { return ratio_b > 0 ? ratio_b : ratio; }
};

// A rain-rate profile: rates (mm/h) at minutes from the start of the recording, linear or
// step (each rate holds up to the next point) in between; the first rate holds before the
// first point and the last after the last.
struct rate_point {
  double minute = 0;
  double rain = 0;
};
struct rain_profile {
  std::vector<rate_point> points;  // growing minutes
  bool step = false;
  bool empty() const { return points.empty(); }
  double rate_at(double minute) const;
  // Mean rate over [m0, m1] (minutes), exact for either interpolation.
  double mean_rate(double m0, double m1) const;
  double last_minute() const { return points.empty() ? 0.0 : points.back().minute; }
  double peak() const;
};

// "minute rate" pairs, one a line, '#' starts a comment; minutes must grow and rates lie
// in [0, 300] mm/h. Nothing, with the reason in *error, when the text is not such a profile.
std::optional<rain_profile> parse_profile(const std::string& text, std::string* error = nullptr);

// Named rain events: "convective" (an hour: a burst above 50 mm/h, then a stratiform tail
// near 1-2 mm/h), "stratiform" (two hours of 1-5 mm/h), "shower" (20 minutes up to 25 mm/h).
std::optional<rain_profile> named_event(const std::string& name);
extern const char* const event_names;  // for messages: the names above

struct event_options {
  double rain = 5.0;        // nominal rain rate, mm/h
  double minutes = 5.0;     // length of the recording
  double start = 43200.0;   // start of the recording, seconds of the day (UTC)
  dsd_kind dsd = dsd_kind::marshall_palmer;
  double mu = 3.0;          // shape of the gamma distribution
  double close_pairs = 0.0; // drops placed too close to another one, per minute
  double specks = 20.0;     // single-line specks per camera and minute
  double streaks = 0.5;     // one-pixel streaks per camera and minute
  // A rain rate that changes: when not empty, it replaces `rain` (minutes from `start`).
  rain_profile profile;
  // Heavy-rain realism; all off by default.
  double turbulence = 0.0;  // relative standard deviation of fall speeds about the law
  double wind = 0.0;        // horizontal wind, m/s: drops drift with it between the planes
  double wind_dir = 45.0;   // degrees from camera A's line (x) towards camera B's line (y)
  double gust = 0.0;        // standard deviation (m/s) of each horizontal component per drop
  double oscillation = 0.0; // standard deviation of the axis ratio about equilibrium (D >= 1 mm)
  bool oscillation_rayleigh = false;  // the ratio oscillates on between the planes
  double bursts = 0.0;      // clusters of drops of similar size per minute
  int burst_drops = 4;      // drops in a cluster
  double burst_ms = 5.0;    // a cluster's drops arrive within this time
  double splashes = 0.0;    // splash droplets per minute
};

struct rain_event {
  std::vector<drop> drops;  // in time order
  double area_mm2 = 0;      // the measuring area both cameras see
  double flux = 0;          // drops per m^2 and second between d_min and d_max (constant rate)
  double expected_drops = 0;  // expected number of rain drops of the Poisson process
  double expected_mm = 0;     // expected water depth they carry (the rate's integral), mm
};

// Arrivals form a Poisson process whose rate is the drop flux through the measuring area
// (number density times fall speed, integrated over the sizes, times the area); each drop
// takes a diameter from the flux-weighted size distribution, its Atlas fall speed, its
// Beard-Chuang axis ratio and a position drawn uniformly over the area both cameras see.
// With a profile the process is inhomogeneous: piecewise constant over segments of
// `profile_segment` seconds, each with the mean rate over it and that rate's distribution.
// Then come, when asked for, fall-speed scatter, drift, oscillation, clusters, close pairs
// and splashes.
rain_event make_rain(const event_options& o, const hd_par& h, rng& r);
constexpr double profile_segment = 5.0;

// The factor on the law's fall speed of a drop crossing the area in turbulent air of relative
// standard deviation `sigma`: log-normal of mean 1 and that deviation among the drops in the
// air, weighted by speed for those crossing (fast drops cross more often), so
// log f ~ N(+s^2/2, s^2) with s^2 = ln(1 + sigma^2). Fall speeds spread about the terminal
// speed more the stronger the turbulence: Thurai, Bringi, Gatlin and Wingo (2021), Adv. Sci.
// Res. 18, 33; Montero-Martinez, Kostinski, Shaw and Garcia-Garcia (2009), Geophys. Res.
// Lett. 36, L11818.
double turbulence_factor(double sigma, rng& r);

// Frequency (Hz) of the fundamental (n = 2) shape oscillation of a water drop of diameter d
// (mm): Rayleigh (1879), Proc. R. Soc. Lond. 29, 71,
// f = sqrt(n (n-1) (n+2) sigma / (rho a^3)) / (2 pi), surface tension 0.0728 N/m,
// density 1000 kg/m^3, a = d/2.
double rayleigh_frequency(double d);

// Noise on one camera's scan lines.
struct noise_mark {
  int camera = 1;        // 1 = A, 2 = B
  std::uint64_t line = 0;  // first line count
  int lines = 1;         // number of consecutive lines
  s16 first = 0, last = 0;  // shaded pixels
};

// Single-line specks (electronic noise, splash fragments: 1 to 6 pixels on one line) and
// one-pixel streaks (a thread or an insect leg in the light path: one pixel over tens to
// hundreds of lines), both Poisson in time and uniform over the line.
std::vector<noise_mark> make_noise(const event_options& o, const hd_par& h, rng& r);

}  // namespace dropix::sim
