#include "tools/sim/rain.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "tools/sim/optics.h"
#include "tools/sim/shadow.h"

namespace dropix::sim {

const char* const event_names = "convective, stratiform, shower";

double rain_profile::rate_at(double minute) const {
  if (points.empty()) return 0.0;
  if (minute <= points.front().minute) return points.front().rain;
  if (minute >= points.back().minute) return points.back().rain;
  // The last point at or before `minute`: a step holds its rate up to the next point.
  const auto next = std::upper_bound(points.begin(), points.end(), minute,
                                     [](double m, const rate_point& p) { return m < p.minute; });
  const rate_point& a = *(next - 1);
  if (step) return a.rain;
  return a.rain + (next->rain - a.rain) * (minute - a.minute) / (next->minute - a.minute);
}

double rain_profile::mean_rate(double m0, double m1) const {
  if (!(m1 > m0)) return rate_at(m0);
  // Piecewise linear (or constant) between the points: the trapezoid rule (or the left
  // value) over the pieces is exact.
  std::vector<double> cuts{m0};
  for (const rate_point& p : points)
    if (p.minute > m0 && p.minute < m1) cuts.push_back(p.minute);
  cuts.push_back(m1);
  double sum = 0;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    const double a = cuts[i], b = cuts[i + 1];
    sum += (step ? rate_at(a) : 0.5 * (rate_at(a) + rate_at(b))) * (b - a);
  }
  return sum / (m1 - m0);
}

double rain_profile::peak() const {
  double m = 0;
  for (const rate_point& p : points) m = std::max(m, p.rain);
  return m;
}

std::optional<rain_profile> parse_profile(const std::string& text, std::string* error) {
  rain_profile prof;
  auto refuse = [&](int line, const char* why) -> std::optional<rain_profile> {
    if (error) *error = line > 0 ? "line " + std::to_string(line) + ": " + why : std::string(why);
    return std::nullopt;
  };
  std::size_t at = 0;
  for (int line = 1; at < text.size(); ++line) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string l = text.substr(at, end - at);
    at = end + 1;
    if (const std::size_t hash = l.find('#'); hash != std::string::npos) l.resize(hash);
    if (l.find_first_not_of(" \t\r") == std::string::npos) continue;
    rate_point p;
    char rest = 0;
    if (std::sscanf(l.c_str(), "%lf %lf %c", &p.minute, &p.rain, &rest) != 2)
      return refuse(line, "expected two numbers: minute and rain rate (mm/h)");
    if (!(p.minute >= 0) || !std::isfinite(p.minute)) return refuse(line, "the minute must be 0 or more");
    if (!prof.points.empty() && !(p.minute > prof.points.back().minute))
      return refuse(line, "minutes must grow from line to line");
    if (!(p.rain >= 0 && p.rain <= 300)) return refuse(line, "the rain rate must lie in [0, 300] mm/h");
    prof.points.push_back(p);
  }
  if (prof.points.empty()) return refuse(0, "no rain rates");
  return prof;
}

std::optional<rain_profile> named_event(const std::string& name) {
  rain_profile p;
  if (name == "convective") {
    // A convective cell passes: a few minutes of rising rain, a burst peaking at 80 mm/h and
    // above 50 mm/h for about five minutes, a quick decay, and a stratiform tail that eases
    // from 2 to 1 mm/h over the second half hour.
    p.points = {{0, 1.5}, {4, 6},  {8, 25},  {10, 55}, {12, 80}, {14, 60}, {16, 30},
                {20, 10}, {25, 4}, {30, 2},  {45, 1.5}, {60, 1}};
  } else if (name == "stratiform") {
    // Two hours of widespread rain: slow onset, a broad maximum near 5 mm/h, slow decay.
    p.points = {{0, 0.3}, {15, 1.5}, {40, 4}, {60, 5}, {85, 3.5}, {105, 1.5}, {120, 0.3}};
  } else if (name == "shower") {
    // A short shower: up to 25 mm/h within five minutes, over in twenty.
    p.points = {{0, 0.5}, {3, 12}, {5, 25}, {8, 15}, {12, 5}, {16, 1.5}, {20, 0.3}};
  } else {
    return std::nullopt;
  }
  return p;
}

double turbulence_factor(double sigma, rng& r) {
  const double s2 = std::log1p(sigma * sigma);
  return std::exp(std::sqrt(s2) * r.normal() + 0.5 * s2);
}

double rayleigh_frequency(double d) {
  constexpr double surface_tension = 0.0728, density = 1000.0, pi = 3.141592653589793;
  const double a = 0.5e-3 * d;  // m
  return std::sqrt(2.0 * 1.0 * 4.0 * surface_tension / (density * a * a * a)) / (2.0 * pi);
}

namespace {

constexpr double edge_margin = 0.05;  // s: drops stay clear of the recording's ends
constexpr double pi = 3.141592653589793;
constexpr double burst_min_d = 0.7;  // mm: a cluster's leading size is at least this

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

// The axis ratio of an oscillating drop (1 mm and more) when it crosses each plane: the
// fundamental (oblate-prolate) mode about the equilibrium ratio, which dominates the axis
// ratios measured in natural and artificial rain (Thurai and Bringi (2005), J. Atmos.
// Oceanic Technol. 22, 966). Its amplitude is Rayleigh-distributed of scale `sd` and its
// phase random, so that the ratio at one plane is normal about equilibrium with standard
// deviation `sd`. Frozen, the drop keeps its ratio between the planes; otherwise the phase
// runs on at the mode's frequency (rayleigh_frequency) over the fall time between them.
void oscillate(drop& d, const event_options& o, const hd_par& h, rng& r) {
  const double amplitude = o.oscillation * std::sqrt(-2.0 * std::log1p(-r.uniform()));
  const double phase = r.uniform(0.0, 2.0 * pi);
  const double eq = d.ratio;
  auto ratio_at = [&](double ph) { return std::clamp(eq + amplitude * std::sin(ph), 0.45, 1.5); };
  d.ratio = ratio_at(phase);
  if (!o.oscillation_rayleigh) return;
  const double fall_time = crossing_b(h, d).t - d.t;
  d.ratio_b = ratio_at(phase + 2.0 * pi * rayleigh_frequency(d.d) * fall_time);
}

// Fall-speed scatter, drift and oscillation of a drop of rain, drawn (in that order) only
// when asked for, so that a recording without them keeps its random sequence.
void perturb(drop& d, const event_options& o, const hd_par& h, rng& r) {
  if (o.turbulence > 0) d.v *= turbulence_factor(o.turbulence, r);
  if (o.wind > 0 || o.gust > 0) {
    d.ux = o.wind * std::cos(o.wind_dir * pi / 180.0);
    d.uy = o.wind * std::sin(o.wind_dir * pi / 180.0);
    if (o.gust > 0) {
      d.ux += o.gust * r.normal();
      d.uy += o.gust * r.normal();
    }
  }
  if (o.oscillation > 0 && d.d >= 1.0) oscillate(d, o, h, r);
}

// A second drop of nearly the same size (so nearly the same speed) placed where both
// cameras see the two silhouettes overlap in the same scan lines. It shares the first
// drop's speed factor and drift, so that it overlaps in camera B too.
drop companion(const drop& first, const event_options& o, const hd_par& h, rng& r) {
  drop c;
  set_size(c, std::clamp(first.d * r.uniform(0.95, 1.05), d_min, d_max));
  if (o.turbulence > 0) c.v *= first.v / fall_speed(first.d);
  c.ux = first.ux;
  c.uy = first.uy;
  const double a = 0.5 * (horizontal_axis(first.d, first.ratio) + horizontal_axis(c.d, c.ratio));
  const double b = vertical_axis(first.d, first.ratio);
  c.t = first.t + r.uniform(-0.3, 0.3) * b * 1e-3 / first.v;
  do {
    c.x = first.x + r.uniform(-0.6, 0.6) * a;
    c.y = first.y + r.uniform(-0.6, 0.6) * a;
  } while (!in_view(h, locate(h, c.x, c.y)));
  return c;
}

// Size distributions and their samplers, one per rain rate met.
class distributions {
 public:
  explicit distributions(const event_options& o) : o_(o) {}
  struct entry {
    size_distribution dist;
    size_sampler sizes;
    double rain_rate;  // what the distribution carries, mm/h
  };
  const entry& at(double rain) {
    auto it = cache_.find(rain);
    if (it == cache_.end()) {
      const size_distribution dist = o_.dsd == dsd_kind::gamma ? gamma_for_rain(rain, o_.mu) : marshall_palmer(rain);
      it = cache_.emplace(rain, entry{dist, size_sampler(dist), dropix::sim::rain_rate(dist)}).first;
    }
    return it->second;
  }

 private:
  const event_options& o_;
  std::map<double, entry> cache_;
};

}  // namespace

rain_event make_rain(const event_options& o, const hd_par& h, rng& r) {
  distributions dists(o);
  const measuring_area area = area_of(h);
  rain_event ev;
  ev.area_mm2 = area.area_mm2;
  const double t_begin = o.start + edge_margin;
  const double t_end = o.start + o.minutes * 60.0 - edge_margin;
  // The rain rate over time: constant, or piecewise constant over short segments.
  struct segment {
    double from, to, rain;
  };
  std::vector<segment> segments;
  if (o.profile.empty()) {
    segments.push_back({t_begin, t_end, o.rain});
  } else {
    for (long k = 0; o.start + static_cast<double>(k) * profile_segment < t_end; ++k) {
      const double from = std::max(t_begin, o.start + static_cast<double>(k) * profile_segment);
      const double to = std::min(t_end, o.start + static_cast<double>(k + 1) * profile_segment);
      if (to > from) segments.push_back({from, to, o.profile.mean_rate((from - o.start) / 60.0, (to - o.start) / 60.0)});
    }
  }
  auto rain_at = [&](double t) { return o.profile.empty() ? o.rain : o.profile.rate_at((t - o.start) / 60.0); };
  for (const segment& seg : segments) {
    if (!(seg.rain > 0)) continue;
    const auto& e = dists.at(seg.rain);
    if (o.profile.empty()) ev.flux = e.sizes.flux();
    const double rate = e.sizes.flux() * area.area_mm2 * 1e-6;  // drops per second
    ev.expected_drops += rate * (seg.to - seg.from);
    ev.expected_mm += e.rain_rate * (seg.to - seg.from) / 3600.0;
    for (double t = seg.from + r.exponential(rate); t < seg.to; t += r.exponential(rate)) {
      drop d;
      d.t = t;
      set_size(d, e.sizes.draw(r));
      place(d, h, area, r);
      perturb(d, o, h, r);
      ev.drops.push_back(d);
    }
  }
  // Clusters: drops of nearly one size arriving within a few milliseconds, as the fragments
  // of a drop that broke up shortly above the instrument fall together (Montero-Martinez,
  // Kostinski, Shaw and Garcia-Garcia (2009), Geophys. Res. Lett. 36, L11818).
  if (o.bursts > 0 && o.burst_drops > 0) {
    const double per_s = o.bursts / 60.0;
    int k = 0;
    for (double t = t_begin + r.exponential(per_s); t < t_end; t += r.exponential(per_s)) {
      const double rain = rain_at(t);
      if (!(rain > 0)) continue;
      const auto& e = dists.at(rain);
      double lead = e.sizes.draw(r);
      for (int tries = 0; lead < burst_min_d && tries < 10000; ++tries) lead = e.sizes.draw(r);
      if (lead < burst_min_d) continue;
      for (int j = 0; j < o.burst_drops; ++j) {
        drop d;
        d.t = t + r.uniform(0.0, o.burst_ms * 1e-3);
        set_size(d, std::clamp(lead * r.uniform(0.9, 1.1), d_min, d_max));
        place(d, h, area, r);
        perturb(d, o, h, r);
        d.burst = k;
        if (d.t < t_end) ev.drops.push_back(d);
      }
      ++k;
    }
  }
  const long pairs = std::lround(o.close_pairs * o.minutes);
  const std::size_t singles = ev.drops.size();
  for (long made = 0, tries = 0; made < pairs && singles > 0 && tries < 50 * pairs; ++tries) {
    drop& first = ev.drops[static_cast<std::size_t>(r.below(static_cast<int>(singles)))];
    if (first.partner != -1 || first.d < 0.8) continue;  // a visible drop, not yet paired
    ++made;
    drop c = companion(first, o, h, r);
    first.partner = static_cast<int>(ev.drops.size());  // provisional: index of the companion
    c.partner = -2;                                     // marks the companion for renumbering
    ev.drops.push_back(c);
  }
  // Splash droplets: small drops thrown up from the instrument's housing, slow and moving
  // in any horizontal direction.
  if (o.splashes > 0) {
    const double per_s = o.splashes / 60.0;
    for (double t = t_begin + r.exponential(per_s); t < t_end; t += r.exponential(per_s)) {
      drop d;
      d.t = t;
      set_size(d, r.uniform(0.3, 1.0));
      d.v *= r.uniform(0.1, 0.5);
      place(d, h, area, r);
      const double speed = r.uniform(0.0, 1.0), dir = r.uniform(0.0, 2.0 * pi);
      d.ux = speed * std::cos(dir);
      d.uy = speed * std::sin(dir);
      d.splash = true;
      ev.drops.push_back(d);
    }
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
