// What the cameras record of the simulated event: each drop's shadow on the scan lines of
// both cameras, and the scan lines of a camera with all shadows and noise merged.
#pragma once

#include <cstdint>
#include <vector>

#include "common/formats.h"
#include "kit/rawbuild.h"
#include "tools/sim/rain.h"

namespace dropix::sim {

// One shaded run on one scan line.
struct mark {
  std::uint64_t line = 0;
  s16 first = 0, last = 0;
};

// A drop's shadow in one camera (1 = A, 2 = B): in every scan line whose light plane cuts
// the drop, the horizontal chord of the spheroid at the plane, seen at the camera's scale
// and shaded by the rule of `shade`. Camera B's plane lies the plane distance H below
// camera A's, so B sees the drop H / v later. Marks are in line order.
std::vector<mark> drop_shadow(const hd_par& h, const drop& d, int camera);

// True when the chord of a drop would reach past either end of a camera's line.
bool drop_clipped(const hd_par& h, const drop& d);

// What the truth file tells of a drop's shadows.
struct shadow_summary {
  std::uint64_t first_a = 0, first_b = 0;  // first shaded line per camera (0: none)
  int lines_a = 0, lines_b = 0;            // shaded lines per camera
};
shadow_summary summarise(const std::vector<mark>& a, const std::vector<mark>& b);

// A camera's scan lines: all marks merged per line, overlapping or touching runs joined into
// one. A line keeps at most 6 runs, the leftmost ones (the logger's limit); `dropped_runs`
// counts the runs lost that way.
struct scan_result {
  std::vector<rawkit::scan_line> lines;  // strictly growing line counts
  long dropped_runs = 0;
};
scan_result merge_lines(std::vector<mark> marks);

}  // namespace dropix::sim
