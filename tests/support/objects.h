// Test kit for piece assembly, the object store and matching: line blocks written by hand,
// waiting objects made through the real road (assign_pieces, chain_queues), and a queue
// walk that checks the links both ways.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "common/records.h"
#include "reconstruct/assign.h"
#include "reconstruct/store.h"
#include "tests/support/drop_kit.h"
#include "tests/support/fixture.h"

namespace dropix::testing {

// A decoded line block as decmpr leaves it.
struct block {
  std::unique_ptr<line_blk_rec> rec = std::make_unique<line_blk_rec>();

  block& line(f64 y, std::initializer_list<piece> runs) {
    line_entry& e = rec->line[rec->n_lin++];
    e.y_count = y;
    e.n_seg = 0;
    for (const piece& r : runs) {
      e.seg[e.n_seg][0] = r.first;
      e.seg[e.n_seg][1] = r.last;
      ++e.n_seg;
    }
    return *this;
  }
  // `count` consecutive lines from `y`, each with the one run {first, last}.
  block& lines(f64 y, int count, piece run) {
    for (int k = 0; k < count; ++k) line(y + k, {run});
    return *this;
  }
};

// The objects of a queue from its front (newest) to its back; a broken link fails the test.
inline std::vector<drop_rec*> queue_of(drop_rec* first, drop_rec* last) {
  std::vector<drop_rec*> out;
  drop_rec* before = nullptr;
  for (drop_rec* p = first; p; p = p->next) {
    EXPECT_EQ(p->prev, before) << "broken prev link";
    out.push_back(p);
    before = p;
    if (out.size() > n_slots) {
      ADD_FAILURE() << "queue does not end";
      break;
    }
  }
  EXPECT_EQ(last, before) << "back pointer is not the last object";
  return out;
}
inline std::vector<drop_rec*> assign_queue(const queue_pair& qp) {
  return queue_of(qp.assign_first, qp.assign_last);
}
inline std::vector<drop_rec*> wait_queue(const queue_pair& qp) {
  return queue_of(qp.wait_first, qp.wait_last);
}

inline int slots_in_use() {
  int n = 0;
  for (const drop_rec& slot : current_test().store.slots) n += slot.status != 0;
  return n;
}

// Puts a block through piece assembly and on into the Wait-queue.
inline void take_block(const block& b, queue_pair& qp) {
  dropix_test& t = current_test();
  assign_pieces(t.store, *b.rec, qp, t.diag);
  chain_queues(t.store, qp, t.diag);
}

// A waiting object: `lines` scan lines from `y_first`, each shaded from pixel 100 to
// 100 + `width`, so its max_wid is `width`.
inline drop_rec* add_waiting(queue_pair& qp, f64 y_first, int lines = 3, int width = 4) {
  take_block(block{}.lines(y_first, lines, {100, static_cast<s16>(100 + width)}), qp);
  return qp.wait_first;
}

// The fixture of the reconstruction tests: queues tagged as the first pass tags them, and a
// header in force from midnight, so that matched pairs can be evaluated by the writer.
class recon_test : public dropix_test {
 protected:
  // What `f` writes to the screen.
  template <class F>
  std::string captured(F f) {
    const std::size_t before = host.out.size();
    f();
    return host.out.substr(before);
  }
  void SetUp() override {
    init_queues(store.qa, store.qb);
    add_header(0, flat_header());
    flat_factors();
  }
};

}  // namespace dropix::testing
