#include "tools/sim/rain.h"

#include <algorithm>
#include <cmath>

#include "tools/sim/optics.h"

namespace dropix::sim {

namespace {

constexpr double edge_margin = 0.05;  // s: drops stay clear of the recording's ends

// A position drawn uniformly over the area both cameras see.
void place(drop& d, const hd_par& h, const measuring_area& a, rng& r) {
  do {
    d.x = r.uniform(a.x_lo, a.x_hi);
    d.y = r.uniform(a.y_lo, a.y_hi);
  } while (!in_view(h, locate(h, d.x, d.y)));
}

void set_size(drop& d, double diameter) {
  d.d = diameter;
  d.ratio = axis_ratio(diameter);
  d.v = fall_speed(diameter);
}

// A second drop of nearly the same size (so nearly the same speed) placed where both
// cameras see the two silhouettes overlap in the same scan lines.
drop companion(const drop& first, const hd_par& h, rng& r) {
  drop c;
  set_size(c, std::clamp(first.d * r.uniform(0.95, 1.05), d_min, d_max));
  const double a = 0.5 * (horizontal_axis(first.d, first.ratio) + horizontal_axis(c.d, c.ratio));
  const double b = vertical_axis(first.d, first.ratio);
  c.t = first.t + r.uniform(-0.3, 0.3) * b * 1e-3 / first.v;
  do {
    c.x = first.x + r.uniform(-0.6, 0.6) * a;
    c.y = first.y + r.uniform(-0.6, 0.6) * a;
  } while (!in_view(h, locate(h, c.x, c.y)));
  return c;
}

}  // namespace

rain_event make_rain(const event_options& o, const hd_par& h, rng& r) {
  const size_distribution dist =
      o.dsd == dsd_kind::gamma ? gamma_for_rain(o.rain, o.mu) : marshall_palmer(o.rain);
  const size_sampler sizes(dist);
  const measuring_area area = area_of(h);
  rain_event ev;
  ev.area_mm2 = area.area_mm2;
  ev.flux = sizes.flux();
  const double rate = sizes.flux() * area.area_mm2 * 1e-6;  // drops per second
  const double t_end = o.start + o.minutes * 60.0 - edge_margin;
  for (double t = o.start + edge_margin + r.exponential(rate); t < t_end; t += r.exponential(rate)) {
    drop d;
    d.t = t;
    set_size(d, sizes.draw(r));
    place(d, h, area, r);
    ev.drops.push_back(d);
  }
  const long pairs = std::lround(o.close_pairs * o.minutes);
  const std::size_t singles = ev.drops.size();
  for (long made = 0, tries = 0; made < pairs && singles > 0 && tries < 50 * pairs; ++tries) {
    drop& first = ev.drops[static_cast<std::size_t>(r.below(static_cast<int>(singles)))];
    if (first.partner != -1 || first.d < 0.8) continue;  // a visible drop, not yet paired
    ++made;
    drop c = companion(first, h, r);
    first.partner = static_cast<int>(ev.drops.size());  // provisional: index of the companion
    c.partner = -2;                                     // marks the companion for renumbering
    ev.drops.push_back(c);
  }
  // Number the drops in time order and turn the provisional partner links into ids.
  std::vector<std::size_t> order(ev.drops.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return ev.drops[a].t < ev.drops[b].t; });
  std::vector<int> id_of(order.size());
  for (std::size_t k = 0; k < order.size(); ++k) id_of[order[k]] = static_cast<int>(k);
  std::vector<drop> sorted(order.size());
  for (std::size_t k = 0; k < order.size(); ++k) {
    drop d = ev.drops[order[k]];
    d.id = static_cast<int>(k);
    if (d.partner >= 0) d.partner = id_of[static_cast<std::size_t>(d.partner)];
    sorted[k] = d;
  }
  for (const drop& d : sorted)
    if (d.partner >= 0) sorted[static_cast<std::size_t>(d.partner)].partner = d.id;
  ev.drops = std::move(sorted);
  return ev;
}

std::vector<noise_mark> make_noise(const event_options& o, const hd_par& h, rng& r) {
  std::vector<noise_mark> out;
  const double t0 = o.start + edge_margin, t1 = o.start + o.minutes * 60.0 - edge_margin;
  const int pixels = line_pixels(h);
  auto scatter = [&](double per_minute, int camera, bool streak) {
    if (per_minute <= 0) return;
    for (double t = t0 + r.exponential(per_minute / 60.0); t < t1; t += r.exponential(per_minute / 60.0)) {
      noise_mark m;
      m.camera = camera;
      m.line = static_cast<std::uint64_t>(t * h.line_fr);
      m.lines = streak ? 20 + r.below(400) : 1;
      m.first = static_cast<s16>(r.below(pixels - 6));
      m.last = static_cast<s16>(m.first + (streak ? 0 : r.below(6)));
      out.push_back(m);
    }
  };
  for (int camera = 1; camera <= 2; ++camera) {
    scatter(o.specks, camera, false);
    scatter(o.streaks, camera, true);
  }
  return out;
}

}  // namespace dropix::sim
