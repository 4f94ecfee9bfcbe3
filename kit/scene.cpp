#include "kit/scene.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace dropix::rawkit {

std::vector<scan_line> disc_lines(f64 y, int lines, f64 centre, f64 width) {
  std::vector<scan_line> out;
  for (int i = 0; i < lines; ++i) {
    const f64 t = (i + 0.5) / lines * 2 - 1;
    const f64 w = width * std::sqrt(std::max(0.0, 1 - t * t));
    auto first = static_cast<s16>(std::lround(centre - w / 2));
    auto last = static_cast<s16>(std::lround(centre + w / 2));
    if (last <= first) last = static_cast<s16>(first + 1);
    out.push_back({y + i, {{first, last}}});
  }
  return out;
}

std::vector<scene_drop> scene_drops(const scene_options& opt) {
  std::mt19937 rng(opt.seed);
  std::uniform_real_distribution<f64> uni(0.0, 1.0);
  std::vector<scene_drop> out;
  f64 y = opt.start_second * opt.line_fr;
  for (int k = 0; k < opt.drops; ++k) {
    scene_drop d;
    d.y_a = std::floor(y);
    d.width = 6 + 14 * uni(rng);
    d.lines = std::max(3, static_cast<int>(d.width * 1.2));
    d.centre_a = 60 + 390 * uni(rng);
    d.centre_b = 60 + 390 * uni(rng);
    out.push_back(d);
    // Drops never overlap in time, so every drop's silhouettes stay apart.
    y += std::max(opt.mean_gap_s * opt.line_fr * 2 * uni(rng), 2.0 * (d.lines + opt.delay_lines + 10));
  }
  return out;
}

raw_builder rain_scene(const scene_options& opt) {
  raw_builder b;
  const hd_par h = sample_header(opt.midnight + opt.header_second, opt.line_fr);
  b.header(h);
  const std::vector<scene_drop> drops = scene_drops(opt);
  for (std::size_t k = 0; k < drops.size(); ++k) {
    const scene_drop& d = drops[k];
    b.lines(ident_camera_a, disc_lines(d.y_a, d.lines, d.centre_a, d.width));
    b.lines(ident_camera_b, disc_lines(d.y_a + opt.delay_lines, d.lines + 1, d.centre_b, d.width * 0.97));
    if (opt.foreign_every > 0 && (k + 1) % opt.foreign_every == 0) b.block(7, {1, 2, 3, 4});
    if (opt.header_every > 0 && (k + 1) % opt.header_every == 0) b.header(h);
  }
  if (opt.reach_past && !drops.empty()) b.reach(drops.back().y_a + opt.delay_lines + drops.back().lines + 2500);
  return b;
}

}  // namespace dropix::rawkit
