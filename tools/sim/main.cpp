// dropix-sim: writes the raw file of a simulated rain event and its truth, or, with
// --calibrate, the correction file of the simulated instrument.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "kit/config.h"
#include "tools/sim/calibrate.h"
#include "tools/sim/optics.h"
#include "tools/sim/simulate.h"

namespace {

using namespace dropix::sim;

const char* const usage_text =
    "usage: dropix-sim [options]\n"
    "  --rain R           rain rate, mm/h (default 5)\n"
    "  --minutes M        length of the recording (default 5)\n"
    "  --start S          start of the recording, seconds of the day UTC (default 43200)\n"
    "  --date YYYY-MM-DD  day of the recording (default 2026-12-08)\n"
    "  --seed N           random seed (default 1)\n"
    "  --line-fr F        line frequency, lines per second (default 55000)\n"
    "  --dsd mp|gamma     drop size distribution (default mp); --mu M: gamma shape (default 3)\n"
    "  --close-pairs N    drops placed too close to another one, per minute (default 0)\n"
    "  --specks N         single-line specks per camera and minute (default 20)\n"
    "  --streaks N        one-pixel streaks per camera and minute (default 0.5)\n"
    "rain that changes (the rate follows a profile; --minutes defaults to its last minute):\n"
    "  --profile FILE     \"minute rate\" lines, minutes from the start, rates in mm/h\n"
    "  --event NAME       a named event: convective (60 min, peak 80 mm/h, tail 1-2 mm/h),\n"
    "                     stratiform (120 min, up to 5 mm/h), shower (20 min, up to 25 mm/h)\n"
    "  --step             rates hold until the next point (default: linear in between)\n"
    "  --peak R           scale the profile's rates so that its peak is R mm/h\n"
    "heavy-rain realism (all off by default):\n"
    "  --turbulence S     fall speeds scattered about the law, relative standard deviation S\n"
    "                     (0.2 = 20 %; up to 2)\n"
    "  --wind U           horizontal wind, m/s: drops drift with it between the light planes\n"
    "  --wind-dir DEG     its direction from camera A's line towards camera B's (default 45)\n"
    "  --gust SD          per-drop scatter of each horizontal velocity component, m/s\n"
    "  --oscillation SD   axis ratios of drops of 1 mm and more scattered about equilibrium\n"
    "  --oscillation-mode frozen|rayleigh\n"
    "                     the same ratio in both planes (default), or oscillating on between\n"
    "                     them at the drop's fundamental frequency\n"
    "  --bursts N         clusters of drops of similar size per minute\n"
    "  --burst-drops K    drops in a cluster (default 4)\n"
    "  --burst-ms MS      a cluster arrives within MS milliseconds (default 5)\n"
    "  --splashes N       slow splash droplets (0.3 to 1 mm) per minute\n"
    "output:\n"
    "  --out PATH         output file (default V<yy><ddd>_1.AB, or corrfact.dat)\n"
    "  --truth PATH       truth file (default: the raw file's name with _truth.csv)\n"
    "  --summary PATH     truth summary (default: the truth file's name, _summary.txt\n"
    "                     in place of _truth.csv)\n"
    "  --calibrate        write the correction file of the instrument instead\n"
    "  --settings DIR     write the settings file DROPIX.SET (or --out) instead, with the\n"
    "                     .hyd/.hd directory and the resume file directory both DIR\n"
    "  --spheres N        spheres per diameter when calibrating (default 400)\n"
    "  --quiet            print nothing but errors\n";

struct cli {
  sim_options sim;
  std::string out, truth, summary;
  std::optional<std::string> settings;  // --settings DIR
  bool calibrate = false, quiet = false, help = false;
  int spheres = 400;
};

// A refused command line or an unwritable file; main reports it and returns 2.
struct failure {
  std::string why;
};

[[noreturn]] void fail(const std::string& why) { throw failure{why}; }

double number(const char* name, const char* text) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0') fail(std::string("bad value for ") + name + ": " + text);
  return v;
}

std::string read_text(const std::string& path) {
  std::FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp) fail("cannot read " + path);
  std::string text;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, fp)) > 0;) text.append(buf, n);
  std::fclose(fp);
  return text;
}

cli parse(int argc, char** argv) {
  cli c;
  bool step = false, minutes_given = false;
  double peak = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      c.help = true;
      return c;
    }
    if (a == "--calibrate") { c.calibrate = true; continue; }
    if (a == "--step") { step = true; continue; }
    if (a == "--quiet") { c.quiet = true; continue; }
    if (i + 1 >= argc) fail("missing value after " + a);
    const char* v = argv[++i];
    event_options& e = c.sim.event;
    if (a == "--rain") e.rain = number("--rain", v);
    else if (a == "--minutes") { e.minutes = number("--minutes", v); minutes_given = true; }
    else if (a == "--start") e.start = number("--start", v);
    else if (a == "--seed") c.sim.seed = static_cast<std::uint64_t>(number("--seed", v));
    else if (a == "--line-fr") c.sim.line_fr = number("--line-fr", v);
    else if (a == "--mu") e.mu = number("--mu", v);
    else if (a == "--close-pairs") e.close_pairs = number("--close-pairs", v);
    else if (a == "--specks") e.specks = number("--specks", v);
    else if (a == "--streaks") e.streaks = number("--streaks", v);
    else if (a == "--spheres") c.spheres = static_cast<int>(number("--spheres", v));
    else if (a == "--out") c.out = v;
    else if (a == "--truth") c.truth = v;
    else if (a == "--settings") c.settings = v;
    else if (a == "--summary") c.summary = v;
    else if (a == "--turbulence") e.turbulence = number("--turbulence", v);
    else if (a == "--wind") e.wind = number("--wind", v);
    else if (a == "--wind-dir") e.wind_dir = number("--wind-dir", v);
    else if (a == "--gust") e.gust = number("--gust", v);
    else if (a == "--oscillation") e.oscillation = number("--oscillation", v);
    else if (a == "--bursts") e.bursts = number("--bursts", v);
    else if (a == "--burst-drops") e.burst_drops = static_cast<int>(number("--burst-drops", v));
    else if (a == "--burst-ms") e.burst_ms = number("--burst-ms", v);
    else if (a == "--splashes") e.splashes = number("--splashes", v);
    else if (a == "--peak") peak = number("--peak", v);
    else if (a == "--oscillation-mode") {
      if (std::strcmp(v, "frozen") == 0) e.oscillation_rayleigh = false;
      else if (std::strcmp(v, "rayleigh") == 0) e.oscillation_rayleigh = true;
      else fail(std::string("unknown oscillation mode ") + v);
    } else if (a == "--profile") {
      std::string why;
      const auto p = parse_profile(read_text(v), &why);
      if (!p) fail(std::string(v) + ": " + why);
      e.profile = *p;
    } else if (a == "--event") {
      const auto p = named_event(v);
      if (!p) fail(std::string("unknown event ") + v + " (" + event_names + ")");
      e.profile = *p;
    }
    else if (a == "--dsd") {
      if (std::strcmp(v, "mp") == 0) e.dsd = dsd_kind::marshall_palmer;
      else if (std::strcmp(v, "gamma") == 0) e.dsd = dsd_kind::gamma;
      else fail(std::string("unknown distribution ") + v);
    } else if (a == "--date") {
      if (std::sscanf(v, "%d-%d-%d", &c.sim.year, &c.sim.month, &c.sim.day) != 3 || c.sim.month < 1 ||
          c.sim.month > 12 || c.sim.day < 1 || c.sim.day > 31 || c.sim.year < 1970 || c.sim.year > 2105)
        fail(std::string("bad date ") + v);
    } else {
      fail("unknown option " + a + " (see --help)");
    }
  }
  event_options& e = c.sim.event;
  if (!e.profile.empty()) {
    e.profile.step = step;
    if (peak != 0) {
      if (!(peak > 0 && peak <= 300)) fail("the peak must lie in (0, 300] mm/h");
      if (!(e.profile.peak() > 0)) fail("a profile without rain has no peak to scale");
      const double f = peak / e.profile.peak();
      for (rate_point& p : e.profile.points) p.rain *= f;
    }
    if (!minutes_given) {
      if (!(e.profile.last_minute() > 0)) fail("give --minutes: the profile ends at minute 0");
      e.minutes = e.profile.last_minute();
    }
  } else if (step || peak != 0) {
    fail("--step and --peak shape a profile: give --profile or --event");
  }
  if (!(e.rain > 0 && e.rain <= 300)) fail("the rain rate must lie in (0, 300] mm/h");
  if (!(e.turbulence >= 0 && e.turbulence <= 2)) fail("the turbulence must lie in [0, 2]");
  if (!(e.wind >= 0 && e.wind <= 30)) fail("the wind must lie in [0, 30] m/s");
  if (!std::isfinite(e.wind_dir)) fail("bad wind direction");
  if (!(e.gust >= 0 && e.gust <= 10)) fail("the gust scatter must lie in [0, 10] m/s");
  if (!(e.oscillation >= 0 && e.oscillation <= 0.3)) fail("the axis-ratio scatter must lie in [0, 0.3]");
  if (!(e.bursts >= 0 && e.bursts <= 10000)) fail("the clusters per minute must lie in [0, 10000]");
  if (!(e.burst_drops >= 1 && e.burst_drops <= 50)) fail("a cluster holds 1 to 50 drops");
  if (!(e.burst_ms > 0 && e.burst_ms <= 1000)) fail("a cluster arrives within (0, 1000] ms");
  if (!(e.splashes >= 0 && e.splashes <= 100000)) fail("the splashes per minute must lie in [0, 100000]");
  if (!(e.close_pairs >= 0) || !(e.specks >= 0) || !(e.streaks >= 0)) fail("counts per minute must be 0 or more");
  if (!(e.minutes > 0) || !(e.start >= 0) || e.start + e.minutes * 60.0 > 86399.0)
    fail("the recording must lie within one day");
  if (!(c.sim.line_fr >= 1000 && c.sim.line_fr <= 200000)) fail("the line frequency must lie in 1 .. 200 kHz");
  if (!(e.mu > -1 && e.mu < 20)) fail("the gamma shape must lie in (-1, 20)");
  if (c.spheres < 1) fail("at least one sphere per diameter");
  return c;
}

std::string summary_name(const std::string& truth) {
  const std::string tail = "_truth.csv";
  if (truth.size() >= tail.size() && truth.compare(truth.size() - tail.size(), tail.size(), tail) == 0)
    return truth.substr(0, truth.size() - tail.size()) + "_summary.txt";
  return truth + ".summary.txt";
}

std::string truth_name(const std::string& raw) {
  const std::size_t slash = raw.find_last_of("/\\");
  const std::size_t dot = raw.find_last_of('.');
  const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (has_ext ? raw.substr(0, dot) : raw) + "_truth.csv";
}

bool write_bytes(const std::string& path, const void* data, std::size_t n) {
  std::FILE* fp = std::fopen(path.c_str(), "wb");
  if (!fp) return false;
  const bool ok = std::fwrite(data, 1, n, fp) == n;
  return std::fclose(fp) == 0 && ok;
}

// The settings file through the one writer of its text that the tests and tools share.
int run_settings(const cli& c) {
  const std::string out = c.out.empty() ? "DROPIX.SET" : c.out;
  if (!dropix::rawkit::write_text(out, dropix::rawkit::settings_text(*c.settings, *c.settings))) fail("cannot write " + out);
  if (!c.quiet) std::printf("%s: HYD_PATH and RAW_PATH %s\n", out.c_str(), c.settings->c_str());
  return 0;
}

int run_calibration(const cli& c) {
  const std::string out = c.out.empty() ? "corrfact.dat" : c.out;
  rng r(c.sim.seed);
  const std::string text = corrfact_text(calibrate(instrument_header(0, c.sim.line_fr), c.spheres, r));
  if (!write_bytes(out, text.data(), text.size())) fail("cannot write " + out);
  if (!c.quiet) std::printf("%s", text.c_str());
  return 0;
}

void report(const sim_output& o, const cli& c, const std::string& out) {
  const sim_stats& s = o.stats;
  const double hours = c.sim.event.minutes / 60.0;
  std::printf("%s: %.0f bytes, %ld + %ld line blocks, %ld headers, %ld foreign blocks\n", out.c_str(), s.bytes,
              s.blocks_a, s.blocks_b, s.headers, s.foreign);
  std::printf("drops %ld (seen by both cameras %ld, clipped %ld, too close %ld) in %.0f mm^2\n", s.drops,
              s.seen_both, s.clipped, s.close, s.area_mm2);
  std::printf("shaded lines A %ld, B %ld; runs beyond six per line %ld\n", s.lines_a, s.lines_b, s.dropped_runs);
  std::printf("rain %.3f mm = %.2f mm/h (nominal %.2f, expected %.3f mm); %.0f drops/h\n", s.rain_mm, s.rain_rate,
              s.nominal_mm / hours, s.expected_mm, static_cast<double>(s.drops) / hours);
  if (s.splashes > 0 || s.clustered > 0)
    std::printf("splash droplets %ld, drops in clusters %ld\n", s.splashes, s.clustered);
  if (s.rain_mm > 0)
    std::printf("per mm of rain: %.2f MB raw data, %.0f drops\n", s.bytes / s.rain_mm / 1e6,
                static_cast<double>(s.drops) / s.rain_mm);
}

int run(int argc, char** argv) {
  const cli c = parse(argc, argv);
  if (c.help) {
    std::fputs(usage_text, stdout);
    return 0;
  }
  if (c.settings) return run_settings(c);
  if (c.calibrate) return run_calibration(c);
  const std::string out = c.out.empty() ? raw_file_name(c.sim.year, c.sim.month, c.sim.day) : c.out;
  const std::string truth = c.truth.empty() ? truth_name(out) : c.truth;
  const sim_output o = simulate(c.sim);
  if (!write_bytes(out, o.raw.data(), o.raw.size())) fail("cannot write " + out);
  if (!write_truth(truth, o.truth)) fail("cannot write " + truth);
  const std::string summary = c.summary.empty() ? summary_name(truth) : c.summary;
  if (!dropix::rawkit::write_text(summary, summary_text(c.sim, o))) fail("cannot write " + summary);
  if (!c.quiet) report(o, c, out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const failure& f) {
    std::fprintf(stderr, "dropix-sim: %s\n", f.why.c_str());
    return 2;
  }
}
