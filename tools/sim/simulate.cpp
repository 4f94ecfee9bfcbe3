#include "tools/sim/simulate.h"

#include <cmath>
#include <cstdio>
#include <map>

#include "tools/sim/optics.h"
#include "tools/sim/shadow.h"

namespace dropix::sim {

long days_from_civil(int y, int m, int d) {  // proleptic Gregorian calendar
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int day_of_year(int y, int m, int d) {
  return static_cast<int>(days_from_civil(y, m, d) - days_from_civil(y, 1, 1)) + 1;
}

std::string raw_file_name(int y, int m, int d) {
  char name[32];
  std::snprintf(name, sizeof name, "V%02d%03d_1.AB", y % 100, day_of_year(y, m, d));
  return name;
}

sim_output simulate(const sim_options& o) {
  rng r(o.seed);
  sim_output out;
  const double start = o.event.start;
  const double end = start + o.event.minutes * 60.0;
  const auto since = static_cast<u32>(days_from_civil(o.year, o.month, o.day) * 86400L +
                                      static_cast<long>(std::floor(start)));
  out.header = instrument_header(since, o.line_fr);
  const hd_par& h = out.header;

  const rain_event ev = make_rain(o.event, h, r);
  std::vector<mark> marks_a, marks_b;
  sim_stats& s = out.stats;
  s.area_mm2 = ev.area_mm2;
  s.expected_drops = ev.expected_drops;
  s.expected_mm = ev.expected_mm;
  s.nominal_mm = o.event.profile.empty() ? o.event.rain * o.event.minutes / 60.0
                                         : o.event.profile.mean_rate(0.0, o.event.minutes) * o.event.minutes / 60.0;
  for (const drop& d : ev.drops) {
    std::vector<mark> a = drop_shadow(h, d, 1), b = drop_shadow(h, d, 2);
    const shadow_summary sum = summarise(a, b);
    truth_row t;
    t.id = d.id;
    t.t = d.t;
    t.first_a = sum.first_a;
    t.first_b = sum.first_b;
    t.lines_a = sum.lines_a;
    t.lines_b = sum.lines_b;
    t.pix_a_lo = sum.pix_a_lo;
    t.pix_a_hi = sum.pix_a_hi;
    t.pix_b_lo = sum.pix_b_lo;
    t.pix_b_hi = sum.pix_b_hi;
    t.d = d.d;
    t.ratio = d.ratio;
    t.v = d.v;
    t.x = d.x;
    t.y = d.y;
    t.both = sum.lines_a > 0 && sum.lines_b > 0;
    t.clipped = drop_clipped(h, d);
    t.partner = d.partner;
    const plane_crossing at_b = crossing_b(h, d);
    t.ratio_b = d.ratio_at_b();
    t.x_b = at_b.x;
    t.y_b = at_b.y;
    t.splash = d.splash;
    t.burst = d.burst;
    out.truth.push_back(t);
    s.seen_both += t.both;
    s.clipped += t.clipped;
    s.close += t.partner >= 0;
    s.splashes += d.splash;
    s.clustered += d.burst >= 0;
    if (!d.splash) s.rain_mm += 3.141592653589793 / 6.0 * d.d * d.d * d.d / ev.area_mm2;
    marks_a.insert(marks_a.end(), a.begin(), a.end());
    marks_b.insert(marks_b.end(), b.begin(), b.end());
  }
  for (const noise_mark& n : make_noise(o.event, h, r)) {
    std::vector<mark>& to = n.camera == 1 ? marks_a : marks_b;
    for (int i = 0; i < n.lines; ++i) to.push_back({n.line + static_cast<std::uint64_t>(i), n.first, n.last});
  }
  const scan_result lines_a = merge_lines(std::move(marks_a));
  const scan_result lines_b = merge_lines(std::move(marks_b));
  const std::vector<planned_block> plan = plan_file(h, lines_a.lines, lines_b.lines, start, end, o.logger, r);
  out.raw = build_file(plan).data();

  s.drops = static_cast<long>(ev.drops.size());
  s.lines_a = static_cast<long>(lines_a.lines.size());
  s.lines_b = static_cast<long>(lines_b.lines.size());
  s.dropped_runs = lines_a.dropped_runs + lines_b.dropped_runs;
  for (const planned_block& b : plan) {
    s.blocks_a += b.ident == ident_camera_a;
    s.blocks_b += b.ident == ident_camera_b;
    s.headers += b.ident == ident_main_header;
    s.foreign += b.ident != ident_camera_a && b.ident != ident_camera_b && b.ident != ident_main_header;
  }
  s.rain_rate = s.rain_mm / (o.event.minutes / 60.0);
  s.bytes = static_cast<double>(out.raw.size());
  return out;
}

std::string summary_text(const sim_options& o, const sim_output& out) {
  const sim_stats& s = out.stats;
  std::string text;
  char buf[160];
  auto line = [&](const char* key, const char* fmt, auto value) {
    std::snprintf(buf, sizeof buf, "%-24s = ", key);
    text += buf;
    std::snprintf(buf, sizeof buf, fmt, value);
    text += buf;
    text += "\n";
  };
  char date[32];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", o.year, o.month, o.day);
  line("date", "%s", date);
  line("seed", "%llu", static_cast<unsigned long long>(o.seed));
  line("area_mm2", "%.3f", s.area_mm2);
  line("start_s", "%.3f", o.event.start);
  line("end_s", "%.3f", o.event.start + o.event.minutes * 60.0);
  line("drops", "%ld", s.drops);
  line("rain_drops", "%ld", s.drops - s.splashes);
  line("splashes", "%ld", s.splashes);
  line("clustered_drops", "%ld", s.clustered);
  line("close_drops", "%ld", s.close);
  line("accumulation_mm", "%.6f", s.rain_mm);
  line("expected_accum_mm", "%.6f", s.expected_mm);
  line("nominal_accum_mm", "%.6f", s.nominal_mm);
  line("mean_rain_rate_mm_h", "%.4f", s.rain_rate);
  // Per minute of the day: "minute_M = drops mm" of the rain drops whose centres cross
  // camera A's plane in that minute.
  std::map<long, std::pair<long, double>> minutes;
  const long first = static_cast<long>(std::floor(o.event.start / 60.0));
  const long last = static_cast<long>(std::ceil((o.event.start + o.event.minutes * 60.0) / 60.0));
  for (long m = first; m < last; ++m) minutes[m] = {0, 0.0};
  for (const truth_row& t : out.truth) {
    if (t.splash) continue;
    auto& slot = minutes[static_cast<long>(std::floor(t.t / 60.0))];
    ++slot.first;
    slot.second += 3.141592653589793 / 6.0 * t.d * t.d * t.d / s.area_mm2;
  }
  for (const auto& [m, v] : minutes) {
    char key[32];
    std::snprintf(key, sizeof key, "minute_%04ld", m);
    std::snprintf(buf, sizeof buf, "%-24s = %ld %.6f\n", key, v.first, v.second);
    text += buf;
  }
  return text;
}

}  // namespace dropix::sim
