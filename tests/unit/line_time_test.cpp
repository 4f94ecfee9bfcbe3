// Line timing: per-minute raw positions and the time-order check.
#include <gtest/gtest.h>

#include "input/line_time.h"
#include "tests/support/fixture.h"

namespace dropix {
namespace {

using testing::dropix_test;

class line_timing : public dropix_test {
 protected:
  void SetUp() override {
    dropix_test::SetUp();
    hdr.line_fr = 1000.0;  // 60000 lines per minute
  }
  // A decoded block of camera `ident` at raw offset `at` with lines from `y` on.
  void block(s16 ident, s64 at, f64 y, int n = 1) {
    dec.line_blk.n_lin = static_cast<s16>(n);
    dec.line_blk.growing = growing;
    for (int i = 0; i < n; ++i) dec.line_blk.line[i].y_count = y + i;
    (ident == ident_camera_a ? mp.prev_a : mp.prev_b) = at;
    line_time(timing, dec.line_blk, ident, at, hdr.line_fr, mp, diag);
  }
  bool growing = false;  // the blocks are marked as the decoder marks growing ones
};

TEST_F(line_timing, a_jump_of_minutes_fills_every_skipped_minute) {
  block(ident_camera_a, 100, 5 * 60000.0 + 7);
  block(ident_camera_a, 200, 5 * 60000.0 + 900);
  block(ident_camera_a, 300, 9 * 60000.0 + 1);
  for (int k = 0; k <= 5; ++k) EXPECT_EQ(timing.pos.posa_bf[k], 100u) << k;
  for (int k = 6; k <= 9; ++k) EXPECT_EQ(timing.pos.posa_bf[k], 300u) << k;
  EXPECT_EQ(timing.pos.posa_bf[10], 0u);
  EXPECT_EQ(timing.minut_a, 9);
  EXPECT_EQ(timing.minut_b, -1);
  EXPECT_EQ(timing.old_a, 9 * 60000.0 + 1);
}

TEST_F(line_timing, entries_already_set_stay) {
  timing.pos.posb_bf[6] = 77;
  block(ident_camera_b, 500, 7 * 60000.0);
  EXPECT_EQ(timing.pos.posb_bf[5], 500u);
  EXPECT_EQ(timing.pos.posb_bf[6], 77u);
  EXPECT_EQ(timing.pos.posb_bf[7], 500u);
}

TEST_F(line_timing, a_first_block_at_offset_zero_leaves_its_entry_zero) {
  block(ident_camera_a, 0, 3.0);
  EXPECT_EQ(timing.pos.posa_bf[0], 0u);
  EXPECT_EQ(timing.minut_a, 0);
}

TEST_F(line_timing, no_entry_without_a_line_frequency_or_beyond_the_day) {
  hdr.line_fr = 0;
  block(ident_camera_a, 40, 5.0);
  EXPECT_EQ(timing.minut_a, -1);
  EXPECT_EQ(timing.old_a, 5.0) << "the order check still runs";
  hdr.line_fr = 1000.0;
  block(ident_camera_a, 80, 1442 * 60000.0);
  EXPECT_EQ(timing.minut_a, -1);
  block(ident_camera_a, 120, 1441 * 60000.0 + 1e6);
  EXPECT_EQ(timing.minut_a, -1);
}

TEST_F(line_timing, equal_line_counts_within_a_block_end_the_run) {
  dec.line_blk.n_lin = 2;
  dec.line_blk.line[0].y_count = 50;
  dec.line_blk.line[1].y_count = 50;
  EXPECT_QUITS(line_time(timing, dec.line_blk, ident_camera_a, 0, hdr.line_fr, mp, diag), exit_status::failure);
  EXPECT_EQ(err_text(),
            "old_a=50.000000 line_buf[1].y_count=50.000000 \n"
            "neg. time jump in A \n"
            "please rename or delete current set of data files");
}

TEST_F(line_timing, a_line_count_not_above_the_last_block_ends_the_run_for_camera_b) {
  block(ident_camera_b, 10, 80.0);
  EXPECT_QUITS(block(ident_camera_b, 20, 79.0), exit_status::failure);
  EXPECT_EQ(err_text(), "y_count=79.000000\nneg. time jump in B \nplease rename or delete current set of data files");
}

TEST_F(line_timing, a_block_known_to_grow_is_checked_as_every_block_is) {
  growing = true;
  block(ident_camera_b, 10, 80.0, 5);
  EXPECT_EQ(timing.old_b, 84.0);
  block(ident_camera_b, 20, 84.5, 3);
  EXPECT_EQ(timing.old_b, 86.5);
  EXPECT_QUITS(block(ident_camera_b, 30, 86.5, 4), exit_status::failure);
  EXPECT_EQ(err_text(), "y_count=86.500000\nneg. time jump in B \nplease rename or delete current set of data files");
}

TEST_F(line_timing, a_first_line_count_of_zero_is_no_growth) {
  EXPECT_QUITS(block(ident_camera_a, 0, 0.0), exit_status::failure);
}

TEST_F(line_timing, other_block_types_do_nothing) {
  block(ident_main_header, 10, 5.0);
  EXPECT_EQ(timing.old_a, 0.0);
  EXPECT_EQ(timing.old_b, 0.0);
}

}  // namespace
}  // namespace dropix
