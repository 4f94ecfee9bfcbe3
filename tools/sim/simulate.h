// One simulated recording: the rain event, what the cameras make of it, and the raw file
// the logger writes, with the truth and a few figures to judge its realism.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/formats.h"
#include "tools/sim/logger.h"
#include "tools/sim/rain.h"
#include "tools/sim/truth.h"

namespace dropix::sim {

struct sim_options {
  event_options event;
  logger_options logger;
  f64 line_fr = 55000.0;  // scan lines per second
  int year = 2026, month = 12, day = 8;  // the recording's date (UTC)
  std::uint64_t seed = 1;
};

struct sim_stats {
  long drops = 0;          // drops simulated
  long seen_both = 0;      // drops with shaded lines in both cameras
  long clipped = 0;        // drops whose shadow is cut by an end of a line
  long close = 0;          // drops placed too close to another one
  long splashes = 0;       // splash droplets among the drops
  long clustered = 0;      // drops that arrived in clusters
  long blocks_a = 0, blocks_b = 0, headers = 0, foreign = 0;
  long lines_a = 0, lines_b = 0;  // shaded scan lines per camera
  long dropped_runs = 0;   // runs beyond the six a line holds
  double area_mm2 = 0;     // measuring area
  double rain_mm = 0;      // water depth of the simulated drops (not splashes) over the area, mm
  double rain_rate = 0;    // rain_mm per hour of recording, mm/h
  double expected_drops = 0;  // drops the rain's Poisson process brings on average
  double expected_mm = 0;     // water depth it brings on average, mm
  double nominal_mm = 0;      // the nominal rain rate's integral over the recording, mm
  double bytes = 0;        // size of the raw file
};

struct sim_output {
  hd_par header;
  std::vector<u8> raw;
  std::vector<truth_row> truth;
  sim_stats stats;
};

sim_output simulate(const sim_options& o);

// The truth's summary, "key = value" lines: measuring area, recording start and end, drops,
// true accumulation (sum of pi/6 d^3 over the rain drops, divided by the area) and its
// expectation, and per minute of the day the drops and the true rain.
std::string summary_text(const sim_options& o, const sim_output& out);

// Days since 1970-01-01 of a civil date, and the day of the year (1 .. 366).
long days_from_civil(int y, int m, int d);
int day_of_year(int y, int m, int d);
// The logger's name for the day's raw file: V, two-digit year, three-digit day, "_1.AB".
std::string raw_file_name(int y, int m, int d);

}  // namespace dropix::sim
