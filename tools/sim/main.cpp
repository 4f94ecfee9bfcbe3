// dropix-sim: writes the raw file of a simulated rain event and its truth, or, with
// --calibrate, the correction file of the simulated instrument.
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
    "  --out PATH         output file (default V<yy><ddd>_1.AB, or corrfact.dat)\n"
    "  --truth PATH       truth file (default: the raw file's name with _truth.csv)\n"
    "  --calibrate        write the correction file of the instrument instead\n"
    "  --settings DIR     write the settings file DROPIX.SET (or --out) instead, with the\n"
    "                     .hyd/.hd directory and the resume file directory both DIR\n"
    "  --spheres N        spheres per diameter when calibrating (default 400)\n"
    "  --quiet            print nothing but errors\n";

struct cli {
  sim_options sim;
  std::string out, truth;
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

cli parse(int argc, char** argv) {
  cli c;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      c.help = true;
      return c;
    }
    if (a == "--calibrate") { c.calibrate = true; continue; }
    if (a == "--quiet") { c.quiet = true; continue; }
    if (i + 1 >= argc) fail("missing value after " + a);
    const char* v = argv[++i];
    event_options& e = c.sim.event;
    if (a == "--rain") e.rain = number("--rain", v);
    else if (a == "--minutes") e.minutes = number("--minutes", v);
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
  const event_options& e = c.sim.event;
  if (!(e.rain > 0 && e.rain <= 300)) fail("the rain rate must lie in (0, 300] mm/h");
  if (!(e.minutes > 0) || !(e.start >= 0) || e.start + e.minutes * 60.0 > 86399.0)
    fail("the recording must lie within one day");
  if (!(c.sim.line_fr >= 1000 && c.sim.line_fr <= 200000)) fail("the line frequency must lie in 1 .. 200 kHz");
  if (!(e.mu > -1 && e.mu < 20)) fail("the gamma shape must lie in (-1, 20)");
  if (c.spheres < 1) fail("at least one sphere per diameter");
  return c;
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
  std::printf("rain %.3f mm = %.2f mm/h (nominal %.2f); %.0f drops/h\n", s.rain_mm, s.rain_rate,
              c.sim.event.rain, static_cast<double>(s.drops) / hours);
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
