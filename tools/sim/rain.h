// A simulated rain event: drops arriving at the measuring area, and the noise that the
// cameras record besides them.
#pragma once

#include <cstdint>
#include <vector>

#include "common/formats.h"
#include "tools/sim/physics.h"
#include "tools/sim/rng.h"

namespace dropix::sim {

struct drop {
  int id = 0;         // running number in time order
  double t = 0;       // time of day (s) at which the centre crosses camera A's light plane
  double d = 0;       // equivalent (volume) diameter, mm
  double ratio = 1;   // axis ratio b/a
  double v = 0;       // fall speed, m/s
  double x = 0;       // position along camera A's line, mm from the centre
  double y = 0;       // position along camera B's line, mm from the centre
  int partner = -1;   // id of the drop it was placed too close to, or -1
};

struct event_options {
  double rain = 5.0;        // nominal rain rate, mm/h
  double minutes = 5.0;     // length of the recording
  double start = 43200.0;   // start of the recording, seconds of the day (UTC)
  dsd_kind dsd = dsd_kind::marshall_palmer;
  double mu = 3.0;          // shape of the gamma distribution
  double close_pairs = 0.0; // drops placed too close to another one, per minute
  double specks = 20.0;     // single-line specks per camera and minute
  double streaks = 0.5;     // one-pixel streaks per camera and minute
};

struct rain_event {
  std::vector<drop> drops;  // in time order
  double area_mm2 = 0;      // the measuring area both cameras see
  double flux = 0;          // drops per m^2 and second between d_min and d_max
};

// Arrivals form a Poisson process whose rate is the drop flux through the measuring area
// (number density times fall speed, integrated over the sizes, times the area); each drop
// takes a diameter from the flux-weighted size distribution, its Atlas fall speed, its
// Beard-Chuang axis ratio and a position drawn uniformly over the area both cameras see.
rain_event make_rain(const event_options& o, const hd_par& h, rng& r);

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
