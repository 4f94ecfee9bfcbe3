// dropix-truth: pairs the drop records of a .hyd file with the simulator's truth file and
// reports recovered fraction, diameter and fall-speed errors by size class, and how well the
// two cameras' silhouettes were paired. With thresholds it fails (status 1) when the figures
// miss them.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/sim/score.h"

namespace {

using namespace dropix;

const char* const usage_text =
    "usage: dropix-truth HYD_FILE TRUTH_FILE [options]\n"
    "  --min-recovered PCT     least share of drops of 1 mm and more paired with a record\n"
    "  --max-median PCT        largest magnitude of their median relative diameter error\n"
    "  --min-recovered-07 PCT  least share of the drops of 0.7 mm and more seen whole by both\n"
    "                          cameras, alone, paired with a record\n"
    "  --min-right PCT         least share of those paired with both their silhouettes and\n"
    "                          sized within 10 %, fall speed within 5 %\n"
    "  --max-wrong PCT         largest share of wrong pairs among all drop records\n"
    "  --max-wrong-b PCT       largest share of records whose camera B silhouette is another\n"
    "                          drop's or no drop's\n"
    "  --list-missed           list the whole, separate drops of 1 mm and more without a record\n"
    "  --list-wrong            list the wrong pairs: why, the record, and the drop whose camera A\n"
    "                          silhouette it carries\n";

bool read_file(const std::string& path, std::vector<u8>& out) {
  std::FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp) return false;
  u8 buf[65536];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, fp)) > 0;) out.insert(out.end(), buf, buf + n);
  std::fclose(fp);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  double min_recovered = -1, max_median = -1, min_recovered_07 = -1, min_right = -1, max_wrong = -1, max_wrong_b = -1;
  bool list_missed = false, list_wrong = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    double* limit = a == "--min-recovered"      ? &min_recovered
                    : a == "--max-median"       ? &max_median
                    : a == "--min-recovered-07" ? &min_recovered_07
                    : a == "--min-right"        ? &min_right
                    : a == "--max-wrong"        ? &max_wrong
                    : a == "--max-wrong-b"      ? &max_wrong_b
                                                : nullptr;
    if (limit && i + 1 < argc) {
      char* end = nullptr;
      *limit = std::strtod(argv[++i], &end);
      if (end == argv[i] || *end != '\0' || !(*limit >= 0)) {
        std::fprintf(stderr, "dropix-truth: bad value for %s: %s\n", a.c_str(), argv[i]);
        return 2;
      }
    } else if (a == "--list-missed") {
      list_missed = true;
    } else if (a == "--list-wrong") {
      list_wrong = true;
    } else if (!a.empty() && a[0] != '-') {
      files.push_back(a);
    } else {
      std::fputs(usage_text, stderr);
      return 2;
    }
  }
  if (files.size() != 2) {
    std::fputs(usage_text, stderr);
    return 2;
  }
  std::vector<u8> hyd;
  if (!read_file(files[0], hyd)) {
    std::fprintf(stderr, "dropix-truth: cannot read %s\n", files[0].c_str());
    return 2;
  }
  std::string error;
  const std::vector<reader::hyd_record> records = reader::read_hyd(hyd, &error);
  if (!error.empty()) std::fprintf(stderr, "dropix-truth: %s: %s\n", files[0].c_str(), error.c_str());
  const std::vector<sim::truth_row> truth = sim::read_truth(files[1]);
  if (truth.empty()) {
    std::fprintf(stderr, "dropix-truth: no drops in %s\n", files[1].c_str());
    return 2;
  }
  const std::vector<sim::recovered_drop> drops = sim::drops_of(records);
  const sim::score s = sim::score_run(truth, drops);
  std::fputs(sim::table(s).c_str(), stdout);
  if (list_missed) {
    std::printf("%s\n", sim::truth_heading);
    for (int id : s.missed)
      for (const sim::truth_row& t : truth)
        if (t.id == id)
          std::printf("%s\n", sim::truth_line(t).c_str());
  }
  if (list_wrong) {
    static const char* const why[] = {"no_drop", "other_b", "no_b", "off"};
    std::printf("why,y_first,d,v,b_first,a_lo,a_hi,b_lo,b_hi,%s\n", sim::truth_heading);
    for (const auto& w : s.pairing.wrong_list) {
      const sim::recovered_drop& r = drops[static_cast<std::size_t>(w.record)];
      std::printf("%s,%.0f,%.2f,%.3f,%.0f,%d,%d,%d,%d,%s\n", why[static_cast<int>(w.kind)], r.y_first, r.d, r.v,
                  r.b_first, r.a_lo, r.a_hi, r.b_lo, r.b_hi,
                  w.drop >= 0 ? sim::truth_line(truth[static_cast<std::size_t>(w.drop)]).c_str() : "");
    }
  }
  bool ok = true;
  if (min_recovered >= 0 && 100.0 * s.large.fraction() < min_recovered) {
    std::printf("FAIL: %.2f %% of the drops of 1 mm and more recovered, less than %.2f %%\n",
                100.0 * s.large.fraction(), min_recovered);
    ok = false;
  }
  if (max_median >= 0 && !(std::abs(s.large.median) <= max_median)) {
    std::printf("FAIL: median diameter error %+.2f %% beyond %.2f %%\n", s.large.median, max_median);
    ok = false;
  }
  const sim::pairing_stats& p = s.pairing;
  if (min_recovered_07 >= 0 && !(p.recovered_pct() >= min_recovered_07)) {
    std::printf("FAIL: %.2f %% of the drops of %.1f mm and more recovered, less than %.2f %%\n", p.recovered_pct(),
                p.min_d, min_recovered_07);
    ok = false;
  }
  if (min_right >= 0 && !(p.right_pct() >= min_right)) {
    std::printf("FAIL: %.2f %% of the drops of %.1f mm and more right, less than %.2f %%\n", p.right_pct(), p.min_d,
                min_right);
    ok = false;
  }
  if (max_wrong >= 0 && !(p.wrong_pct() <= max_wrong)) {
    std::printf("FAIL: %.2f %% of the records wrong pairs, more than %.2f %%\n", p.wrong_pct(), max_wrong);
    ok = false;
  }
  const double wrong_b = p.records > 0 ? 100.0 * (p.wrong_other_b + p.wrong_no_b) / p.records : 0.0;
  if (max_wrong_b >= 0 && !(wrong_b <= max_wrong_b)) {
    std::printf("FAIL: %.2f %% of the records with a camera B silhouette not their drop's, more than %.2f %%\n",
                wrong_b, max_wrong_b);
    ok = false;
  }
  return ok ? 0 : 1;
}
