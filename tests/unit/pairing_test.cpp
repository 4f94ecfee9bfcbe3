// Physical pairing: the laws it uses, the cost of a candidate pair, the assignment, and the
// matching of waiting objects with its horizon, near ties and bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include "reconstruct/match.h"
#include "input/main_hr.h"
#include "reconstruct/pairing.h"
#include "tests/support/drop_kit.h"
#include "tools/sim/optics.h"
#include "tests/support/objects.h"

namespace dropix {
namespace {

using testing::block;
using testing::take_block;
using testing::wait_queue;

// ---- the laws -------------------------------------------------------------------------------

TEST(pairing_laws, terminal_speed_lies_within_3_percent_of_the_measured_speeds) {
  // Gunn and Kinzer (1949), J. Meteor. 6, 243: terminal speeds at sea level, m/s.
  const std::pair<f64, f64> measured[] = {{1.0, 4.03}, {2.0, 6.49}, {3.0, 8.06}, {4.0, 8.83}, {5.0, 9.09}};
  for (auto [d, v] : measured) EXPECT_NEAR(terminal_speed(d) / v, 1.0, 0.03) << d << " mm";
  for (int i = 2; i < 80; ++i) EXPECT_LE(terminal_speed(i / 10.0), terminal_speed((i + 1) / 10.0)) << i / 10.0 << " mm";
  EXPECT_LT(terminal_speed(0.5), terminal_speed(0.6));
  EXPECT_NEAR(terminal_speed(8.0), 9.18, 0.01) << "level from 6 mm on";
}

TEST(pairing_laws, axis_ratio_follows_the_measured_shapes_and_drops_below_one_mm_stay_round) {
  // Andsager, Beard and Laird (1999), J. Atmos. Sci. 56, 2673, fitted for 1.1 to 4.4 mm.
  for (f64 d = 1.1; d <= 4.4; d += 0.1)
    EXPECT_NEAR(axis_ratio_law(d), 1.012 - 0.0144 * d - 0.0103 * d * d, 0.015) << d << " mm";
  for (f64 d = 0.1; d <= 0.5; d += 0.1) EXPECT_NEAR(axis_ratio_law(d), 1.0, 0.005) << d << " mm";
  for (f64 d = 0.0; d <= 9.0; d += 0.05) EXPECT_LE(axis_ratio_law(d), 1.0) << d << " mm";
  for (f64 d = 1.0; d < 8.0; d += 0.25) EXPECT_GT(axis_ratio_law(d), axis_ratio_law(d + 0.25)) << d << " mm";
}

// ---- a simulated drop, seen by both cameras -----------------------------------------------

// The simulator's instrument: 512-pixel lines centred on pixel 256, 0.19 mm per pixel at the
// centre of the area, cameras about 300 mm away, planes 6.4 to 6.7 mm apart, 55 000 lines a
// second.
main_rec instrument() { return make_main_rec(sim::instrument_header(0, 55000.0), 0, "V26342_1.hyd"); }

// The fall speed of Atlas, Srivastava and Sekhon (1973) and the shape of Pruppacher and
// Beard (1970): other laws than the pairing's own, as real drops would be.
f64 atlas_speed(f64 d) { return 9.65 - 10.3 * std::exp(-0.6 * d); }
f64 linear_ratio(f64 d) { return d < 1.0 ? 1.0 : 1.03 - 0.062 * d; }

struct scan_piece {
  f64 y;
  piece p;
};

// What a camera records of a spheroid of diameter d (mm) whose centre crosses its plane at
// line count `t` (fractional) at a fall of `fall` mm per line, centred on pixel column `col`
// at `xs` mm per pixel: in each scan line the plane cuts a chord, and the pixels whose
// centres lie within it are shaded.
std::vector<scan_piece> seen_by(f64 d, f64 t, f64 fall, f64 col, f64 xs) {
  const f64 r = linear_ratio(d);
  const f64 a = d / std::cbrt(r), b = a * r;
  std::vector<scan_piece> out;
  for (f64 k = std::ceil(t - b / 2 / fall); k <= std::floor(t + b / 2 / fall); k += 1.0) {
    const f64 z = (k - t) * fall / (b / 2);
    if (std::abs(z) >= 1.0) continue;
    const f64 half = a * std::sqrt(1.0 - z * z) / 2 / xs;
    const auto first = static_cast<s16>(std::ceil(col - half)), last = static_cast<s16>(std::floor(col + half));
    if (first <= last) out.push_back({k, {first, last}});
  }
  return out;
}

// One drop as both cameras see it: d mm falling at v m/s, its centre crossing camera A's
// plane at line count t_a, at columns col_a and col_b.
struct drop_seen {
  std::vector<scan_piece> a, b;
  f64 delay = 0;  // lines between the planes
};

drop_seen falling_at(f64 d, f64 v, f64 t_a, f64 col_a, f64 col_b) {
  const main_rec h = instrument();
  const f64 fall = v * 1000.0 / h.line_fr;
  const f64 xs_a = h.XSCALE0_1 * (h.L0_1 - h.XSCALE0_2 * (col_b - h.gate1)) / h.L0_1;
  const f64 xs_b = h.XSCALE0_2 * (h.L0_2 + h.XSCALE0_1 * (col_a - h.gate1)) / h.L0_2;
  const f64 w = 2.0 * h.gate1, hfl = f64{h.HBL} + h.HFR - h.HBR;
  const f64 front = hfl + (h.HFR - hfl) * col_a / w, back = h.HBL + (h.HBR - h.HBL) * col_a / w;
  const f64 plane = back + (front - back) * col_b / w;
  drop_seen s;
  s.delay = plane / fall;
  s.a = seen_by(d, t_a, fall, col_a, xs_a);
  s.b = seen_by(d, t_a + s.delay, fall, col_b, xs_b);
  return s;
}

drop_seen falling(f64 d, f64 t_a, f64 col_a = 200, f64 col_b = 300) {
  return falling_at(d, atlas_speed(d), t_a, col_a, col_b);
}

drop_rec object_of(const std::vector<scan_piece>& s) {
  std::vector<piece> pieces;
  for (const scan_piece& p : s) pieces.push_back(p.p);
  return testing::make_drop(pieces, s.front().y, s.back().y);
}

std::optional<pair_cost> cost(const std::vector<scan_piece>& a, const std::vector<scan_piece>& b,
                              const pairing_params& p = {}) {
  drop_rec da = object_of(a), db = object_of(b);
  return cost_of_pair(instrument(), silhouette_of(&da), silhouette_of(&db), p);
}

// ---- the cost of a pair -----------------------------------------------------------------------

TEST(pair_cost, a_drop_seen_by_both_cameras_costs_little_anywhere_in_the_area) {
  const pairing_params p;
  for (f64 d : {0.8, 1.2, 2.0, 3.5, 5.5}) {
    for (auto [col_a, col_b] : {std::pair{256.0, 256.0}, {40.0, 470.0}, {470.0, 40.0}, {60.0, 60.0}}) {
      SCOPED_TRACE(std::to_string(d) + " mm at columns " + std::to_string(col_a) + ", " + std::to_string(col_b));
      const drop_seen s = falling(d, 1e6 + 0.37, col_a, col_b);
      const auto c = cost(s.a, s.b);
      ASSERT_TRUE(c);
      EXPECT_LT(c->total(), p.limit / 3);
      EXPECT_NEAR(c->diameter / d, 1.0, 0.05 + 0.2 / d) << "within a pixel";
      EXPECT_NEAR(c->fall_speed / atlas_speed(d), 1.0, 0.05);
    }
  }
}

TEST(pair_cost, each_term_rises_when_its_measurement_disagrees) {
  const drop_seen s = falling(2.0, 1e6 + 0.5);
  const auto right = cost(s.a, s.b);
  ASSERT_TRUE(right);
  // Camera B's silhouette of a drop 40 % larger, at the same time: widths and areas disagree.
  const auto wider = cost(s.a, falling(2.8, 1e6 + 0.5).b);
  ASSERT_TRUE(wider);
  EXPECT_GT(wider->width, right->width + 4);
  EXPECT_GT(wider->area, right->area + 4);
  // The same silhouette, half the delay later: twice the fall speed, so the drop's lines stand
  // for twice its height, and it falls far faster than drops of its size.
  std::vector<scan_piece> early = s.b;
  for (scan_piece& p : early) p.y -= std::floor(s.delay / 2);
  const auto fast = cost(s.a, early);
  ASSERT_TRUE(fast);
  EXPECT_GT(fast->height, right->height + 4);
  EXPECT_GT(fast->speed, right->speed + 4);
  EXPECT_NEAR(fast->fall_speed / right->fall_speed, 2.0, 0.1);
  // Four lines more in camera B.
  std::vector<scan_piece> taller = s.b;
  for (int i = 0; i < 4; ++i) taller.push_back({taller.back().y + 1, taller.back().p});
  const auto longer = cost(s.a, taller);
  ASSERT_TRUE(longer);
  EXPECT_GT(longer->lines, right->lines + 4);
}

TEST(pair_cost, camera_b_must_start_within_1200_lines_after_camera_a) {
  const drop_seen s = falling(1.5, 1e6);
  const auto shifted = [&](f64 by) {
    std::vector<scan_piece> b = s.a;
    for (scan_piece& p : b) p.y += by;
    return b;
  };
  EXPECT_FALSE(cost(s.a, shifted(-1)));
  EXPECT_FALSE(cost(s.a, shifted(0))) << "no delay: no fall speed";
  EXPECT_TRUE(cost(s.a, shifted(1)));
  EXPECT_TRUE(cost(s.a, shifted(1200)));
  EXPECT_FALSE(cost(s.a, shifted(1201)));
}

TEST(pair_cost, silhouettes_the_evaluation_cannot_size_and_headers_without_geometry_give_no_pair) {
  const drop_seen s = falling(1.5, 1e6);
  std::vector<scan_piece> thin = s.b;
  for (std::size_t i = 0; i < thin.size(); ++i) thin[i].p = {static_cast<s16>(300 + i), static_cast<s16>(300 + i)};
  EXPECT_FALSE(cost(s.a, thin)) << "pieces one pixel wide";
  drop_rec da = object_of(s.a), db = object_of(s.b);
  for (const std::function<void(main_rec&)>& spoil : std::vector<std::function<void(main_rec&)>>{
           [](main_rec& h) { h.XSCALE0_1 = 0; }, [](main_rec& h) { h.L0_2 = -1; },
           [](main_rec& h) { h.HFR = std::nanf(""); }, [](main_rec& h) { h.line_fr = 0; },
           [](main_rec& h) { h.gate1 = 0; }}) {
    main_rec h = instrument();
    spoil(h);
    EXPECT_FALSE(cost_of_pair(h, silhouette_of(&da), silhouette_of(&db), pairing_params{}));
  }
  EXPECT_TRUE(cost_of_pair(instrument(), silhouette_of(&da), silhouette_of(&db), pairing_params{}));
}

// ---- the assignment -------------------------------------------------------------------------

// The least total cost by trying every assignment: each row takes one of its candidates or
// stays unpaired, no column twice.
f64 brute_force(int n_rows, const std::vector<candidate>& cands, f64 unpaired, std::vector<char>& used, int row) {
  if (row == n_rows) return 0;
  f64 best = unpaired + brute_force(n_rows, cands, unpaired, used, row + 1);
  for (const candidate& c : cands) {
    if (c.a != row || used[static_cast<std::size_t>(c.b)]) continue;
    used[static_cast<std::size_t>(c.b)] = 1;
    best = std::min(best, c.cost + brute_force(n_rows, cands, unpaired, used, row + 1));
    used[static_cast<std::size_t>(c.b)] = 0;
  }
  return best;
}

TEST(assignment, finds_the_least_total_cost_of_every_small_problem) {
  std::mt19937 rng(7);
  assignment solver;
  std::vector<int> partner;
  for (int trial = 0; trial < 400; ++trial) {
    const int n_rows = 1 + static_cast<int>(rng() % 5), n_cols = static_cast<int>(rng() % 6);
    std::vector<candidate> cands;
    for (int r = 0; r < n_rows; ++r)
      for (int c = 0; c < n_cols; ++c)
        if (rng() % 3 != 0) cands.push_back({r, c, static_cast<f64>(rng() % 3000) / 100.0});
    const f64 unpaired = 20.0;
    solver.solve(n_rows, n_cols, cands, unpaired, partner);
    ASSERT_EQ(partner.size(), static_cast<std::size_t>(n_rows));
    f64 total = 0;
    std::vector<char> used(static_cast<std::size_t>(n_cols), 0);
    for (int r = 0; r < n_rows; ++r) {
      const int c = partner[static_cast<std::size_t>(r)];
      if (c < 0) {
        total += unpaired;
        continue;
      }
      ASSERT_LT(c, n_cols);
      ASSERT_FALSE(used[static_cast<std::size_t>(c)]) << "column " << c << " taken twice";
      used[static_cast<std::size_t>(c)] = 1;
      const auto it = std::find_if(cands.begin(), cands.end(), [&](const candidate& x) { return x.a == r && x.b == c; });
      ASSERT_NE(it, cands.end()) << "a pair that is no candidate";
      total += it->cost;
    }
    std::vector<char> scratch(static_cast<std::size_t>(n_cols), 0);
    EXPECT_NEAR(total, brute_force(n_rows, cands, unpaired, scratch, 0), 1e-9) << "trial " << trial;
  }
}

TEST(assignment, gives_way_where_the_greedy_choice_is_wrong) {
  // Row 0's cheapest column is row 1's only one.
  assignment solver;
  std::vector<int> partner;
  solver.solve(2, 2, std::vector<candidate>{{0, 0, 1.0}, {0, 1, 2.0}, {1, 0, 1.5}}, 25.0, partner);
  EXPECT_EQ(partner, (std::vector<int>{1, 0}));
  // A candidate dearer than leaving the row unpaired is not taken.
  solver.solve(1, 1, std::vector<candidate>{{0, 0, 30.0}}, 25.0, partner);
  EXPECT_EQ(partner, (std::vector<int>{-1}));
}

// ---- matching of waiting objects ------------------------------------------------------------

struct pair_seen {
  f64 a, b;  // first lines of both objects
};
struct recording_sink : pair_sink {
  std::vector<pair_seen> pairs;
  void pair(const drop_rec* a, const drop_rec* b) override { pairs.push_back({a->y_first, b->y_first}); }
};

class physical_pairing : public testing::dropix_test {
 protected:
  void SetUp() override {
    init_queues(store.qa, store.qb);
    testing::add_header(0, instrument());
    testing::flat_factors();
  }
  // Both cameras' silhouettes of the drops, put through piece assembly into the Wait-queues.
  void put(const std::vector<drop_seen>& drops) {
    block a, b;
    std::vector<scan_piece> lines_a, lines_b;
    for (const drop_seen& d : drops) {
      lines_a.insert(lines_a.end(), d.a.begin(), d.a.end());
      lines_b.insert(lines_b.end(), d.b.begin(), d.b.end());
    }
    for (auto* lines : {&lines_a, &lines_b}) {
      std::stable_sort(lines->begin(), lines->end(), [](const scan_piece& x, const scan_piece& y) { return x.y < y.y; });
      block& blk = lines == &lines_a ? a : b;
      for (std::size_t i = 0; i < lines->size();) {
        std::vector<piece> runs;
        const f64 y = (*lines)[i].y;
        for (; i < lines->size() && (*lines)[i].y == y; ++i) runs.push_back((*lines)[i].p);
        std::sort(runs.begin(), runs.end(), [](const piece& x, const piece& z) { return x.first < z.first; });
        line_entry& e = blk.rec->line[blk.rec->n_lin++];
        e.y_count = y;
        e.n_seg = static_cast<s16>(runs.size());
        for (std::size_t k = 0; k < runs.size(); ++k) {
          e.seg[k][0] = runs[k].first;
          e.seg[k][1] = runs[k].last;
        }
      }
    }
    take_block(a, store.qa);
    take_block(b, store.qb);
  }
  void pair_up(u64 horizon_base) { find_pairs(st, store, hdr.list, horizon_base, &mp.total, sink, diag); }
  pairing_state st;
  recording_sink sink;
};

TEST_F(physical_pairing, the_assignment_is_right_where_oldest_first_is_wrong) {
  // A 1.2 mm drop, and 5 lines later a faster 1.5 mm drop whose camera B silhouette comes
  // first: the oldest camera B object that passes find_m's tests is the other drop's.
  const drop_seen slow = falling(1.2, 1e6 + 0.3, 150, 350), fast = falling(1.5, 1e6 + 5.6, 350, 150);
  ASSERT_LT(fast.b.front().y, slow.b.front().y);
  put({slow, fast});
  find_m(store, 1e7, &mp.total, sink, diag);
  ASSERT_EQ(sink.pairs.size(), 2u);
  EXPECT_EQ(sink.pairs[0].a, slow.a.front().y);
  EXPECT_EQ(sink.pairs[0].b, fast.b.front().y) << "oldest first takes the faster drop's silhouette";
  EXPECT_EQ(testing::slots_in_use(), 0);

  sink.pairs.clear();
  store.last_match_y = 0;
  put({slow, fast});
  pair_up(10000000);
  ASSERT_EQ(sink.pairs.size(), 2u);
  EXPECT_EQ(sink.pairs[0].a, slow.a.front().y);
  EXPECT_EQ(sink.pairs[0].b, slow.b.front().y);
  EXPECT_EQ(sink.pairs[1].a, fast.a.front().y);
  EXPECT_EQ(sink.pairs[1].b, fast.b.front().y);
  EXPECT_EQ(st.pairs, 2);
  EXPECT_EQ(testing::slots_in_use(), 0);
}

TEST_F(physical_pairing, a_pair_beyond_the_limit_is_left_unpaired_where_find_m_pairs_it) {
  // A 2 mm drop whose own camera B silhouette is missing; another 2 mm drop's silhouette 400
  // lines later has its size and line count, but would mean a fall of 0.9 m/s.
  const drop_seen alone = falling(2.0, 1e6 + 0.5, 200, 300);
  drop_seen other = falling(2.0, 1e6 + 0.5, 260, 320);
  for (scan_piece& p : other.b) p.y += 400 - std::floor(other.delay);
  drop_seen a_only = alone, b_only = other;
  a_only.b.clear();
  b_only.a.clear();
  put({a_only, b_only});
  find_m(store, 1e7, &mp.total, sink, diag);
  EXPECT_EQ(sink.pairs.size(), 1u) << "find_m's tests pass";

  sink.pairs.clear();
  put({a_only, b_only});
  const auto c = cost(alone.a, other.b);
  ASSERT_TRUE(c);
  EXPECT_GE(c->total(), st.params.limit);
  pair_up(10000000);
  EXPECT_TRUE(sink.pairs.empty());
  EXPECT_EQ(st.unpaired, 1);
  EXPECT_EQ(testing::slots_in_use(), 0) << "decided camera A and expired camera B objects are released";
}

TEST_F(physical_pairing, a_near_tie_between_two_readings_is_left_unpaired) {
  // Two drops of one size on the same lines near the middle of the area: either camera B
  // silhouette fits either camera A silhouette nearly as well.
  const drop_seen one = falling(1.0, 1e6 + 0.2, 236, 246), two = falling(1.0, 1e6 + 0.2, 276, 266);
  put({one, two});
  pair_up(10000000);
  EXPECT_TRUE(sink.pairs.empty());
  EXPECT_EQ(st.near_ties, 2);
  EXPECT_EQ(testing::slots_in_use(), 0);

  // With no margin the assignment takes one of the readings.
  put({one, two});
  st.params.margin = 0;
  pair_up(10000000);
  EXPECT_EQ(sink.pairs.size(), 2u);
}

TEST_F(physical_pairing, younger_objects_wait_but_compete_for_the_camera_b_objects) {
  // A 1.3 mm drop whose camera B silhouette is missing, and 20 lines later a 1.5 mm drop: its
  // camera B silhouette is a candidate of the older camera A object too.
  const drop_seen old_drop = falling(1.3, 1e6 + 0.3, 150, 350), young = falling(1.5, 1e6 + 20.6, 350, 150);
  drop_seen old_a_only = old_drop, young_b_only = young;
  old_a_only.b.clear();
  young_b_only.a.clear();
  const auto c = cost(old_drop.a, young.b);
  ASSERT_TRUE(c);
  ASSERT_LT(c->total(), st.params.limit - st.params.margin);
  const u64 base = static_cast<u64>(old_drop.a.front().y) + 1200 + 10;  // between the two
  // Without the younger camera A object, the older one takes the silhouette.
  put({old_a_only, young_b_only});
  pair_up(base);
  ASSERT_EQ(sink.pairs.size(), 1u);
  EXPECT_EQ(sink.pairs[0].b, young.b.front().y);
  pair_up(base + 10000);
  EXPECT_EQ(testing::slots_in_use(), 0);

  // With it, the younger object, which fits far better, keeps the silhouette for itself: the
  // older one is given up, the younger one waits for its own decision.
  sink.pairs.clear();
  store.last_match_y = 0;
  put({old_a_only, young});
  pair_up(base);
  EXPECT_TRUE(sink.pairs.empty());
  EXPECT_EQ(wait_queue(store.qa).size(), 1u);
  EXPECT_EQ(wait_queue(store.qb).size(), 1u);
  pair_up(base + 100);
  ASSERT_EQ(sink.pairs.size(), 1u);
  EXPECT_EQ(sink.pairs[0].a, young.a.front().y);
  EXPECT_EQ(sink.pairs[0].b, young.b.front().y);
  EXPECT_EQ(testing::slots_in_use(), 0);
}

TEST_F(physical_pairing, nothing_is_decided_in_the_first_1200_lines_of_the_day) {
  const drop_seen d = falling(1.5, 100.5);
  put({d});
  pair_up(1199);
  EXPECT_TRUE(sink.pairs.empty());
  EXPECT_EQ(testing::slots_in_use(), 2);
  pair_up(static_cast<u64>(d.a.front().y) + 1200);
  EXPECT_EQ(sink.pairs.size(), 1u);
}

TEST_F(physical_pairing, pairs_go_on_in_time_order_and_an_object_out_of_order_is_counted_not_handed_on) {
  std::vector<drop_seen> drops;
  for (int k = 0; k < 6; ++k) drops.push_back(falling(0.9 + 0.3 * k, 1e6 + 400.0 * (5 - k) + 0.5, 60 + 70 * k, 420 - 60 * k));
  put(drops);
  pair_up(10000000);
  ASSERT_EQ(sink.pairs.size(), 6u);
  for (std::size_t k = 1; k < sink.pairs.size(); ++k) EXPECT_LT(sink.pairs[k - 1].a, sink.pairs[k].a);
  EXPECT_EQ(mp.total, 6);

  // A drop older than the last pair handed on: counted, reported, not handed on.
  put({falling(1.4, 1e6 + 0.5)});
  pair_up(10000000);
  EXPECT_EQ(mp.total, 7);
  EXPECT_EQ(sink.pairs.size(), 6u);
  EXPECT_EQ(err_text(), "C");
}

// Every pair made is the drop's own.
void expect_own_pairs(const std::vector<pair_seen>& pairs, const std::vector<drop_seen>& drops) {
  for (const pair_seen& p : pairs) {
    const auto own = std::find_if(drops.begin(), drops.end(), [&](const drop_seen& d) { return d.a.front().y == p.a; });
    ASSERT_NE(own, drops.end());
    EXPECT_EQ(p.b, own->b.front().y) << "drop at line " << p.a;
  }
}

TEST_F(physical_pairing, a_burst_of_equal_drops_is_solved_in_bounded_blocks_with_bounded_candidates) {
  // Sixty drops of 1 mm, ten lines apart: every camera B silhouette lies in every camera A
  // object's window, and every reading is nearly as good as the next.
  std::vector<drop_seen> burst;
  for (int k = 0; k < 60; ++k) burst.push_back(falling(1.0, 1e6 + 10.0 * k + 0.5, 20 + 8 * k, 500 - 8 * k));
  put(burst);
  st.params.max_block = 16;
  pair_up(10000000);
  EXPECT_EQ(st.largest_block, 16) << "one group of sixty rows, solved sixteen at a time";
  for (std::size_t r = 0; r < st.a.size(); ++r)
    EXPECT_LE(st.cand_end[r] - st.cand_begin[r], static_cast<std::size_t>(st.params.max_candidates));
  EXPECT_EQ(st.pairs + st.unpaired, 60);
  expect_own_pairs(sink.pairs, burst);
  EXPECT_EQ(testing::slots_in_use(), 0);
}

TEST_F(physical_pairing, the_drops_of_a_burst_of_different_sizes_are_paired_right) {
  std::vector<drop_seen> burst;
  for (int k = 0; k < 24; ++k) {
    const f64 d = 0.8 + 2.2 * std::fmod(k * 0.618034, 1.0);
    burst.push_back(falling(d, 1e6 + 20.0 * k + 0.5, 20 + 20 * k, 490 - 20 * k));
  }
  put(burst);
  pair_up(10000000);
  EXPECT_EQ(st.pairs + st.unpaired, 24);
  EXPECT_GE(sink.pairs.size(), 20u);
  expect_own_pairs(sink.pairs, burst);
  EXPECT_EQ(testing::slots_in_use(), 0);
}

TEST_F(physical_pairing, no_header_in_force_ends_the_run_as_the_evaluation_would) {
  hdr.list = header_list{};
  put({falling(1.5, 1e6 + 0.5)});
  EXPECT_QUITS(pair_up(10000000), exit_status::failure);
  EXPECT_NE(err_text().find("eval_dr 01: no main header in file"), std::string::npos);
}

TEST_F(physical_pairing, a_header_without_geometry_is_reported_once_and_pairs_nothing) {
  main_rec bad = instrument();
  bad.XSCALE0_1 = 0;
  bad.main_time = 1796774400;
  hdr.list = header_list{};
  testing::add_header(0, bad);
  put({falling(1.5, 1e6 + 0.5), falling(2.5, 1e6 + 900.5)});
  pair_up(10000000);
  put({falling(1.5, 2e6 + 0.5)});
  pair_up(20000000);
  EXPECT_TRUE(sink.pairs.empty());
  EXPECT_EQ(err_text(), "pairing: the main header of 1796774400 gives no geometry: no pairs under it\n");
  EXPECT_EQ(testing::slots_in_use(), 0);
}

TEST_F(physical_pairing, the_trace_names_each_decided_object_and_its_candidates) {
  const drop_seen d = falling(1.5, 1e6 + 0.5);
  put({d});
  diag.obj_trace_flag = 1;
  const std::size_t before = host.out.size();
  pair_up(10000000);
  const std::string trace = host.out.substr(before);
  EXPECT_EQ(trace.rfind("** pairing: A " + std::to_string(d.a.front().y) + " ", 0), 0u) << trace;
  EXPECT_NE(trace.find("\n   B " + std::to_string(d.b.front().y)), std::string::npos) << trace;
  EXPECT_NE(trace.find(" *\n** find_pairs - paired: 1, unpaired: 0\n"), std::string::npos) << trace;
}

}  // namespace
}  // namespace dropix
