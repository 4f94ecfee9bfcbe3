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

// When and where a drop's centre crosses camera B's plane, which lies the plane distance H
// below camera A's at the crossing point: H / v after it crosses camera A's, shifted by its
// horizontal drift (ux, uy) times that fall time.
struct plane_crossing {
  double t = 0, x = 0, y = 0;
};
plane_crossing crossing_b(const hd_par& h, const drop& d);

// A drop's shadow in one camera (1 = A, 2 = B): in every scan line whose light plane cuts
// the drop, the horizontal chord of the spheroid (of the axis ratio it has at that plane) at
// the plane, seen at the camera's scale and shaded by the rule of `shade`. Camera B sees the
// drop at its crossing of B's plane (crossing_b), and nothing of a drop that has drifted out
// of the area both cameras see by then. A drop drifting along a camera's line moves along
// it from line to line. Marks are in line order.
std::vector<mark> drop_shadow(const hd_par& h, const drop& d, int camera);

// True when the chord of a drop would reach past either end of a camera's line.
bool drop_clipped(const hd_par& h, const drop& d);

// What the truth file tells of a drop's shadows.
struct shadow_summary {
  std::uint64_t first_a = 0, first_b = 0;  // first shaded line per camera (0: none)
  int lines_a = 0, lines_b = 0;            // shaded lines per camera
  int pix_a_lo = -1, pix_a_hi = -1;        // leftmost and rightmost shaded pixel, camera A (-1: none)
  int pix_b_lo = -1, pix_b_hi = -1;        // the same in camera B
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
