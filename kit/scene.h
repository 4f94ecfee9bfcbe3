// Small synthetic rain scenes for tests: drops seen by both cameras, written with the raw-file
// builder the way the logger interleaves them. Deterministic per seed.
#pragma once

#include <vector>

#include "kit/rawbuild.h"

namespace dropix::rawkit {

struct scene_drop {
  f64 y_a = 0;       // camera A's first line
  int lines = 0;     // camera A's line count (camera B sees one more)
  f64 centre_a = 0;  // pixel column of the centre in camera A
  f64 centre_b = 0;
  f64 width = 0;     // pixels
};

struct scene_options {
  int drops = 40;
  f64 line_fr = 55000.0;
  u32 midnight = 20796u * 86400u;  // 2026-12-08
  u32 header_second = 3600;        // valid_since, seconds after midnight
  f64 start_second = 3610;         // first drop
  f64 mean_gap_s = 0.2;            // mean time between drops
  int delay_lines = 80;            // camera B sees a drop this many lines after camera A
  int header_every = 0;            // repeat the header block after every so many drops (0: never)
  int foreign_every = 10;          // a foreign block after every so many drops (0: never)
  unsigned seed = 1;
  bool reach_past = true;          // end with specks 2500 lines after the last drop, so that
                                   // every drop of the scene can be paired
};

// The drops of a scene, in time order.
std::vector<scene_drop> scene_drops(const scene_options& opt);

// The raw file of a scene: a header block, then each drop's camera A and camera B blocks.
raw_builder rain_scene(const scene_options& opt);

// The scan lines of one silhouette: a disc of the given width at `centre`, `lines` lines
// from `y`.
std::vector<scan_line> disc_lines(f64 y, int lines, f64 centre, f64 width);

}  // namespace dropix::rawkit
