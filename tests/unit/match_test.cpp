// Camera A/B matching: the pair rules, the time window, the horizon and the time order of
// the pairs handed on.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "reconstruct/match.h"
#include "tests/support/objects.h"

namespace dropix {
namespace {

using testing::add_waiting;
using testing::recon_test;
using testing::wait_queue;

drop_rec silhouette(f64 y_first, int lines, int width) {
  drop_rec d;
  d.y_first = y_first;
  d.y_last = y_first + lines - 1;
  d.line_no = static_cast<s16>(lines);
  d.max_wid = static_cast<s16>(width);
  return d;
}

class pair_rules : public recon_test {
 protected:
  bool same_drop(const drop_rec& a, const drop_rec& b) { return match_test(&a, &b, diag) != 0; }
};

TEST_F(pair_rules, line_counts_may_differ_by_five_not_six) {
  EXPECT_TRUE(same_drop(silhouette(100, 10, 4), silhouette(101, 15, 4)));
  EXPECT_FALSE(same_drop(silhouette(100, 10, 4), silhouette(101, 16, 4)));
  EXPECT_TRUE(same_drop(silhouette(100, 16, 4), silhouette(110, 11, 4)));
  EXPECT_FALSE(same_drop(silhouette(100, 16, 4), silhouette(110, 10, 4)));
}

TEST_F(pair_rules, width_ratio_lies_between_two_thirds_and_three_halves_in_single_precision) {
  // 2/3 in double lies below the single-precision bound; only the rounded ratio passes.
  const std::pair<int, int> fit[] = {{2, 3}, {3, 2}, {200, 300}, {300, 200}, {299, 200}, {7, 7}};
  const std::pair<int, int> misfit[] = {{3, 5}, {5, 3}, {301, 200}, {199, 300}};
  for (auto [wa, wb] : fit)
    EXPECT_TRUE(same_drop(silhouette(100, 5, wa), silhouette(101, 5, wb))) << wa << "/" << wb;
  for (auto [wa, wb] : misfit)
    EXPECT_FALSE(same_drop(silhouette(100, 5, wa), silhouette(101, 5, wb))) << wa << "/" << wb;
}

TEST_F(pair_rules, a_width_of_zero_never_matches_and_is_traced) {
  diag.obj_trace_flag = 1;
  EXPECT_FALSE(same_drop(silhouette(100, 5, 0), silhouette(101, 5, 4)));
  EXPECT_FALSE(same_drop(silhouette(100, 5, 4), silhouette(101, 5, 0)));
  EXPECT_FALSE(same_drop(silhouette(100, 5, 0), silhouette(101, 5, 0)));
  EXPECT_EQ(host.out,
            "*** match Error: W1= 0, W2= 4\n*** match Error: W1= 4, W2= 0\n"
            "*** match Error: W1= 0, W2= 0\n");
}

TEST_F(pair_rules, camera_b_must_lie_later_on_average_in_whole_lines) {
  EXPECT_FALSE(same_drop(silhouette(100, 5, 4), silhouette(100, 5, 4)));
  EXPECT_TRUE(same_drop(silhouette(100, 5, 4), silhouette(100, 6, 4)))
      << "same first line: a later last line decides";
  EXPECT_FALSE(same_drop(silhouette(100, 5, 4), silhouette(100.9, 5, 4)))
      << "fractions of a line are cut off";
  EXPECT_TRUE(same_drop(silhouette(100.5, 5, 4), silhouette(100, 7, 4)))
      << "a difference of -0.5 lines is cut toward zero";
  EXPECT_FALSE(same_drop(silhouette(100, 9, 4), silhouette(102, 5, 4)))
      << "starting 2 lines later but ending 2 lines earlier";
  EXPECT_TRUE(same_drop(silhouette(100, 9, 4), silhouette(102, 6, 4)));
}

// Counts the pairs matching hands on, and notes the camera A line of the last.
struct counting_sink : pair_sink {
  int pairs = 0;
  f64 last_y = 0;
  void pair(const drop_rec* a, const drop_rec*) override {
    ++pairs;
    last_y = a->y_first;
  }
};

class matching : public recon_test {
 protected:
  void SetUp() override {
    recon_test::SetUp();
    mp.horizon_base = 1000000;
  }
  void match() { find_m(store, mp.horizon_base, &mp.total, sink, diag); }
  std::size_t waiting_a() { return wait_queue(store.qa).size(); }
  std::size_t waiting_b() { return wait_queue(store.qb).size(); }
  counting_sink sink;
};

TEST_F(matching, camera_b_may_start_up_to_1200_lines_after_camera_a) {
  add_waiting(store.qa, 10000);
  add_waiting(store.qb, 11200);
  match();
  EXPECT_EQ(mp.total, 1);
  EXPECT_EQ(testing::slots_in_use(), 0);

  add_waiting(store.qa, 20000);
  drop_rec* late = add_waiting(store.qb, 21201);
  match();
  EXPECT_EQ(mp.total, 1);
  EXPECT_EQ(waiting_a(), 0u) << "camera A object without a partner is given up";
  EXPECT_EQ(store.qb.wait_last, late);
}

TEST_F(matching, camera_b_objects_starting_before_camera_a_are_given_up) {
  add_waiting(store.qa, 10000);
  add_waiting(store.qb, 9999);
  add_waiting(store.qb, 10005);
  match();
  EXPECT_EQ(mp.total, 1);
  EXPECT_EQ(testing::slots_in_use(), 0);
}

TEST_F(matching, the_oldest_fitting_camera_b_object_is_taken) {
  add_waiting(store.qa, 10000);
  add_waiting(store.qb, 10010, 3, 9);  // wrong width: passed over, kept
  add_waiting(store.qb, 10020);
  drop_rec* newer = add_waiting(store.qb, 10030);
  match();
  EXPECT_EQ(mp.total, 1);
  const auto left = wait_queue(store.qb);
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0], newer);
  EXPECT_EQ(left[1]->y_first, 10010.0);
}

TEST_F(matching, camera_a_waits_while_no_camera_b_object_is_late_enough) {
  drop_rec* a = add_waiting(store.qa, 10000, 3, 4);
  add_waiting(store.qb, 10010, 3, 9);
  match();
  EXPECT_EQ(mp.total, 0);
  EXPECT_EQ(store.qa.wait_last, a);
  EXPECT_EQ(a->status, 'V');
  EXPECT_EQ(waiting_b(), 1u);
}

TEST_F(matching, objects_newer_than_the_horizon_wait_for_later_lines) {
  mp.horizon_base = 20000;  // horizon 18800
  add_waiting(store.qa, 18800);
  drop_rec* beyond = add_waiting(store.qa, 18801);
  add_waiting(store.qa, 18000);  // out of order: the scan has stopped before it
  for (int y : {18805, 18806, 18807}) add_waiting(store.qb, y);
  match();
  EXPECT_EQ(mp.total, 1);
  const auto left = wait_queue(store.qa);
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[1], beyond);
  EXPECT_EQ(waiting_b(), 2u);
}

TEST_F(matching, the_horizon_holds_beyond_32_bit_line_counts_and_wraps_after_midnight) {
  const f64 big = 4294967296.0;
  mp.horizon_base = 4294967296ULL + 5000;
  add_waiting(store.qa, big + 3000);
  drop_rec* beyond = add_waiting(store.qa, big + 3801);
  add_waiting(store.qb, big + 3010);
  add_waiting(store.qb, big + 3811);
  match();
  EXPECT_EQ(mp.total, 1);
  EXPECT_EQ(store.qa.wait_last, beyond);

  store = store_state{};
  init_queues(store.qa, store.qb);
  mp.horizon_base = 500;  // minus 1200 wraps round: every object is examined
  add_waiting(store.qa, 100000);
  add_waiting(store.qb, 100010);
  match();
  EXPECT_EQ(mp.total, 2);
}

TEST_F(matching, a_pair_out_of_time_order_counts_but_is_not_handed_on) {
  add_waiting(store.qa, 10000);
  add_waiting(store.qb, 10005);
  match();
  EXPECT_EQ(store.last_match_y, 10000.0);
  add_waiting(store.qa, 10000);  // a second drop starting on the same line keeps the order
  add_waiting(store.qb, 10006);
  match();
  EXPECT_EQ(err_text(), "");

  add_waiting(store.qa, 9000);
  add_waiting(store.qb, 9005);
  diag.obj_trace_flag = 1;
  const std::string trace = captured([&] { match(); });
  EXPECT_EQ(mp.total, 3);
  EXPECT_EQ(sink.pairs, 2) << "the pair out of order is not handed on";
  EXPECT_EQ(testing::slots_in_use(), 0);
  EXPECT_EQ(err_text(), "C");
  EXPECT_EQ(store.last_match_y, 10000.0);
  EXPECT_EQ(trace.rfind("\nFind_m -> Chronology - Error ** find_m - matched: 1\n", 0), 0u) << trace;
}

TEST_F(matching, the_trace_reports_the_pairs_and_the_slot_map) {
  add_waiting(store.qa, 10000);
  add_waiting(store.qa, 10500);
  add_waiting(store.qb, 10005);
  mp.total = 41;
  diag.obj_trace_flag = 1;
  diag.trace_flag = 1;
  const std::string trace = captured([&] { match(); });
  std::string map(n_slots, '.');
  map[1] = 'V';
  EXPECT_EQ(trace, "** find_m - matched: 1\n** find_m: " + map + "\n");
  EXPECT_EQ(mp.total, 42);
}

}  // namespace
}  // namespace dropix
