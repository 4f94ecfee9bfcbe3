// Piece assembly: which runs join which objects, and which objects survive the block.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
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

// ---- the search against the whole-queue search --------------------------------------------

// Piece assembly as it was written first: every run looked for in the whole Assign-queue,
// newest object first.
void reference_assign(store_state& store, const line_blk_rec& blk, queue_pair& qp, diagnostics& d) {
  for (int i = 0; i < std::clamp<int>(blk.n_lin, 0, line_buf_max); ++i) {
    const line_entry& line = blk.line[i];
    for (int j = 0; j < std::clamp<int>(line.n_seg, 0, max_runs); ++j) {
      const s16 xs = line.seg[j][0];
      const s16 xe = line.seg[j][1];
      drop_rec* p = qp.assign_first;
      for (; p; p = p->next) {
        if (line.y_count - p->y_last != 1.0) continue;
        const piece& latest = p->pieces[p->line_no - 1];
        if (latest.first <= xe && latest.last >= xs) break;
      }
      if (!p) {
        new_obj(store, xs, xe, line.y_count, qp, d);
        continue;
      }
      p->y_last = line.y_count;
      if (p->line_no >= MAXLIN) {
        p->overflow = 1;
        p->pieces[MAXLIN - 1] = {xs, xe};
        continue;
      }
      p->pix_min = std::min(p->pix_min, xs);
      p->pix_max = std::max(p->pix_max, xe);
      p->max_wid = std::max<s16>(p->max_wid, static_cast<s16>(xe - xs));
      p->pieces[p->line_no++] = {xs, xe};
    }
  }
  for (drop_rec* p = qp.assign_first; p;) {
    drop_rec* const older = p->next;
    if (p->overflow != 0 || p->pix_max - p->pix_min + 1 < 2 || p->line_no < 2) unlink_assign(store, p, qp, d);
    p = older;
  }
}

// A queue as text: slot, fields and pieces of every object, newest first.
std::string queue_text(const store_state& store, const drop_rec* first) {
  std::string out;
  for (const drop_rec* p = first; p; p = p->next) {
    char head[200];
    std::snprintf(head, sizeof head, "[%d] %d %d %d %d %a %a %d %d:", static_cast<int>(p - store.slots), p->pix_min,
                  p->pix_max, p->max_wid, p->line_no, p->y_first, p->y_last, p->status, p->overflow);
    out += head;
    for (int k = 0; k < std::min<int>(p->line_no, MAXLIN); ++k)
      out += " " + std::to_string(p->pieces[k].first) + "-" + std::to_string(p->pieces[k].last);
    out += "\n";
  }
  return out;
}

// Random blocks: runs that join, split and merge; line counts that step by one, leap, step
// by fractions, go back, start below 4 or are not numbers.
std::unique_ptr<line_blk_rec> random_block(std::mt19937& rng) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto blk = std::make_unique<line_blk_rec>();
  const int style = pick(0, 9);
  f64 y = style == 0 ? pick(-3, 3) : style == 1 ? 9007199254740990.0 : 1000.0 * pick(1, 100000);
  blk->n_lin = static_cast<s16>(pick(1, pick(0, 4) == 0 ? line_buf_max : 200));
  for (int i = 0; i < blk->n_lin; ++i) {
    line_entry& e = blk->line[i];
    const int step = pick(0, 40);
    if (style >= 2 && style <= 3 && step == 0) y -= pick(1, 20);
    else if (style == 4 && step < 3) y += 0.5;
    else if (style == 5 && step == 0) y = std::numeric_limits<f64>::quiet_NaN();
    else if (step == 1) y += pick(2, 30);
    else y += 1.0;
    if (style == 5 && step == 2) y = 5000.0;
    e.y_count = y;
    e.n_seg = static_cast<s16>(pick(0, 12) == 0 ? pick(0, 6) : pick(1, 3));
    int x = pick(0, 40);
    for (int k = 0; k < e.n_seg; ++k) {
      e.seg[k][0] = static_cast<s16>(x + pick(k == 0 ? 0 : 1, 12));
      e.seg[k][1] = static_cast<s16>(e.seg[k][0] + pick(0, 10));
      x = e.seg[k][1];
    }
  }
  return blk;
}

TEST_F(assembly, the_search_among_the_line_above_finds_what_the_whole_queue_search_finds) {
  std::mt19937 rng(4711);
  auto reference = std::make_unique<store_state>();
  diagnostics ref_diag = diag;
  int emptied = 0, kept_objects = 0;
  for (int k = 0; k < 400; ++k) {
    SCOPED_TRACE("block " + std::to_string(k));
    store = store_state{};
    *reference = store_state{};
    init_queues(store.qa, store.qb);
    init_queues(reference->qa, reference->qb);
    // Sometimes a nearly full store (forced emptying) or objects already in the queue.
    const int filler = k % 7 == 0 ? n_slots - 1 - (k % 5) : k % 7 == 1 ? 30 : 0;
    for (int f = 0; f < filler; ++f) {
      new_obj(store, 1, 5, 100.0 + f, store.qb, diag);
      new_obj(*reference, 1, 5, 100.0 + f, reference->qb, ref_diag);
    }
    if (k % 7 == 1) {
      new_obj(store, 3, 9, 6.0, store.qa, diag);
      new_obj(*reference, 3, 9, 6.0, reference->qa, ref_diag);
    }
    const auto blk = random_block(rng);
    const std::string before = err_text();
    assign_pieces(store, *blk, store.qa, diag);
    const std::string messages = err_text().substr(before.size());
    reference_assign(*reference, *blk, reference->qa, ref_diag);
    ASSERT_EQ(queue_text(store, store.qa.assign_first), queue_text(*reference, reference->qa.assign_first));
    ASSERT_EQ(queue_text(store, store.qb.assign_first), queue_text(*reference, reference->qb.assign_first));
    ASSERT_EQ(store.slot_cursor, reference->slot_cursor);
    emptied += messages.find("emptied") != std::string::npos;
    kept_objects += static_cast<int>(testing::assign_queue(store.qa).size());
  }
  EXPECT_GT(emptied, 10);
  EXPECT_GT(kept_objects, 2000);
}

}  // namespace
}  // namespace dropix
