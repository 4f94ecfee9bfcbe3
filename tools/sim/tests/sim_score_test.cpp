// The truth check's pairing of drop records with true drops, and its statistics.
#include <gtest/gtest.h>

#include "tools/sim/score.h"

namespace dropix::sim {
namespace {

truth_row drop_at(std::uint64_t first_a, double d, double v = 5.0) {
  truth_row t;
  t.first_a = first_a;
  t.lines_a = 10;
  t.d = d;
  t.v = v;
  t.both = true;
  return t;
}

TEST(sim_score, records_pair_with_the_drop_starting_on_the_nearest_line) {
  std::vector<truth_row> truth = {drop_at(1000, 1.5), drop_at(1001, 2.5), drop_at(5000, 3.0), drop_at(9000, 0.4)};
  // Two records near the first two drops, in either order of size; one record far from any.
  const std::vector<recovered_drop> rec = {{1001.0, 2.45, 5.0}, {1000.0, 1.53, 5.1}, {7000.0, 1.0, 5.0},
                                           {5002.0, 3.03, 4.9}};
  const score s = score_run(truth, rec);
  EXPECT_EQ(s.records, 4);
  EXPECT_EQ(s.unpaired, 1);
  EXPECT_EQ(s.large.drops, 3);
  EXPECT_EQ(s.large.recovered, 3);
  EXPECT_NEAR(s.large.median, 1.0, 1e-9);  // errors -2 %, +2 %, +1 %
  EXPECT_NEAR(s.large.bias, 1.0 / 3.0, 1e-9);
  EXPECT_NEAR(s.large.v_median, 0.0, 1e-9);  // 0 %, +2 %, -2 %
  // The 0.4 mm drop was not found.
  ASSERT_EQ(s.classes.front().lo, 0.25);
  EXPECT_EQ(s.classes.front().drops, 1);
  EXPECT_EQ(s.classes.front().recovered, 0);
  // A record three lines off pairs with nothing.
  EXPECT_EQ(score_run(truth, {{1004.0, 2.5, 5.0}}).unpaired, 1);
}

TEST(sim_score, one_record_pairs_once_and_the_nearest_size_wins_on_a_tie) {
  std::vector<truth_row> truth = {drop_at(2000, 1.0), drop_at(2000, 3.0)};
  const score s = score_run(truth, {{2000.0, 2.9, 5.0}});
  EXPECT_EQ(s.large.recovered, 1);
  ASSERT_EQ(s.large.sized, 1);
  EXPECT_NEAR(s.large.median, (2.9 / 3.0 - 1.0) * 100.0, 1e-9);
}

TEST(sim_score, close_and_clipped_drops_are_kept_apart) {
  std::vector<truth_row> truth = {drop_at(100, 2.0), drop_at(101, 2.0), drop_at(300, 2.0), drop_at(500, 2.0)};
  truth[0].partner = 1;
  truth[1].partner = 0;
  truth[2].clipped = true;
  const score s = score_run(truth, {{100.0, 2.8, 5.0}, {300.0, 1.0, 5.0}, {500.0, 2.0, 5.0}});
  EXPECT_EQ(s.close, 2);
  EXPECT_EQ(s.close_recovered, 1);
  EXPECT_EQ(s.clipped, 1);
  EXPECT_EQ(s.clipped_recovered, 1);
  EXPECT_NEAR(s.clipped_median, -50.0, 1e-9);
  // Only the whole, separate drop enters the diameter statistics.
  EXPECT_EQ(s.large.drops, 2);
  EXPECT_EQ(s.large.recovered, 2);
  EXPECT_EQ(s.large.sized, 1);
  EXPECT_NEAR(s.large.median, 0.0, 1e-9);
}

TEST(sim_score, fall_speed_comes_from_the_fall_per_line_and_the_header_in_force) {
  std::vector<reader::hyd_record> recs(3);
  recs[0].is_header = true;
  recs[0].header.line_fr = 50000.0;
  recs[1].drop.y_first = 123.0;
  recs[1].drop.diam_100 = 212;
  recs[1].drop.yscale_10k = 1000;  // 0.1 mm per line
  recs[2].is_header = true;
  recs[2].header.line_fr = 34100.0;
  const std::vector<recovered_drop> d = drops_of(recs);
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].y_first, 123.0);
  EXPECT_DOUBLE_EQ(d[0].d, 2.12);
  EXPECT_NEAR(d[0].v, 5.0, 1e-12);
}


// Pairing of camera A and camera B silhouettes: two drops whose camera B silhouettes both
// fall within the window of the first.
struct two_drops {
  std::vector<truth_row> truth;
  two_drops() {
    truth_row x = drop_at(1000, 2.0, 6.0), y = drop_at(1100, 2.1, 6.2);
    x.id = 0;
    y.id = 1;
    x.first_b = 1060;
    x.lines_b = 11;
    x.pix_a_lo = 100, x.pix_a_hi = 110, x.pix_b_lo = 300, x.pix_b_hi = 311;
    y.first_b = 1158;
    y.lines_b = 10;
    y.pix_a_lo = 200, y.pix_a_hi = 211, y.pix_b_lo = 50, y.pix_b_hi = 61;
    truth = {x, y};
  }
  // A record of drop x (its camera A silhouette) with the given camera B silhouette.
  static recovered_drop of_x(double b_first, int b_lo, int b_hi, double d = 2.0, double v = 6.0) {
    recovered_drop r{1000.0, d, v, b_first};
    r.a_lo = 101, r.a_hi = 110;
    r.b_lo = b_lo, r.b_hi = b_hi;
    return r;
  }
  static recovered_drop of_y() {
    recovered_drop r{1100.0, 2.1, 6.2, 1158.0};
    r.a_lo = 200, r.a_hi = 210, r.b_lo = 51, r.b_hi = 61;
    return r;
  }
};

TEST(sim_score, a_record_that_takes_another_drops_camera_b_silhouette_is_a_wrong_pair) {
  const two_drops t;
  // Right: x with its own camera B silhouette; y with its own.
  score s = score_run(t.truth, {two_drops::of_x(1060.0, 301, 311), two_drops::of_y()});
  EXPECT_EQ(s.pairing.drops, 2);
  EXPECT_EQ(s.pairing.recovered, 2);
  EXPECT_EQ(s.pairing.right, 2);
  EXPECT_EQ(s.pairing.wrong(), 0);
  // x takes y's camera B silhouette (sized and timed as y's): recovered, not right, wrong;
  // y is then lost.
  s = score_run(t.truth, {two_drops::of_x(1158.0, 51, 61, 2.1, 6.1)});
  EXPECT_EQ(s.pairing.recovered, 1);
  EXPECT_EQ(s.pairing.right, 0);
  EXPECT_EQ(s.pairing.records, 1);
  EXPECT_EQ(s.pairing.wrong_other_b, 1);
  EXPECT_EQ(s.pairing.wrong(), 1);
  EXPECT_NEAR(s.pairing.wrong_pct(), 100.0, 1e-9);
  // The same first line as x's camera B silhouette, but in y's columns: still not x's.
  s = score_run(t.truth, {two_drops::of_x(1060.0, 51, 61)});
  EXPECT_EQ(s.pairing.right, 0);
  EXPECT_EQ(s.pairing.wrong(), 1);
  // A camera B silhouette where no drop has one.
  s = score_run(t.truth, {two_drops::of_x(1500.0, 400, 410)});
  EXPECT_EQ(s.pairing.wrong_no_b, 1);
  // A camera A silhouette of no drop (a streak in the columns of none) paired with y's B.
  recovered_drop ghost{1000.0, 2.0, 6.0, 1158.0};
  ghost.a_lo = 400, ghost.a_hi = 402, ghost.b_lo = 51, ghost.b_hi = 61;
  s = score_run(t.truth, {ghost});
  EXPECT_EQ(s.pairing.recovered, 0);
  EXPECT_EQ(s.pairing.wrong_no_drop, 1);
}

TEST(sim_score, right_means_both_silhouettes_and_diameter_within_10_and_speed_within_5_percent) {
  const two_drops t;
  struct {
    double d, v;
    bool right;
  } cases[] = {{2.0 * 1.09, 6.0 * 1.04, true}, {2.0 * 0.91, 6.0 * 0.96, true}, {2.0 * 1.11, 6.0, false},
               {2.0 * 0.89, 6.0, false}, {2.0, 6.0 * 1.06, false}, {2.0, 6.0 * 0.94, false}};
  for (const auto& c : cases) {
    const score s = score_run(t.truth, {two_drops::of_x(1060.0, 300, 311, c.d, c.v)});
    EXPECT_EQ(s.pairing.recovered, 1);
    EXPECT_EQ(s.pairing.right, c.right ? 1 : 0) << c.d << " mm " << c.v << " m/s";
    EXPECT_EQ(s.pairing.wrong_off, c.right ? 0 : 1) << c.d << " mm " << c.v << " m/s";
  }
}

TEST(sim_score, the_pairing_class_holds_whole_separate_rain_drops_of_0_7_mm_and_more) {
  two_drops t;
  truth_row small = t.truth[0], cut = t.truth[0], near = t.truth[0], splash = t.truth[0], alone_a = t.truth[0];
  small.d = 0.6;
  cut.clipped = true;
  near.partner = 7;
  splash.splash = true;
  alone_a.both = false;
  alone_a.lines_b = 0;
  for (const truth_row& r : {small, cut, near, splash, alone_a}) {
    // The record is far off in size: outside the class that is no wrong pair, as long as
    // the camera B silhouette is the drop's.
    const std::vector<truth_row> one = {r};
    const score s = score_run(one, {two_drops::of_x(1060.0, 300, 311, 3.0, 6.0)});
    EXPECT_EQ(s.pairing.drops, 0);
    EXPECT_EQ(s.pairing.wrong_off, 0);
  }
  // A drop seen only by camera A can have no record with its own camera B silhouette.
  const std::vector<truth_row> one = {alone_a};
  EXPECT_EQ(score_run(one, {two_drops::of_x(1060.0, 300, 311)}).pairing.wrong(), 1);
  EXPECT_EQ(score_run(t.truth, {}).pairing.drops, 2);
}

TEST(sim_score, a_silhouette_may_start_late_in_its_own_columns_but_not_elsewhere) {
  const two_drops t;
  // A drifting drop whose top lines broke off: camera A from 3 lines, camera B from 4 lines late.
  recovered_drop r = two_drops::of_x(1064.0, 302, 311);
  r.y_first = 1003.0;
  score s = score_run(t.truth, {r});
  EXPECT_EQ(s.pairing.recovered, 1);
  EXPECT_EQ(s.pairing.right, 1);
  // Past the drop's last lines but two it is not the drop's.
  r.y_first = 1008.0;
  EXPECT_EQ(score_run(t.truth, {r}).pairing.recovered, 0);
  // Nor in other columns.
  r.y_first = 1001.0;
  r.a_lo = 150, r.a_hi = 160;
  EXPECT_EQ(score_run(t.truth, {r}).pairing.recovered, 0);
  // A truth file without columns (older simulators) asks for the first lines within 2 lines.
  std::vector<truth_row> old = t.truth;
  for (truth_row& o : old) o.pix_a_lo = o.pix_a_hi = o.pix_b_lo = o.pix_b_hi = -1;
  recovered_drop late = two_drops::of_x(1060.0, 302, 311);
  late.y_first = 1002.0;
  EXPECT_EQ(score_run(old, {late}).pairing.right, 1);
  late.y_first = 1003.0;
  EXPECT_EQ(score_run(old, {late}).pairing.recovered, 0);
}

TEST(sim_score, camera_b_first_line_and_columns_come_from_the_record_head_and_pieces) {
  std::vector<reader::hyd_record> recs(2);
  recs[0].is_header = true;
  recs[0].header.line_fr = 55000.0;
  drop_head& h = recs[1].drop;
  h.y_first = 5000.0;
  h.lines_a = 10;
  // Camera B: 12 lines starting 250 lines later, so its last line is 252 lines later.
  h.lines_diff = 2;
  h.diff_lins = 250 + 252;
  recs[1].a = {{100, 103}, {99, 105}};
  recs[1].b = {{40, 44}, {38, 47}, {41, 45}};
  const std::vector<recovered_drop> d = drops_of(recs);
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].b_first, 5250.0);
  EXPECT_EQ(d[0].a_lo, 99);
  EXPECT_EQ(d[0].a_hi, 105);
  EXPECT_EQ(d[0].b_lo, 38);
  EXPECT_EQ(d[0].b_hi, 47);
  // Camera B shorter than A: 8 lines from 30 lines later.
  h.lines_diff = -2;
  h.diff_lins = 30 + 28;
  EXPECT_EQ(drops_of(recs)[0].b_first, 5030.0);
}

}  // namespace
}  // namespace dropix::sim
