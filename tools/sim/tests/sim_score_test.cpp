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

}  // namespace
}  // namespace dropix::sim
