#include "reconstruct/pairing.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "reconstruct/eval_dr.h"
#include "reconstruct/match.h"

namespace dropix {

namespace {

// Where the laws are used: diameters between these (mm).
constexpr f64 law_d_min = 0.1;
constexpr f64 law_d_max = 8.0;
// The speed fit peaks at 9.18 m/s near 6 mm and then falls by 0.2 % to 8 mm; measured speeds
// level off there instead, so the peak holds beyond it.
constexpr f64 speed_peak_d = 5.9;

// A cost no candidate reaches: a row and a column without a candidate between them.
constexpr f64 no_pair = 1e9;

bool positive(f64 v) { return v > 0 && std::isfinite(v); }

bool usable(const main_rec& h) {
  return h.gate1 > 0 && positive(h.XSCALE0_1) && positive(h.XSCALE0_2) && positive(h.L0_1) && positive(h.L0_2) &&
         positive(h.HBL) && positive(h.HBR) && positive(h.HFR) && positive(h.line_fr);
}

row_geometry geometry_of(const main_rec& h, const silhouette& a) {
  row_geometry g;
  g.gate = h.gate1;
  const f64 w = 2.0 * g.gate;
  const f64 off_a = a.centre - g.gate;
  g.xs_b = f64{h.XSCALE0_2} * (f64{h.L0_2} + f64{h.XSCALE0_1} * off_a) / h.L0_2;
  g.xs_a0 = h.XSCALE0_1;
  g.xs_a_slope = f64{h.XSCALE0_1} * h.XSCALE0_2 / h.L0_1;
  const f64 hfl = f64{h.HBL} + h.HFR - h.HBR;
  const f64 front = hfl + (h.HFR - hfl) * a.centre / w;
  const f64 back = h.HBL + (f64{h.HBR} - h.HBL) * a.centre / w;
  g.h_back = back;
  g.h_slope = (front - back) / w;
  g.mm_per_s = h.line_fr * 1e-3;
  return g;
}

f64 clamp_law(f64 d) { return std::clamp(d, law_d_min, law_d_max); }

// d ln(v) / dD of the terminal-speed law, per mm.
f64 terminal_speed_log_slope(f64 d) {
  if (d >= speed_peak_d) return 0.0;
  d = clamp_law(d);
  const f64 dv = 4.932 - 2 * 0.9551 * d + 3 * 0.07934 * d * d - 4 * 0.002362 * d * d * d;
  return dv / terminal_speed(d);
}

// The equivalent diameter of a drop whose horizontal axis is `a` (mm): the volume of the
// spheroid pi/6 a^2 (r a) equals pi/6 D^3, so D = a r^(1/3) with r the axis ratio of D,
// solved by iteration once on a grid of 0.01 mm and interpolated linearly in between.
constexpr f64 axis_step = 0.01;
constexpr int axis_points = 1201;  // 0 .. 12 mm

f64 solved_diameter(f64 a) {
  f64 d = a;
  for (int i = 0; i < 4; ++i) d = a * std::cbrt(axis_ratio_law(d));
  return d;
}

f64 diameter_of_axis(f64 a) {
  static const std::vector<f64> table = [] {
    std::vector<f64> t(axis_points);
    for (int i = 0; i < axis_points; ++i) t[static_cast<std::size_t>(i)] = solved_diameter(i * axis_step);
    return t;
  }();
  const f64 at = a / axis_step;
  if (!(at < axis_points - 1)) return solved_diameter(a);
  const auto i = static_cast<std::size_t>(at);
  const f64 frac = at - static_cast<f64>(i);
  return table[i] + (table[i + 1] - table[i]) * frac;
}

bool earlier(const silhouette& x, const silhouette& y) {
  return x.y_first < y.y_first || (x.y_first == y.y_first && x.pix_min < y.pix_min);
}

// The Wait-queue's objects in time order (first line, then leftmost pixel: two objects of one
// camera never share both), which does not depend on the slots they happen to occupy.
void collect(std::vector<silhouette>& out, const queue_pair& qp) {
  out.clear();
  for (drop_rec* p = qp.wait_last; p; p = p->prev) out.push_back(silhouette_of(p));
  std::sort(out.begin(), out.end(), earlier);
}

int find_root(std::vector<int>& parent, int x) {
  while (parent[x] != x) {
    parent[x] = parent[parent[x]];
    x = parent[x];
  }
  return x;
}

void unite(std::vector<int>& parent, int x, int y) {
  x = find_root(parent, x);
  y = find_root(parent, y);
  if (x != y) parent[std::max(x, y)] = std::min(x, y);
}

}  // namespace

f64 terminal_speed(f64 d) {
  d = std::clamp(d, law_d_min, speed_peak_d);
  return -0.1021 + d * (4.932 + d * (-0.9551 + d * (0.07934 - d * 0.002362)));
}

f64 axis_ratio_law(f64 d) {
  d = clamp_law(d);
  const f64 r = 0.9951 + d * (0.02510 + d * (-0.03644 + d * (0.005303 - d * 0.0002492)));
  return std::min(r, 1.0);
}

silhouette silhouette_of(drop_rec* obj) {
  silhouette s;
  s.obj = obj;
  s.y_first = obj->y_first;
  s.y_last = obj->y_last;
  s.lines = obj->line_no;
  s.pix_min = obj->pix_min;
  s.pix_max = obj->pix_max;
  s.centre = 0.5 * (obj->pix_min + obj->pix_max);
  int widest = 0, shaded = 0;
  for (int i = 0; i < obj->line_no; ++i) {
    const int w = obj->pieces[i].last - obj->pieces[i].first + 1;
    widest = std::max(widest, w);
    shaded += w;
  }
  s.widest = widest;
  s.shaded = shaded;
  s.sizable = obj->max_wid > 0;
  return s;
}

namespace {

// cost_of_pair with the header's geometry checked and camera A's part worked out.
std::optional<pair_cost> cost_with(const row_geometry& g, const silhouette& a, const silhouette& b,
                                   const pairing_params& p) {
  const f64 delay_first = b.y_first - a.y_first;
  if (!(delay_first >= 0 && delay_first <= window_lines)) return std::nullopt;
  // The drop falls the plane distance in the mean of the delays of its first and its last
  // line, as the evaluation takes it.
  const f64 delay = 0.5 * (delay_first + (b.y_last - a.y_last));
  if (!(delay >= 1.0) || a.widest <= 0 || b.widest <= 0 || !a.sizable || !b.sizable) return std::nullopt;

  pair_cost c;
  // Both cameras see the same vertical extent at the same fall speed.
  const f64 lines = 0.5 * (a.lines + b.lines);
  const f64 lines_sd2 = p.lines_abs * p.lines_abs + (p.lines_rel * lines) * (p.lines_rel * lines);
  const f64 dl = a.lines - b.lines;
  c.lines = dl * dl / lines_sd2;
  if (!(c.lines < p.limit)) return c;

  const f64 xs_a = g.xs_a0 - g.xs_a_slope * (b.centre - g.gate);
  const f64 h_dist = g.h_back + g.h_slope * b.centre;
  if (!positive(xs_a) || !positive(g.xs_b) || !positive(h_dist)) return std::nullopt;

  // Widths: each camera sees the horizontal axis of the drop, one pixel count at its scale.
  const f64 w_a = a.widest * xs_a, w_b = b.widest * g.xs_b;
  const f64 axis = 0.5 * (w_a + w_b);
  const f64 q2 = p.width_px * p.width_px * (xs_a * xs_a + g.xs_b * g.xs_b);
  const f64 width_var = q2 + (p.width_rel * axis) * (p.width_rel * axis);
  c.width = (w_a - w_b) * (w_a - w_b) / width_var;
  // Silhouette areas: the chords of every scan line in mm, summed; both cameras cut the drop
  // at the same heights, so the sums agree but for the quantisation of each chord and a
  // narrow chord at the top or bottom that one camera may miss.
  const f64 s_a = a.shaded * xs_a, s_b = b.shaded * g.xs_b;
  const f64 area = 0.5 * (s_a + s_b);
  const f64 area_var = p.area_px * p.area_px * (a.lines * xs_a * xs_a + b.lines * g.xs_b * g.xs_b) +
                       (p.area_edge * (xs_a + g.xs_b)) * (p.area_edge * (xs_a + g.xs_b)) * 0.25 +
                       (p.area_rel * area) * (p.area_rel * area);
  c.area = (s_a - s_b) * (s_a - s_b) / area_var;
  // Most candidates of another drop fail here already; the rest of the cost would only add.
  if (!(c.width + c.lines + c.area < p.limit)) return c;

  const f64 fall = h_dist / delay;  // mm per line
  c.fall_speed = fall * g.mm_per_s;

  // Height: the scan lines that cut the drop cover its vertical axis, the horizontal axis
  // times the axis ratio of its diameter; at `fall` mm a line that is axis * r / fall lines.
  const f64 axis_sd = 0.5 * std::sqrt(q2);  // of the mean of both widths
  c.diameter = diameter_of_axis(axis);
  const f64 vertical = axis * axis_ratio_law(c.diameter);
  const f64 expected = vertical / fall;
  const f64 rel_sd2 = (axis_sd / axis) * (axis_sd / axis) + p.height_rel * p.height_rel;
  const f64 height_var = p.height_lines * p.height_lines + expected * expected * rel_sd2;
  c.height = (lines - expected) * (lines - expected) / height_var;

  // Fall speed: free within a band around the terminal speed of the diameter, and beyond it
  // a deviation in units of the scatter about the law combined with what the diameter's own
  // uncertainty moves that speed.
  const f64 off = std::abs(std::log(c.fall_speed / terminal_speed(c.diameter)));
  const f64 moved = terminal_speed_log_slope(c.diameter) * axis_sd;
  const f64 excess = std::max(0.0, off - p.speed_band);
  c.speed = excess * excess / (p.speed_sd * p.speed_sd + moved * moved);
  if (!std::isfinite(c.total())) return std::nullopt;
  return c;
}

}  // namespace

std::optional<pair_cost> cost_of_pair(const main_rec& h, const silhouette& a, const silhouette& b,
                                      const pairing_params& p) {
  if (!usable(h)) return std::nullopt;
  return cost_with(geometry_of(h, a), a, b, p);
}

void assignment::solve(int n_rows, int n_cols, std::span<const candidate> cands, f64 unpaired_cost,
                       std::vector<int>& partner) {
  // Columns 1 .. n_cols are the camera B objects, n_cols + 1 + r is row r's "unpaired";
  // rows are 1 .. n_rows, index 0 the method's free row and column.
  const int m = n_cols + n_rows;
  const auto at = [m](int i, int j) { return static_cast<std::size_t>(i) * static_cast<std::size_t>(m + 1) + j; };
  cost_.assign(static_cast<std::size_t>(n_rows + 1) * static_cast<std::size_t>(m + 1), no_pair);
  for (const candidate& c : cands) cost_[at(c.a + 1, c.b + 1)] = std::min(cost_[at(c.a + 1, c.b + 1)], c.cost);
  for (int r = 0; r < n_rows; ++r) cost_[at(r + 1, n_cols + 1 + r)] = unpaired_cost;

  u_.assign(static_cast<std::size_t>(n_rows) + 1, 0.0);
  v_.assign(static_cast<std::size_t>(m) + 1, 0.0);
  col_row_.assign(static_cast<std::size_t>(m) + 1, 0);
  way_.assign(static_cast<std::size_t>(m) + 1, 0);
  for (int i = 1; i <= n_rows; ++i) {
    col_row_[0] = i;
    int j0 = 0;
    min_to_.assign(static_cast<std::size_t>(m) + 1, std::numeric_limits<f64>::infinity());
    used_.assign(static_cast<std::size_t>(m) + 1, 0);
    do {
      used_[j0] = 1;
      const int i0 = col_row_[j0];
      f64 delta = std::numeric_limits<f64>::infinity();
      int j1 = 0;
      for (int j = 1; j <= m; ++j) {
        if (used_[j]) continue;
        const f64 cur = cost_[at(i0, j)] - u_[i0] - v_[j];
        if (cur < min_to_[j]) {
          min_to_[j] = cur;
          way_[j] = j0;
        }
        if (min_to_[j] < delta) {
          delta = min_to_[j];
          j1 = j;
        }
      }
      for (int j = 0; j <= m; ++j) {
        if (used_[j]) {
          u_[col_row_[j]] += delta;
          v_[j] -= delta;
        } else {
          min_to_[j] -= delta;
        }
      }
      j0 = j1;
    } while (col_row_[j0] != 0);
    do {
      const int j1 = way_[j0];
      col_row_[j0] = col_row_[j1];
      j0 = j1;
    } while (j0 != 0);
  }
  partner.assign(static_cast<std::size_t>(n_rows), -1);
  for (int j = 1; j <= n_cols; ++j)
    if (col_row_[j] > 0 && cost_[at(col_row_[j], j)] < no_pair) partner[col_row_[j] - 1] = j - 1;
}

namespace {

// Row r's geometry, worked out once per call: null when no camera B object lies in its
// window (nothing to work out) or its header gives no geometry (reported once per header).
// No header in force ends the run, as the evaluation would end it.
const row_geometry* geometry_of_row(pairing_state& st, std::size_t r, const header_list& headers, diagnostics& d) {
  enum : char { unknown = 0, known = 1, none = 2 };
  if (st.row_state[r] != unknown) return st.row_state[r] == known ? &st.row_geo[r] : nullptr;
  st.row_state[r] = none;
  const silhouette& a = st.a[r];
  const auto first = std::lower_bound(st.b.begin(), st.b.end(), a.y_first,
                                      [](const silhouette& s, f64 y) { return s.y_first < y; });
  if (first == st.b.end() || first->y_first - window_lines > a.y_first) return nullptr;
  const main_rec& h = header_at(headers, a.y_first, d);
  if (!usable(h)) {
    if (std::find(st.no_geometry.begin(), st.no_geometry.end(), &h) == st.no_geometry.end()) {
      st.no_geometry.push_back(&h);
      err_printf(d, "pairing: the main header of %lu gives no geometry: no pairs under it\n",
                 static_cast<unsigned long>(h.main_time));
    }
    return nullptr;
  }
  st.row_geo[r] = geometry_of(h, a);
  st.row_state[r] = known;
  return &st.row_geo[r];
}

// The candidates of row r (camera A object) among the camera B objects of its window: the
// cheapest max_candidates below the limit, appended to st.cands; their columns not met
// before go on the frontier.
void evaluate_row(pairing_state& st, std::size_t r, const header_list& headers, diagnostics& d) {
  if (st.evaluated[r]) return;
  st.evaluated[r] = 1;
  const std::size_t begin = st.cands.size();
  st.cand_begin[r] = begin;
  st.cand_end[r] = begin;
  const row_geometry* g = geometry_of_row(st, r, headers, d);
  if (!g) return;
  const silhouette& a = st.a[r];
  auto it = std::lower_bound(st.b.begin(), st.b.end(), a.y_first,
                             [](const silhouette& s, f64 y) { return s.y_first < y; });
  for (; it != st.b.end() && it->y_first - window_lines <= a.y_first; ++it) {
    const auto c = cost_with(*g, a, *it, st.params);
    if (!c || !(c->total() < st.params.limit)) continue;
    st.cands.push_back({static_cast<s32>(r), static_cast<s32>(it - st.b.begin()), c->total()});
  }
  const auto cheaper = [](const candidate& x, const candidate& y) {
    return x.cost < y.cost || (x.cost == y.cost && x.b < y.b);
  };
  const std::size_t keep = static_cast<std::size_t>(std::max(1, st.params.max_candidates));
  if (st.cands.size() - begin > keep) {
    std::partial_sort(st.cands.begin() + static_cast<std::ptrdiff_t>(begin),
                      st.cands.begin() + static_cast<std::ptrdiff_t>(begin + keep), st.cands.end(), cheaper);
    st.cands.resize(begin + keep);
  }
  st.cand_end[r] = st.cands.size();
  for (std::size_t c = begin; c < st.cand_end[r]; ++c) {
    const auto col = static_cast<std::size_t>(st.cands[c].b);
    if (!st.col_seen[col]) {
      st.col_seen[col] = 1;
      st.frontier.push_back(static_cast<int>(col));
    }
  }
}

// The candidates that matter now: those of every row decided now, and those of every younger
// row that competes with them, directly or through other rows, for a camera B object. A
// younger row competes for column c when pairing it with c costs less than the limit.
// Younger rows joined to no decided row are left for a later call.
void find_candidates(pairing_state& st, f64 horizon, const header_list& headers, diagnostics& d) {
  const std::size_t na = st.a.size(), nb = st.b.size();
  st.cands.clear();
  st.cand_begin.assign(na, 0);
  st.cand_end.assign(na, 0);
  st.evaluated.assign(na, 0);
  st.row_state.assign(na, 0);
  st.row_geo.resize(na);
  st.col_seen.assign(nb, 0);
  st.frontier.clear();
  std::size_t n_old = 0;
  while (n_old < na && st.a[n_old].y_first <= horizon) evaluate_row(st, n_old++, headers, d);
  while (!st.frontier.empty()) {
    const auto col = static_cast<std::size_t>(st.frontier.back());
    st.frontier.pop_back();
    const silhouette& b = st.b[col];
    // Younger rows whose window holds the column: starting from 1200 lines before it to it.
    auto it = std::lower_bound(st.a.begin() + static_cast<std::ptrdiff_t>(n_old), st.a.end(), b.y_first - window_lines,
                               [](const silhouette& s, f64 y) { return s.y_first < y; });
    for (; it != st.a.end() && it->y_first <= b.y_first; ++it) {
      const auto r = static_cast<std::size_t>(it - st.a.begin());
      if (st.evaluated[r]) continue;
      const row_geometry* g = geometry_of_row(st, r, headers, d);
      if (!g) continue;
      const auto c = cost_with(*g, *it, b, st.params);
      if (c && c->total() < st.params.limit) evaluate_row(st, r, headers, d);
    }
  }
}

// Rows and columns joined by candidates form groups; each group is solved on its own.
// Groups are numbered in the order of their earliest row, and rows keep their time order.
void form_groups(pairing_state& st, f64 horizon) {
  const std::size_t na = st.a.size(), nb = st.b.size();
  st.parent.resize(na + nb);
  for (std::size_t i = 0; i < na + nb; ++i) st.parent[i] = static_cast<int>(i);
  for (const candidate& c : st.cands) unite(st.parent, c.a, static_cast<int>(na) + c.b);
  st.group_of_root.assign(na + nb, -1);
  st.row_group.resize(na);
  st.group_start.assign(1, 0);
  st.group_old.clear();
  for (std::size_t r = 0; r < na; ++r) {
    int& g = st.group_of_root[static_cast<std::size_t>(find_root(st.parent, static_cast<int>(r)))];
    if (g < 0) {
      g = static_cast<int>(st.group_old.size());
      st.group_old.push_back(0);
      st.group_start.push_back(0);
    }
    st.row_group[r] = g;
    ++st.group_start[static_cast<std::size_t>(g) + 1];
    if (st.a[r].y_first <= horizon) st.group_old[static_cast<std::size_t>(g)] = 1;
  }
  for (std::size_t g = 1; g < st.group_start.size(); ++g) st.group_start[g] += st.group_start[g - 1];
  st.rows.resize(na);
  st.fill.assign(st.group_old.size(), 0);
  for (std::size_t r = 0; r < na; ++r) {
    const auto g = static_cast<std::size_t>(st.row_group[r]);
    st.rows[static_cast<std::size_t>(st.group_start[g] + st.fill[g]++)] = static_cast<int>(r);
  }
}

// The total cost of a block's solution: its pairs' costs, and the limit for each row left
// unpaired.
f64 block_total(const std::vector<candidate>& cands, const std::vector<int>& partner, f64 limit) {
  f64 total = 0;
  for (int p : partner)
    if (p < 0) total += limit;
  for (const candidate& c : cands)
    if (partner[static_cast<std::size_t>(c.a)] == c.b) total += c.cost;
  return total;
}

// Notes row r's pair with column `col` when the best solution without that pair costs at
// least `margin` more; otherwise the pair is a near tie with another reading of the same
// silhouettes, and row r stays unpaired (the column is not offered to anyone else now).
void settle(pairing_state& st, std::size_t r, int col, f64 second_best_extra) {
  st.b_taken[static_cast<std::size_t>(col)] = 1;
  if (second_best_extra < st.params.margin) {
    st.refused[r] = col;
    ++st.near_ties;
    return;
  }
  st.chosen[r] = col;
}

// Solves the rows of one group, in blocks of at most max_block rows in time order, and notes
// the columns chosen for the rows decided now. A later block does not take a column that a
// decided row of an earlier block has (or holds as a near tie).
void solve_group(pairing_state& st, const int* rows, int n, f64 horizon) {
  const pairing_params& p = st.params;
  const int block = std::max(1, p.max_block);
  for (int k = 0; k < n; k += block) {
    const int n_block = std::min(block, n - k);
    if (!(st.a[static_cast<std::size_t>(rows[k])].y_first <= horizon)) break;  // only undecided rows left
    st.largest_block = std::max(st.largest_block, n_block);
    if (n_block == 1) {
      // One row alone: its cheapest free candidate, the lower column on a tie; the next
      // choice is its second cheapest, or none.
      const auto r = static_cast<std::size_t>(rows[k]);
      const candidate* best = nullptr;
      f64 second = p.limit;
      for (std::size_t c = st.cand_begin[r]; c < st.cand_end[r]; ++c) {
        const candidate& cand = st.cands[c];
        if (st.b_taken[static_cast<std::size_t>(cand.b)]) continue;
        if (!best || cand.cost < best->cost || (cand.cost == best->cost && cand.b < best->b)) {
          if (best) second = std::min(second, best->cost);
          best = &cand;
        } else {
          second = std::min(second, cand.cost);
        }
      }
      if (best) settle(st, r, best->b, second - best->cost);
      continue;
    }
    st.cols.clear();
    st.block_cands.clear();
    for (int i = 0; i < n_block; ++i) {
      const auto r = static_cast<std::size_t>(rows[k + i]);
      for (std::size_t c = st.cand_begin[r]; c < st.cand_end[r]; ++c) {
        const candidate& cand = st.cands[c];
        if (st.b_taken[static_cast<std::size_t>(cand.b)]) continue;
        int& local = st.col_at[static_cast<std::size_t>(cand.b)];
        if (local < 0) {
          local = static_cast<int>(st.cols.size());
          st.cols.push_back(cand.b);
        }
        st.block_cands.push_back({i, local, cand.cost});
      }
    }
    const int n_cols = static_cast<int>(st.cols.size());
    st.solver.solve(n_block, n_cols, st.block_cands, p.limit, st.partner);
    const f64 total = p.margin > 0 ? block_total(st.block_cands, st.partner, p.limit) : 0.0;
    for (int i = 0; i < n_block; ++i) {
      const auto r = static_cast<std::size_t>(rows[k + i]);
      const int local = st.partner[static_cast<std::size_t>(i)];
      if (!(st.a[r].y_first <= horizon) || local < 0) continue;
      f64 extra = p.limit;
      if (p.margin > 0) {
        // The best solution without this pair.
        st.other_cands.clear();
        for (const candidate& c : st.block_cands)
          if (c.a != i || c.b != local) st.other_cands.push_back(c);
        st.solver.solve(n_block, n_cols, st.other_cands, p.limit, st.other_partner);
        extra = block_total(st.other_cands, st.other_partner, p.limit) - total;
      }
      settle(st, r, st.cols[static_cast<std::size_t>(local)], extra);
    }
    for (int col : st.cols) st.col_at[static_cast<std::size_t>(col)] = -1;
  }
}

// The object trace of a decided row: the camera A object, then each candidate with its
// terms, the chosen one marked.
void trace_row(const pairing_state& st, std::size_t r, const main_rec* h, diagnostics& d) {
  const silhouette& a = st.a[r];
  hprintf2(d, "** pairing: A %f %f %d %d %d %d", a.y_first, a.y_last, a.lines, a.pix_min, a.pix_max, a.widest);
  for (std::size_t c = st.cand_begin[r]; h && c < st.cand_end[r]; ++c) {
    const auto col = static_cast<std::size_t>(st.cands[c].b);
    const silhouette& b = st.b[col];
    const auto cost = cost_of_pair(*h, a, b, st.params);
    if (!cost) continue;
    hprintf2(d, "\n   B %f %f %d %d %d %d cost %f %f %f %f %f D %f v %f%s", b.y_first, b.y_last, b.lines, b.pix_min,
             b.pix_max, b.widest, cost->width, cost->height, cost->lines, cost->speed, cost->area, cost->diameter,
             cost->fall_speed,
             st.chosen[r] == st.cands[c].b ? " *" : st.refused[r] == st.cands[c].b ? " ?" : "");
  }
  hprintf2(d, "\n");
}

}  // namespace

void find_pairs(pairing_state& st, store_state& store, const header_list& headers, u64 horizon_base, s32* total,
                pair_sink& sink, diagnostics& d) {
  constexpr char released = 2;  // b_taken: the column's object has left with its pair
  // Camera A objects starting at the horizon or earlier have all their camera B candidates.
  // Shortly after midnight no object is that old yet.
  const f64 horizon = horizon_base >= horizon_lines ? static_cast<f64>(horizon_base - horizon_lines) : -1.0;
  collect(st.a, store.qa);
  collect(st.b, store.qb);
  const std::size_t na = st.a.size(), nb = st.b.size();
  st.chosen.assign(na, -1);
  st.refused.assign(na, -1);
  st.b_taken.assign(nb, 0);

  if (na > 0 && st.a.front().y_first <= horizon) {
    find_candidates(st, horizon, headers, d);
    form_groups(st, horizon);
    st.col_at.assign(nb, -1);
    for (std::size_t g = 0; g < st.group_old.size(); ++g) {
      if (!st.group_old[g]) continue;
      const int from = st.group_start[g];
      solve_group(st, st.rows.data() + from, st.group_start[g + 1] - from, horizon);
    }
  }

  // The decided rows in time order: their pairs go on, and they and their partners leave.
  int paired = 0, given_up = 0;
  for (std::size_t r = 0; r < na && st.a[r].y_first <= horizon; ++r) {
    if (d.obj_trace_flag == 1)
      trace_row(st, r, st.cand_begin[r] < st.cand_end[r] ? &header_at(headers, st.a[r].y_first, d) : nullptr, d);
    drop_rec* const a = st.a[r].obj;
    const int col = st.chosen[r];
    if (col >= 0) {
      drop_rec* const b = st.b[static_cast<std::size_t>(col)].obj;
      ++*total;
      ++paired;
      if (match_chron(store.last_match_y, a, d)) sink.pair(a, b);
      unlink_wait(store, b, store.qb, d);
      st.b_taken[static_cast<std::size_t>(col)] = released;
    } else {
      ++given_up;
    }
    unlink_wait(store, a, store.qa, d);
  }
  st.pairs += paired;
  st.unpaired += given_up;
  // Camera B objects starting at the horizon or earlier: every camera A object still waiting
  // starts later.
  for (std::size_t j = 0; j < nb && st.b[j].y_first <= horizon; ++j)
    if (st.b_taken[j] != released) unlink_wait(store, st.b[j].obj, store.qb, d);

  hprintf2(d, "** find_pairs - paired: %d, unpaired: %d\n", paired, given_up);
  hprintf2(d, "** find_pairs: ");
  show_slots(store, d);
}

}  // namespace dropix
