#include "tools/sim/calibrate.h"

#include <algorithm>
#include <cstdio>

#include "tools/sim/optics.h"
#include "tools/sim/physics.h"

namespace dropix::sim {

const double calibration_diameters[10] = {0.4, 0.6, 0.8, 1.0, 1.5, 2.0, 3.0, 4.0, 5.5, 7.5};

namespace {

struct extent {
  int pix_min = 0, pix_max = 0, widest = 0;
};

extent extent_of(const std::vector<mark>& m) {
  extent e{m.front().first, m.front().last, 0};
  for (const mark& k : m) {
    e.pix_min = std::min<int>(e.pix_min, k.first);
    e.pix_max = std::max<int>(e.pix_max, k.last);
    e.widest = std::max(e.widest, k.last - k.first);
  }
  return e;
}

std::string row(const char* label, const std::vector<calibration_point>& p, double calibration_point::*f) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%-10.10s", label);
  std::string line = buf;
  for (const calibration_point& c : p) {
    std::snprintf(buf, sizeof buf, " %6.2f", std::clamp(c.*f, -99.99, 999.99));
    line += buf;
  }
  return line + "\n";
}

}  // namespace

std::optional<sphere_measure> measure(const hd_par& h, const std::vector<mark>& a, const std::vector<mark>& b) {
  if (a.empty() || b.empty()) return std::nullopt;
  const extent ea = extent_of(a), eb = extent_of(b);
  const int off_a = (ea.pix_min + ea.pix_max) / 2 - h.gate1;
  const int off_b = (eb.pix_min + eb.pix_max) / 2 - h.gate1;
  const double xs_a = h.XSCALE0_1 * (h.L0_1 - static_cast<double>(h.XSCALE0_2) * off_b) / h.L0_1;
  const double xs_b = h.XSCALE0_2 * (h.L0_2 + static_cast<double>(h.XSCALE0_1) * off_a) / h.L0_2;
  const double plane = plane_distance(h, (ea.pix_min + ea.pix_max) * 0.5, (eb.pix_min + eb.pix_max) * 0.5);
  double dt = (static_cast<double>(b.front().line) - static_cast<double>(a.front().line)) +
              (static_cast<double>(b.back().line) - static_cast<double>(a.back().line));
  if (dt <= 1.0) dt = 1.0;
  const double yscale = plane * 2.0 / dt;
  sphere_measure m;
  m.width_a = ea.widest * xs_a;
  m.width_b = eb.widest * xs_b;
  m.height_a = static_cast<double>(a.size()) * yscale;
  m.height_b = static_cast<double>(b.size()) * yscale;
  return m;
}

std::vector<calibration_point> calibrate(const hd_par& h, int spheres, rng& r) {
  const measuring_area area = area_of(h);
  std::vector<calibration_point> out;
  for (double d : calibration_diameters) {
    sphere_measure sum;
    int n = 0;
    while (n < spheres) {
      drop s;
      s.d = d;
      s.ratio = 1.0;
      s.v = fall_speed(d);
      s.t = 43200.0 + r.uniform();
      s.x = r.uniform(area.x_lo, area.x_hi);
      s.y = r.uniform(area.y_lo, area.y_hi);
      if (!in_view(h, locate(h, s.x, s.y)) || drop_clipped(h, s)) continue;
      const auto m = measure(h, drop_shadow(h, s, 1), drop_shadow(h, s, 2));
      if (!m) continue;
      sum.width_a += m->width_a;
      sum.width_b += m->width_b;
      sum.height_a += m->height_a;
      sum.height_b += m->height_b;
      ++n;
    }
    auto pct = [&](double total) { return (total / n / d - 1.0) * 100.0; };
    out.push_back({d, pct(sum.height_a), pct(sum.height_b), pct(sum.width_a), pct(sum.width_b)});
  }
  return out;
}

std::string corrfact_text(const std::vector<calibration_point>& p) {
  return "simulated instrument: size errors from precision spheres\n"
         "sphere diameter in mm\n" +
         row("diameter", p, &calibration_point::d) +
         "size error in percent (measured - true) / true\n" +
         row("height A", p, &calibration_point::height_a) + row("height B", p, &calibration_point::height_b) +
         row("width A", p, &calibration_point::width_a) + row("width B", p, &calibration_point::width_b);
}

}  // namespace dropix::sim
