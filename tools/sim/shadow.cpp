#include "tools/sim/shadow.h"

#include <algorithm>
#include <cmath>

#include "tools/sim/optics.h"
#include "tools/sim/physics.h"

namespace dropix::sim {

namespace {

constexpr int max_runs = 6;

struct camera_view {
  double u = 0;      // centre column when crossing the camera's plane
  double scale = 0;  // mm per pixel
  double t = 0;      // time of day at which the centre crosses the camera's plane
  double ratio = 1;  // axis ratio then
  double along = 0;  // horizontal speed along the camera's line, m/s
  bool seen = true;  // the centre lies within the area both cameras see
};

camera_view camera_of(const hd_par& h, const drop& d, int camera) {
  camera_view c;
  if (camera == 1) {
    const view v = locate(h, d.x, d.y);
    c.u = h.gate1 + v.off_a;
    c.scale = v.xs_a;
    c.t = d.t;
    c.ratio = d.ratio;
    c.along = d.ux;
  } else {
    const plane_crossing p = crossing_b(h, d);
    const view v = locate(h, p.x, p.y);
    c.u = h.gate1 + v.off_b;
    c.scale = v.xs_b;
    c.t = p.t;
    c.ratio = d.ratio_at_b();
    c.along = d.uy;
    c.seen = in_view(h, v);
  }
  return c;
}

}  // namespace

plane_crossing crossing_b(const hd_par& h, const drop& d) {
  const view v = locate(h, d.x, d.y);
  double fall_time = plane_distance(h, h.gate1 + v.off_a, h.gate1 + v.off_b) * 1e-3 / d.v;
  if (d.ux == 0 && d.uy == 0) return {d.t + fall_time, d.x, d.y};
  // The plane distance where the drop crosses camera B's plane: a few fixed-point steps
  // (it changes by about 3e-3 mm per mm across the area).
  for (int i = 0; i < 4; ++i) {
    const view w = locate(h, d.x + d.ux * 1e3 * fall_time, d.y + d.uy * 1e3 * fall_time);
    fall_time = plane_distance(h, h.gate1 + w.off_a, h.gate1 + w.off_b) * 1e-3 / d.v;
  }
  return {d.t + fall_time, d.x + d.ux * 1e3 * fall_time, d.y + d.uy * 1e3 * fall_time};
}

std::vector<mark> drop_shadow(const hd_par& h, const drop& d, int camera) {
  const camera_view c = camera_of(h, d, camera);
  if (!c.seen) return {};
  const double a = horizontal_axis(d.d, c.ratio), b = vertical_axis(d.d, c.ratio);
  const double speed = d.v * 1e3;  // mm/s
  const double half_time = 0.5 * b / speed;
  const auto k0 = static_cast<std::uint64_t>(std::ceil((c.t - half_time) * h.line_fr));
  const auto k1 = static_cast<std::uint64_t>(std::floor((c.t + half_time) * h.line_fr));
  std::vector<mark> out;
  for (std::uint64_t k = k0; k <= k1; ++k) {
    // Height of the plane above the drop's centre when line k is scanned.
    const double dz = speed * (static_cast<double>(k) / h.line_fr - c.t);
    const double rel = 2.0 * dz / b;
    if (rel * rel >= 1.0) continue;
    const double half_chord = 0.5 * a * std::sqrt(1.0 - rel * rel) / c.scale;  // pixels
    // A drifting drop moves along the line while the plane cuts through it.
    const double u = c.along == 0 ? c.u : c.u + c.along * 1e3 * (static_cast<double>(k) / h.line_fr - c.t) / c.scale;
    if (const auto run = shade(u - half_chord, u + half_chord, line_pixels(h)))
      out.push_back({k, run->first, run->last});
  }
  return out;
}

bool drop_clipped(const hd_par& h, const drop& d) {
  for (int camera = 1; camera <= 2; ++camera) {
    const camera_view c = camera_of(h, d, camera);
    if (!c.seen) continue;
    double half = 0.5 * horizontal_axis(d.d, c.ratio) / c.scale;
    if (c.along != 0) half += std::abs(c.along) * 0.5 * vertical_axis(d.d, c.ratio) / d.v / c.scale;
    if (c.u - half < -0.5 || c.u + half > line_pixels(h) - 0.5) return true;
  }
  return false;
}

shadow_summary summarise(const std::vector<mark>& a, const std::vector<mark>& b) {
  shadow_summary s;
  s.lines_a = static_cast<int>(a.size());
  s.lines_b = static_cast<int>(b.size());
  if (!a.empty()) s.first_a = a.front().line;
  if (!b.empty()) s.first_b = b.front().line;
  auto span = [](const std::vector<mark>& m, int& lo, int& hi) {
    for (const mark& k : m) {
      lo = lo < 0 ? k.first : std::min<int>(lo, k.first);
      hi = std::max<int>(hi, k.last);
    }
  };
  span(a, s.pix_a_lo, s.pix_a_hi);
  span(b, s.pix_b_lo, s.pix_b_hi);
  return s;
}

scan_result merge_lines(std::vector<mark> marks) {
  std::sort(marks.begin(), marks.end(), [](const mark& p, const mark& q) {
    return p.line != q.line ? p.line < q.line : p.first < q.first;
  });
  scan_result out;
  std::vector<rawkit::run> runs;
  auto flush = [&](std::uint64_t line) {
    if (runs.empty()) return;
    if (runs.size() > max_runs) {
      out.dropped_runs += static_cast<long>(runs.size()) - max_runs;
      runs.resize(max_runs);
    }
    out.lines.push_back({static_cast<f64>(line), runs});
    runs.clear();
  };
  for (std::size_t i = 0; i < marks.size(); ++i) {
    const mark& m = marks[i];
    if (i > 0 && m.line != marks[i - 1].line) flush(marks[i - 1].line);
    // Runs that overlap or touch are one shadow to the camera.
    if (!runs.empty() && m.first <= runs.back().last + 1)
      runs.back().last = std::max(runs.back().last, m.last);
    else
      runs.push_back({m.first, m.last});
  }
  if (!marks.empty()) flush(marks.back().line);
  return out;
}

}  // namespace dropix::sim
