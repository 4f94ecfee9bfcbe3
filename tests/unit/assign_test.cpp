// Piece assembly: which runs join which objects, and which objects survive the block.
#include <gtest/gtest.h>

#include <vector>

#include "reconstruct/assign.h"
#include "tests/support/objects.h"

namespace dropix {
namespace {

using testing::block;
using testing::recon_test;

class assembly : public recon_test {
 protected:
  // Assembles the block for camera A and returns the surviving objects, oldest first.
  std::vector<drop_rec*> survivors(const block& b) {
    assign_pieces(store, *b.rec, store.qa, diag);
    auto objs = testing::assign_queue(store.qa);
    return {objs.rbegin(), objs.rend()};
  }
};

void expect_pieces(const drop_rec* obj, std::vector<piece> expected) {
  ASSERT_EQ(obj->line_no, static_cast<s16>(expected.size()));
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(obj->pieces[k].first, expected[k].first) << "piece " << k;
    EXPECT_EQ(obj->pieces[k].last, expected[k].last) << "piece " << k;
  }
}

TEST_F(assembly, runs_join_only_when_they_overlap_the_latest_piece) {
  // Adjacent columns: the single line {10, 12} is left alone and discarded.
  auto objs = survivors(block{}.line(10, {{10, 12}}).line(11, {{13, 15}}).line(12, {{13, 15}}));
  ASSERT_EQ(objs.size(), 1u);
  EXPECT_EQ(objs[0]->y_first, 11.0);
  expect_pieces(objs[0], {{13, 15}, {13, 15}});

  store = {};
  init_queues(store.qa, store.qb);
  objs = survivors(block{}.line(10, {{10, 12}}).line(11, {{12, 15}}).line(12, {{13, 15}}));
  ASSERT_EQ(objs.size(), 1u);
  EXPECT_EQ(objs[0]->y_first, 10.0);
  EXPECT_EQ(objs[0]->y_last, 12.0);
  EXPECT_EQ(objs[0]->pix_min, 10);
  EXPECT_EQ(objs[0]->pix_max, 15);
  EXPECT_EQ(objs[0]->max_wid, 3) << "the first piece does not count for the width";
  expect_pieces(objs[0], {{10, 12}, {12, 15}, {13, 15}});

  // The same from the other side: a shared column joins, a neighbouring one does not.
  store = {};
  init_queues(store.qa, store.qb);
  objs = survivors(
      block{}.line(10, {{12, 15}}).line(11, {{9, 12}}).line(20, {{12, 15}}).line(21, {{9, 11}}));
  ASSERT_EQ(objs.size(), 1u);
  expect_pieces(objs[0], {{12, 15}, {9, 12}});
}

TEST_F(assembly, a_run_over_two_objects_joins_the_newer) {
  auto objs = survivors(block{}.line(10, {{10, 12}, {20, 22}}).line(11, {{10, 22}}));
  ASSERT_EQ(objs.size(), 1u);
  expect_pieces(objs[0], {{20, 22}, {10, 22}});
  EXPECT_EQ(objs[0]->pix_min, 10);
  EXPECT_EQ(objs[0]->max_wid, 12);
}

TEST_F(assembly, of_two_runs_over_one_object_the_left_joins_it) {
  auto objs =
      survivors(block{}.line(10, {{10, 20}}).line(11, {{8, 12}, {15, 25}}).line(12, {{15, 25}}));
  ASSERT_EQ(objs.size(), 2u);
  expect_pieces(objs[0], {{10, 20}, {8, 12}});
  expect_pieces(objs[1], {{15, 25}, {15, 25}});
  EXPECT_EQ(objs[1]->y_first, 11.0);
}

TEST_F(assembly, only_the_very_next_line_continues_an_object) {
  auto objs = survivors(block{}.lines(10, 2, {10, 12}).lines(13, 2, {10, 12}));
  ASSERT_EQ(objs.size(), 2u) << "a gap of one line splits the shadow";
  EXPECT_EQ(objs[0]->y_last, 11.0);
  EXPECT_EQ(objs[1]->y_first, 13.0);

  store = {};
  init_queues(store.qa, store.qb);
  const f64 y = 1e9 + 0.25;
  objs = survivors(block{}.line(y, {{10, 12}}).line(y + 1.0000001, {{10, 12}}));
  EXPECT_TRUE(objs.empty()) << "line counts must differ by exactly 1.0";
}

TEST_F(assembly, an_object_holds_at_most_maxlin_lines) {
  auto objs = survivors(block{}.lines(1000, MAXLIN, {10, 12}));
  ASSERT_EQ(objs.size(), 1u);
  EXPECT_EQ(objs[0]->line_no, MAXLIN);

  // From the 601st line on the last piece is overwritten and the object keeps absorbing its
  // silhouette, so the runs on {30, 32} start no object of their own; it is discarded at
  // the end of the block, while an unrelated object stays.
  store = {};
  init_queues(store.qa, store.qb);
  objs = survivors(block{}
                       .lines(1000, MAXLIN, {10, 12})
                       .line(1000 + MAXLIN, {{10, 32}})
                       .lines(1001 + MAXLIN, 2, {30, 32})
                       .lines(1003 + MAXLIN, 2, {50, 52}));
  ASSERT_EQ(objs.size(), 1u);
  EXPECT_EQ(objs[0]->pix_min, 50);
  EXPECT_EQ(testing::slots_in_use(), 1);
}

TEST_F(assembly, thin_and_single_line_objects_are_discarded) {
  auto objs = survivors(block{}
                            .lines(10, 3, {10, 10})                       // one pixel wide
                            .line(20, {{10, 10}})
                            .line(21, {{10, 11}})                         // two pixels: stays
                            .line(30, {{5, 9}, {20, 29}, {40, 60}})       // single lines
                            .line(32, {{1, 1}, {3, 4}, {6, 9}, {11, 12}, {14, 15}, {17, 18}}));
  ASSERT_EQ(objs.size(), 1u);
  EXPECT_EQ(objs[0]->y_first, 20.0);
  EXPECT_EQ(objs[0]->pix_max - objs[0]->pix_min + 1, 2);
  EXPECT_EQ(testing::slots_in_use(), 1);
}

TEST_F(assembly, exhaustion_in_the_middle_of_a_block_keeps_assembling) {
  for (int k = 0; k < n_slots - 1; ++k) new_obj(store, 1, 5, k, store.qb, diag);
  chain_queues(store, store.qb, diag);
  auto objs = survivors(block{}.lines(5000, 3, {10, 12}).lines(6000, 3, {10, 12}));
  // The second drop's first run finds the store full: everything is given up, and the
  // drop is assembled from then on in the emptied queue.
  EXPECT_EQ(err_text(), "queues emptied by force !");
  ASSERT_EQ(objs.size(), 1u);
  EXPECT_EQ(objs[0]->line_no, 3);
  EXPECT_EQ(store.qb.wait_first, nullptr);
}

}  // namespace
}  // namespace dropix
