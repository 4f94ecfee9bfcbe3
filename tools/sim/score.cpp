#include "tools/sim/score.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace dropix::sim {

namespace {

constexpr double class_edges[] = {0.25, 0.5, 1.0, 2.0, 3.0, 5.0, 8.01};
// Size classes of the pairing figures: below and above the 0.7 mm of the pairing class.
constexpr double pairing_edges[] = {0.0, 0.5, 0.7, 1.0, 2.0, 3.0, 5.0, 8.01};
constexpr double pair_window = 2.0;  // lines

bool within(double a, double b) { return std::abs(a - b) <= pair_window; }

bool b_matches(const std::vector<truth_row>& truth, const truth_row& t, const recovered_drop& r) {
  if (b_silhouette_is(t, r)) return true;
  if (t.partner >= 0 && static_cast<std::size_t>(t.partner) < truth.size()) {
    const truth_row& p = truth[static_cast<std::size_t>(t.partner)];
    if (p.id == t.partner && b_silhouette_is(p, r)) return true;
  }
  return false;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const double at = p * static_cast<double>(v.size() - 1);
  const auto i = static_cast<std::size_t>(at);
  const double frac = at - static_cast<double>(i);
  return i + 1 < v.size() ? v[i] * (1 - frac) + v[i + 1] * frac : v[i];
}

struct samples {
  std::vector<double> d_err, v_err;  // percent
};

void finish(class_stats& c, const samples& s) {
  c.sized = static_cast<int>(s.d_err.size());
  if (s.d_err.empty()) return;
  c.median = percentile(s.d_err, 0.5);
  std::vector<double> abs_err;
  double sum = 0, sum2 = 0;
  for (double e : s.d_err) {
    abs_err.push_back(std::abs(e));
    sum += e;
    sum2 += e * e;
  }
  const double n = static_cast<double>(s.d_err.size());
  c.p95 = percentile(abs_err, 0.95);
  c.bias = sum / n;
  c.spread = std::sqrt(std::max(0.0, sum2 / n - c.bias * c.bias));
  c.v_median = percentile(s.v_err, 0.5);
}

// Index of the record paired with each true drop, or -1.
std::vector<int> pair_up(const std::vector<truth_row>& truth, const std::vector<recovered_drop>& drops) {
  std::multimap<std::uint64_t, std::size_t> by_line;
  int longest = 0;
  for (std::size_t i = 0; i < truth.size(); ++i)
    if (truth[i].lines_a > 0) {
      by_line.emplace(truth[i].first_a, i);
      longest = std::max(longest, truth[i].lines_a);
    }
  std::vector<int> paired(truth.size(), -1);
  for (std::size_t r = 0; r < drops.size(); ++r) {
    const double y = drops[r].y_first;
    const auto lo = by_line.lower_bound(static_cast<std::uint64_t>(std::max(0.0, y - pair_window - longest)));
    const auto hi = by_line.upper_bound(static_cast<std::uint64_t>(std::max(0.0, y + pair_window)));
    std::size_t best = truth.size();
    double best_dist = 0, best_size = 0;
    bool best_b = false;
    for (auto it = lo; it != hi; ++it) {
      if (paired[it->second] >= 0 || !a_silhouette_is(truth[it->second], drops[r])) continue;
      const bool b = b_matches(truth, truth[it->second], drops[r]);
      const double dist = std::abs(static_cast<double>(it->first) - y);
      const double size = std::abs(truth[it->second].d - drops[r].d);
      if (best == truth.size() || (b && !best_b) ||
          (b == best_b && (dist < best_dist || (dist == best_dist && size < best_size)))) {
        best = it->second;
        best_dist = dist;
        best_size = size;
        best_b = b;
      }
    }
    if (best < truth.size()) paired[best] = static_cast<int>(r);
  }
  return paired;
}

bool right(const truth_row& t, const recovered_drop& r) {
  return std::abs(r.d / t.d - 1.0) <= right_d && std::abs(r.v / t.v - 1.0) <= right_v;
}

// Drops of the pairing class: large enough, seen whole by both cameras, alone, rain.
bool in_class(const truth_row& t, double min_d) {
  return t.d >= min_d && t.both && !t.clipped && t.partner < 0 && !t.splash;
}

pairing_stats pairing_of(const std::vector<truth_row>& truth, const std::vector<recovered_drop>& drops,
                         const std::vector<int>& paired) {
  pairing_stats p;
  p.records = static_cast<int>(drops.size());
  std::vector<int> drop_of(drops.size(), -1);
  for (std::size_t i = 0; i < truth.size(); ++i)
    if (paired[i] >= 0) drop_of[static_cast<std::size_t>(paired[i])] = static_cast<int>(i);
  std::multimap<std::uint64_t, std::size_t> by_line_b;
  int longest = 0;
  for (std::size_t i = 0; i < truth.size(); ++i)
    if (truth[i].lines_b > 0) {
      by_line_b.emplace(truth[i].first_b, i);
      longest = std::max(longest, truth[i].lines_b);
    }
  // Whether the record's camera B silhouette is some drop's (not its own, which was asked).
  auto someone_elses = [&](const recovered_drop& r) {
    if (r.b_first < 0) return false;
    const double from = std::max(0.0, std::floor(r.b_first - longest - pair_window));
    for (auto it = by_line_b.lower_bound(static_cast<std::uint64_t>(from));
         it != by_line_b.end() && static_cast<double>(it->first) <= r.b_first + pair_window; ++it)
      if (b_silhouette_is(truth[it->second], r)) return true;
    return false;
  };
  for (std::size_t k = 0; k + 1 < std::size(pairing_edges); ++k) p.sizes.push_back({pairing_edges[k], pairing_edges[k + 1]});
  auto size_of = [&](double d) -> pairing_stats::by_size& {
    std::size_t k = 0;
    while (k + 1 < p.sizes.size() && d >= p.sizes[k].hi) ++k;
    return p.sizes[k];
  };
  for (std::size_t i = 0; i < truth.size(); ++i) {
    const bool seen = in_class(truth[i], 0.0);
    const bool judged = in_class(truth[i], p.min_d);
    if (!seen) continue;
    pairing_stats::by_size& c = size_of(truth[i].d);
    ++c.drops;
    p.drops += judged;
    if (paired[i] < 0) continue;
    ++c.recovered;
    p.recovered += judged;
    const recovered_drop& r = drops[static_cast<std::size_t>(paired[i])];
    const bool is_right = b_matches(truth, truth[i], r) && right(truth[i], r);
    c.right += is_right;
    p.right += judged && is_right;
  }
  for (std::size_t k = 0; k < drops.size(); ++k) {
    const recovered_drop& r = drops[k];
    using kind = pairing_stats::wrong_kind;
    if (drop_of[k] < 0) {
      ++p.wrong_no_drop;
      p.wrong_list.push_back({static_cast<int>(k), kind::no_drop, -1});
      continue;
    }
    const truth_row& t = truth[static_cast<std::size_t>(drop_of[k])];
    pairing_stats::by_size& c = size_of(t.d);
    ++c.records;
    if (!b_matches(truth, t, r)) {
      const bool other = someone_elses(r);
      ++(other ? p.wrong_other_b : p.wrong_no_b);
      ++(other ? c.other_b : c.no_b);
      p.wrong_list.push_back({static_cast<int>(k), other ? kind::other_b : kind::no_b, drop_of[k]});
      continue;
    }
    if (in_class(t, p.min_d) && !right(t, r)) {
      ++p.wrong_off;
      ++c.off;
      p.wrong_list.push_back({static_cast<int>(k), kind::off, drop_of[k]});
    }
  }
  return p;
}

}  // namespace

namespace {
bool silhouette_is(std::uint64_t first_line, int lines, int lo, int hi, double rec_first, int rec_lo, int rec_hi) {
  if (rec_first < 0 || lines <= 0) return false;
  const auto first = static_cast<double>(first_line);
  if (lo < 0 || rec_lo < 0) return within(first, rec_first);
  const double latest = first + std::max(pair_window, lines - 1 - pair_window);
  if (rec_first < first - pair_window || rec_first > latest) return false;
  return rec_lo <= hi + 1 && rec_hi >= lo - 1;
}
}  // namespace

bool a_silhouette_is(const truth_row& t, const recovered_drop& r) {
  return silhouette_is(t.first_a, t.lines_a, t.pix_a_lo, t.pix_a_hi, r.y_first, r.a_lo, r.a_hi);
}

bool b_silhouette_is(const truth_row& t, const recovered_drop& r) {
  return silhouette_is(t.first_b, t.lines_b, t.pix_b_lo, t.pix_b_hi, r.b_first, r.b_lo, r.b_hi);
}

std::vector<recovered_drop> drops_of(const std::vector<reader::hyd_record>& records) {
  std::vector<recovered_drop> out;
  double line_fr = 0;
  for (const reader::hyd_record& r : records) {
    if (r.is_header) {
      line_fr = r.header.line_fr;
      continue;
    }
    const int twice_delay = r.drop.diff_lins - r.drop.lines_diff;
    recovered_drop d{r.drop.y_first, r.drop.diam_100 / 100.0, r.drop.yscale_10k * 1e-4 * line_fr * 1e-3,
                     r.drop.y_first + std::floor(twice_delay / 2.0)};
    for (const reader::silhouette_piece& p : r.a) {
      d.a_lo = d.a_lo < 0 ? p.first : std::min<int>(d.a_lo, p.first);
      d.a_hi = std::max<int>(d.a_hi, p.last);
    }
    for (const reader::silhouette_piece& p : r.b) {
      d.b_lo = d.b_lo < 0 ? p.first : std::min<int>(d.b_lo, p.first);
      d.b_hi = std::max<int>(d.b_hi, p.last);
    }
    out.push_back(d);
  }
  return out;
}

score score_run(const std::vector<truth_row>& truth, const std::vector<recovered_drop>& drops) {
  const std::vector<int> paired = pair_up(truth, drops);
  score s;
  s.records = static_cast<int>(drops.size());
  s.unpaired = s.records - static_cast<int>(std::count_if(paired.begin(), paired.end(), [](int p) { return p >= 0; }));
  const std::size_t n_classes = std::size(class_edges) - 1;
  s.classes.resize(n_classes);
  std::vector<samples> per_class(n_classes);
  samples large, clipped;
  s.large.lo = 1.0;
  s.large.hi = class_edges[n_classes];
  for (std::size_t k = 0; k < n_classes; ++k) {
    s.classes[k].lo = class_edges[k];
    s.classes[k].hi = class_edges[k + 1];
  }
  for (std::size_t i = 0; i < truth.size(); ++i) {
    const truth_row& t = truth[i];
    const bool found = paired[i] >= 0;
    if (t.partner >= 0) {
      ++s.close;
      s.close_recovered += found;
      continue;
    }
    const auto k = static_cast<std::size_t>(std::upper_bound(class_edges, class_edges + n_classes, t.d) - class_edges) - 1;
    class_stats& c = s.classes[std::min(k, n_classes - 1)];
    ++c.drops;
    c.recovered += found;
    if (t.d >= 1.0) {
      ++s.large.drops;
      s.large.recovered += found;
    }
    if (!found) {
      if (t.d >= 1.0 && !t.clipped) s.missed.push_back(t.id);
      continue;
    }
    const recovered_drop& r = drops[static_cast<std::size_t>(paired[i])];
    const double d_err = (r.d / t.d - 1.0) * 100.0, v_err = (r.v / t.v - 1.0) * 100.0;
    if (t.clipped) {
      ++s.clipped_recovered;
      clipped.d_err.push_back(d_err);
      continue;
    }
    per_class[std::min(k, n_classes - 1)].d_err.push_back(d_err);
    per_class[std::min(k, n_classes - 1)].v_err.push_back(v_err);
    if (t.d >= 1.0) {
      large.d_err.push_back(d_err);
      large.v_err.push_back(v_err);
    }
  }
  s.pairing = pairing_of(truth, drops, paired);
  for (std::size_t k = 0; k < n_classes; ++k) finish(s.classes[k], per_class[k]);
  finish(s.large, large);
  for (const truth_row& t : truth) s.clipped += t.clipped && t.partner < 0;
  s.clipped_median = percentile(clipped.d_err, 0.5);
  return s;
}

std::string table(const score& s) {
  std::string out =
      "| D (mm) | drops | recovered | median dD/D | 95th pct abs dD/D | bias | spread | median dv/v |\n"
      "|---|---:|---:|---:|---:|---:|---:|---:|\n";
  char buf[200];
  auto row = [&](const char* label, const class_stats& c) {
    std::snprintf(buf, sizeof buf, "| %s | %d | %.1f %% | %+.2f %% | %.2f %% | %+.2f %% | %.2f %% | %+.2f %% |\n", label,
                  c.drops, 100.0 * c.fraction(), c.median, c.p95, c.bias, c.spread, c.v_median);
    out += buf;
  };
  for (const class_stats& c : s.classes) {
    char label[32];
    std::snprintf(label, sizeof label, "%.2f-%.2f", c.lo, std::min(c.hi, 8.0));
    if (c.drops > 0) row(label, c);
  }
  row(">= 1", s.large);
  std::snprintf(buf, sizeof buf,
                "\nrecords %d (%d without a true drop); too close %d (%d paired); clipped %d (%d paired, "
                "median dD/D %+.1f %%)\n",
                s.records, s.unpaired, s.close, s.close_recovered, s.clipped, s.clipped_recovered, s.clipped_median);
  out += buf;
  const pairing_stats& p = s.pairing;
  std::snprintf(buf, sizeof buf,
                "\npairing, drops of %.1f mm and more seen whole by both cameras, alone: %d; recovered %d (%.2f %%), "
                "right %d (%.2f %%)\n",
                p.min_d, p.drops, p.recovered, p.recovered_pct(), p.right, p.right_pct());
  out += buf;
  std::snprintf(buf, sizeof buf,
                "wrong pairs %d of %d records (%.2f %%): camera A of no drop %d, camera B of another drop %d, "
                "of no drop %d, size or speed off %d\n",
                p.wrong(), p.records, p.wrong_pct(), p.wrong_no_drop, p.wrong_other_b, p.wrong_no_b, p.wrong_off);
  out += buf;
  out +=
      "\n| pairing by size (mm) | drops | recovered | right | records | camera B of another drop | of no drop | "
      "size or speed off |\n|---|---:|---:|---:|---:|---:|---:|---:|\n";
  for (const pairing_stats::by_size& c : p.sizes) {
    if (c.drops == 0 && c.records == 0) continue;
    const double n = c.drops > 0 ? c.drops : 1;
    std::snprintf(buf, sizeof buf, "| %.2f-%.2f | %d | %.2f %% | %.2f %% | %d | %d | %d | %d |\n", c.lo,
                  std::min(c.hi, 8.0), c.drops, 100.0 * c.recovered / n, 100.0 * c.right / n, c.records, c.other_b,
                  c.no_b, c.off);
    out += buf;
  }
  return out;
}

}  // namespace dropix::sim
