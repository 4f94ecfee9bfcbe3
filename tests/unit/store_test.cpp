// The object store: slot search, release, forced emptying and the hand-over to the
// Wait-queue.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "reconstruct/store.h"
#include "tests/support/objects.h"

namespace dropix {
namespace {

using testing::assign_queue;
using testing::recon_test;
using testing::wait_queue;

class slots : public recon_test {};

TEST_F(slots, a_new_object_holds_its_first_piece_and_leaves_with_it) {
  new_obj(store, 10, 14, 4711.0, store.qa, diag);
  drop_rec* obj = store.qa.assign_first;
  ASSERT_EQ(obj, &store.slots[0]);
  EXPECT_EQ(store.qa.assign_last, obj);
  EXPECT_EQ(obj->status, '1');
  EXPECT_EQ(obj->pix_min, 10);
  EXPECT_EQ(obj->pix_max, 14);
  EXPECT_EQ(obj->max_wid, 0);
  EXPECT_EQ(obj->line_no, 1);
  EXPECT_EQ(obj->y_first, 4711.0);
  EXPECT_EQ(obj->y_last, 4711.0);
  EXPECT_EQ(obj->pieces[0].first, 10);
  EXPECT_EQ(obj->pieces[0].last, 14);

  unlink_assign(store, obj, store.qa, diag);
  EXPECT_EQ(store.qa.assign_first, nullptr);
  EXPECT_EQ(store.qa.assign_last, nullptr);
  EXPECT_EQ(obj->status, 0);
  EXPECT_EQ(obj->pieces, nullptr);
}

TEST_F(slots, the_search_resumes_after_the_slot_taken_last) {
  for (int k = 0; k < 3; ++k) new_obj(store, 1, 5, k, store.qa, diag);
  unlink_assign(store, &store.slots[0], store.qa, diag);
  new_obj(store, 1, 5, 3, store.qa, diag);
  EXPECT_EQ(store.qa.assign_first, &store.slots[3]) << "a freed lower slot is not taken first";

  store.slot_cursor = n_slots - 1;
  new_obj(store, 1, 5, 4, store.qa, diag);
  EXPECT_EQ(store.qa.assign_first, &store.slots[n_slots - 1]);
  new_obj(store, 1, 5, 5, store.qa, diag);
  EXPECT_EQ(store.qa.assign_first, &store.slots[0]) << "the search wraps after the last slot";
  new_obj(store, 1, 5, 6, store.qa, diag);
  EXPECT_EQ(store.qa.assign_first, &store.slots[4]);
  EXPECT_EQ(store.slot_cursor, 5) << "every probe advances the cursor";
}

TEST_F(slots, the_search_finds_free_slots_across_the_whole_store_in_next_fit_order) {
  for (int k = 0; k < n_slots; ++k) new_obj(store, 1, 5, k, store.qa, diag);
  for (int k : {0, 63, 64, 127, 128, 640, n_slots - 1}) unlink_assign(store, &store.slots[k], store.qa, diag);
  store.slot_cursor = 65;
  std::vector<int> taken;
  for (int k = 0; k < 7; ++k) taken.push_back(static_cast<int>(w_alloc(store, diag) - store.slots));
  EXPECT_EQ(taken, (std::vector<int>{127, 128, 640, n_slots - 1, 0, 63, 64}));
  EXPECT_EQ(store.slot_cursor, 65);
  EXPECT_EQ(w_alloc(store, diag), nullptr);
}

TEST_F(slots, each_taken_slot_holds_a_room_of_its_own_for_maxlin_pieces) {
  new_obj(store, 7, 9, 1.0, store.qa, diag);
  drop_rec* first = store.qa.assign_first;
  new_obj(store, 30, 40, 1.0, store.qa, diag);
  drop_rec* second = store.qa.assign_first;
  for (int k = 0; k < MAXLIN; ++k) first->pieces[k] = {static_cast<s16>(k), static_cast<s16>(k + 1)};
  EXPECT_EQ(second->pieces[0].first, 30) << "a full room reaches into another slot's";
  EXPECT_EQ(second->pieces[0].last, 40);
  for (int k = 0; k < MAXLIN; ++k) second->pieces[k] = {-1, -1};
  EXPECT_EQ(first->pieces[MAXLIN - 1].first, MAXLIN - 1);
  unlink_assign(store, first, store.qa, diag);
  EXPECT_EQ(first->pieces, nullptr);
}

TEST_F(slots, the_room_given_back_last_is_lent_first) {
  std::vector<drop_rec*> objs;
  for (int k = 0; k < 4; ++k) objs.push_back(w_alloc(store, diag));
  EXPECT_EQ(objs[0]->pieces, store.rooms.get()) << "a fresh store lends its rooms from the front";
  for (int k = 1; k < 4; ++k) EXPECT_EQ(objs[k]->pieces, objs[k - 1]->pieces + MAXLIN);

  piece* const second_room = objs[1]->pieces;
  piece* const third_room = objs[2]->pieces;
  w_free(store, objs[2], diag);
  w_free(store, objs[1], diag);
  drop_rec* next = w_alloc(store, diag);
  EXPECT_EQ(next, &store.slots[4]) << "the slot search is not changed by the rooms";
  EXPECT_EQ(next->pieces, second_room);
  EXPECT_EQ(w_alloc(store, diag)->pieces, third_room);
  EXPECT_EQ(w_alloc(store, diag)->pieces, objs[3]->pieces + MAXLIN) << "then an untouched room";
}

TEST_F(slots, a_slot_released_twice_gives_its_room_back_once) {
  drop_rec* obj = w_alloc(store, diag);
  w_free(store, obj, diag);
  w_free(store, obj, diag);
  EXPECT_EQ(obj->status, 0);
  EXPECT_EQ(obj->pieces, nullptr);
  drop_rec* a = w_alloc(store, diag);
  drop_rec* b = w_alloc(store, diag);
  EXPECT_NE(a->pieces, b->pieces) << "two objects would write into one room";
}

TEST_F(slots, taken_slots_never_share_a_room_and_only_as_many_rooms_as_objects_are_touched) {
  std::mt19937 rng(13);
  std::vector<drop_rec*> taken;
  std::size_t most_at_once = 0;
  piece* highest_room = nullptr;
  for (int step = 0; step < 20000; ++step) {
    // Churn around 20 to 200 objects, with a burst that fills the store now and then.
    const bool burst = step % 5000 == 4000;
    const std::size_t want = burst ? n_slots : 20 + rng() % 180;
    while (taken.size() < want) {
      drop_rec* obj = w_alloc(store, diag);
      ASSERT_NE(obj, nullptr);
      ASSERT_NE(obj->pieces, nullptr);
      taken.push_back(obj);
      if (obj->pieces > highest_room) highest_room = obj->pieces;
    }
    most_at_once = std::max(most_at_once, taken.size());
    const std::size_t drop = burst ? taken.size() - 5 : rng() % (taken.size() + 1);
    for (std::size_t k = 0; k < drop; ++k) {
      const std::size_t at = rng() % taken.size();
      w_free(store, taken[at], diag);
      taken[at] = taken.back();
      taken.pop_back();
    }
    std::vector<piece*> rooms;
    for (const drop_rec* obj : taken) rooms.push_back(obj->pieces);
    std::sort(rooms.begin(), rooms.end());
    ASSERT_EQ(std::adjacent_find(rooms.begin(), rooms.end()), rooms.end()) << "at step " << step;
    if (step == 3999) {
      EXPECT_LT(most_at_once, 200u);
      EXPECT_EQ(static_cast<std::size_t>(highest_room - store.rooms.get()) / MAXLIN + 1, most_at_once)
          << "rooms beyond the most objects held at once were touched";
    }
  }
  EXPECT_EQ(most_at_once, std::size_t{n_slots});
}

TEST_F(slots, a_full_store_gives_no_slot_after_a_full_round) {
  for (int k = 0; k < n_slots; ++k) new_obj(store, 1, 5, k, store.qa, diag);
  store.slot_cursor = 123;
  diag.obj_trace_flag = 1;
  EXPECT_EQ(captured([&] { EXPECT_EQ(w_alloc(store, diag), nullptr); }), "** w_alloc: Out of space\n");
  EXPECT_EQ(store.slot_cursor, 123);
  EXPECT_EQ(err_text(), "");
}

TEST_F(slots, one_object_too_many_empties_every_queue_once) {
  auto fill = [&](queue_pair& qp, int count, bool chain) {
    for (int k = 0; k < count; ++k) new_obj(store, 1, 5, 1000 + k, qp, diag);
    if (chain) chain_queues(store, qp, diag);
  };
  fill(store.qa, 250, true);
  fill(store.qb, 250, true);
  fill(store.qa, 200, false);
  fill(store.qb, 200, false);
  ASSERT_EQ(testing::slots_in_use(), n_slots);

  new_obj(store, 20, 30, 99.0, store.qb, diag);
  EXPECT_EQ(err_text(), "queues emptied by force !");
  EXPECT_EQ(testing::slots_in_use(), 1);
  EXPECT_TRUE(wait_queue(store.qa).empty());
  EXPECT_TRUE(wait_queue(store.qb).empty());
  EXPECT_TRUE(assign_queue(store.qa).empty());
  const auto left = assign_queue(store.qb);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0]->y_first, 99.0);
  EXPECT_EQ(left[0]->pix_min, 20);
}

TEST_F(slots, releasing_a_pointer_that_is_no_slot_ends_the_run) {
  drop_rec stranger;
  drop_rec* past_end = &store.slots[0] + n_slots;
  EXPECT_QUITS(w_free(store, &stranger, diag), exit_status::failure);
  EXPECT_QUITS(w_free(store, past_end, diag), exit_status::failure);
  char expected[200];
  std::snprintf(expected, sizeof expected,
                "** w_free: Illegal input adress %p!\n** w_free: Illegal input adress %p!\n",
                static_cast<void*>(&stranger), static_cast<void*>(past_end));
  EXPECT_EQ(err_text(), expected);
}

class chaining : public recon_test {};

TEST_F(chaining, assign_objects_go_in_front_of_the_waiting_ones_in_their_order) {
  for (int y : {1, 2}) new_obj(store, 1, 5, y, store.qa, diag);
  chain_queues(store, store.qa, diag);
  for (int y : {3, 4}) new_obj(store, 1, 5, y, store.qa, diag);
  chain_queues(store, store.qa, diag);

  const auto waiting = wait_queue(store.qa);
  ASSERT_EQ(waiting.size(), 4u);
  for (std::size_t k = 0; k < waiting.size(); ++k) {
    EXPECT_EQ(waiting[k]->y_first, 4.0 - static_cast<f64>(k));
    EXPECT_EQ(waiting[k]->status, 'V');
  }
  EXPECT_TRUE(assign_queue(store.qa).empty());
  EXPECT_TRUE(wait_queue(store.qb).empty());

  new_obj(store, 1, 5, 1, store.qb, diag);
  chain_queues(store, store.qb, diag);
  EXPECT_EQ(store.qb.wait_first->status, 'W');
}

TEST_F(chaining, an_empty_assign_queue_changes_nothing_and_says_nothing) {
  new_obj(store, 1, 5, 1, store.qa, diag);
  chain_queues(store, store.qa, diag);
  const queue_pair before = store.qa;
  diag.obj_trace_flag = 1;
  EXPECT_EQ(captured([&] { chain_queues(store, store.qa, diag); }), "");
  EXPECT_EQ(store.qa.wait_first, before.wait_first);
  EXPECT_EQ(store.qa.wait_last, before.wait_last);
  EXPECT_EQ(store.qa.assign_first, nullptr);
}

TEST_F(chaining, the_trace_shows_the_slot_map_after_its_line) {
  new_obj(store, 1, 5, 1, store.qa, diag);
  new_obj(store, 1, 5, 1, store.qb, diag);
  new_obj(store, 1, 5, 2, store.qa, diag);
  diag.obj_trace_flag = 1;
  std::string map(n_slots, '.');
  map.replace(0, 3, "V2V");
  EXPECT_EQ(captured([&] { chain_queues(store, store.qa, diag); }), "** chain_queues: " + map + "\n");
}

TEST_F(chaining, a_complete_object_keeps_exactly_its_pieces_in_line_order) {
  testing::take_block(testing::block{}.line(7, {{10, 12}}).line(8, {{11, 15}}).line(9, {{9, 13}}),
                      store.qa);
  const auto waiting = wait_queue(store.qa);
  ASSERT_EQ(waiting.size(), 1u);
  const drop_rec* obj = waiting[0];
  ASSERT_EQ(obj->line_no, 3);
  const piece expected[] = {{10, 12}, {11, 15}, {9, 13}};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(obj->pieces[k].first, expected[k].first);
    EXPECT_EQ(obj->pieces[k].last, expected[k].last);
  }
}

TEST_F(chaining, objects_starting_before_the_oldest_are_reported_with_whole_line_counts) {
  new_obj(store, 1, 5, 100.7, store.qa, diag);
  new_obj(store, 1, 5, 50.9, store.qa, diag);
  new_obj(store, 1, 5, 4294967296.0 + 5.0, store.qa, diag);
  new_obj(store, 1, 5, 100.7, store.qa, diag);
  chain_queues(store, store.qa, diag);
  EXPECT_EQ(err_text(),
            "Assign-queue 1 -> Chronology - Error 50 100\n"
            "Wait-queue V -> Chronology - Error 50 100\n");
  EXPECT_EQ(wait_queue(store.qa).size(), 4u) << "the check only reports";
}

// The chronology reports are skipped for queues known to be in order: after any history of
// blocks (mostly in order, now and then out of order or with a first line that is not a
// number) and of objects leaving the Wait-queue, each says what a walk of its whole queue
// says.
TEST_F(chaining, each_queues_report_is_what_a_walk_of_the_whole_queue_reports) {
  std::mt19937 rng(7);
  const auto lines_of = [](const std::string& text, const char* queue) {
    std::istringstream in(text);
    std::string line, kept;
    while (std::getline(in, line))
      if (line.starts_with(queue)) kept += line + "\n";
    return kept;
  };
  int reported = 0, assign_reported = 0, known_in_order = 0;
  for (int block = 0; block < 2000; ++block) {
    const int made = static_cast<int>(rng() % 4);
    const bool disordered = rng() % 6 == 0;
    for (int k = 0; k < made; ++k) {
      f64 y = 10.0 * block + k;
      if (disordered) y = 10.0 * block - static_cast<f64>(rng() % 25);
      if (rng() % 40 == 0) y = std::nan("");
      new_obj(store, 1, 5, y, store.qa, diag);
    }
    const std::size_t assign_walked = err_text().size();
    queue_chron(diag, "Assign-queue", '1', store.qa.assign_last);
    const std::string assign_walk = err_text().substr(assign_walked);
    const std::size_t before = err_text().size();
    chain_queues(store, store.qa, diag);
    EXPECT_EQ(lines_of(err_text().substr(before), "Assign-queue"), assign_walk) << "block " << block;
    if (!assign_walk.empty()) ++assign_reported;
    const std::string said = lines_of(err_text().substr(before), "Wait-queue");
    const std::size_t walked = err_text().size();
    queue_chron(diag, "Wait-queue", 'V', store.qa.wait_last);
    // A block that made no object chains nothing and says nothing.
    const std::string walk = made > 0 ? err_text().substr(walked) : "";
    ASSERT_EQ(said, walk) << "after block " << block;
    if (!walk.empty()) ++reported;
    if (store.qa.wait_in_order && wait_queue(store.qa).size() > 2) ++known_in_order;
    // Objects leave anywhere in the queue, the oldest most often; now and then all of them.
    const bool all = rng() % 10 == 0;
    if (store.qa.wait_last && rng() % 2 == 0) unlink_wait(store, store.qa.wait_last, store.qa, diag);
    for (drop_rec* p : wait_queue(store.qa))
      if (all || rng() % 5 == 0) unlink_wait(store, p, store.qa, diag);
  }
  EXPECT_GT(reported, 50) << "the history should bring waiting objects out of order";
  EXPECT_GT(assign_reported, 50) << "the history should bring blocks out of order";
  EXPECT_GT(known_in_order, 200) << "the history should keep the queue in order for long";
}

TEST_F(chaining, the_chronology_check_prints_line_counts_beyond_32_bits) {
  drop_rec oldest, newer;
  oldest.y_first = 5e9;
  newer.y_first = -3.0;
  oldest.prev = &newer;
  queue_chron(diag, "Wait-queue", 'W', &oldest);
  queue_chron(diag, "Wait-queue", 'W', nullptr);
  EXPECT_EQ(err_text(), "Wait-queue W -> Chronology - Error 0 5000000000\n");
}

}  // namespace
}  // namespace dropix
