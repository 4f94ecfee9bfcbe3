// The object store (900 slots) and the two cameras' queue pairs.
#pragma once

#include <array>
#include <memory>

#include "common/diag.h"
#include "common/records.h"

namespace dropix {

// Room numbers n_slots - 1 down to 0: the stack of free rooms with room 0 on top.
constexpr std::array<u16, n_slots> all_rooms_free() {
  std::array<u16, n_slots> rooms{};
  for (int i = 0; i < n_slots; ++i) rooms[static_cast<std::size_t>(i)] = static_cast<u16>(n_slots - 1 - i);
  return rooms;
}

// The object store and the queues of both cameras. There are as many rooms for MAXLIN pieces
// as slots, taken once with the store: making, growing and releasing objects allocates
// nothing. A slot borrows a room while it is taken; the room given back last is lent first,
// so a run touches only as many rooms as it ever holds objects at once (a page-in of all
// 2.1 MB otherwise), and the room lent is most often still in the cache.
struct store_state {
  drop_rec slots[n_slots];
  std::unique_ptr<piece[]> rooms = std::make_unique_for_overwrite<piece[]>(std::size_t{n_slots} * MAXLIN);
  std::array<u16, n_slots> free_rooms = all_rooms_free();  // a stack, its top at the end
  s16 n_free_rooms = n_slots;
  u64 busy[(n_slots + 63) / 64] = {};  // bit i set: slot i is taken
  s16 slot_cursor = 0;     // where the next slot search begins
  queue_pair qa;           // camera A ('1' / 'V')
  queue_pair qb;           // camera B ('2' / 'W')
  f64 last_match_y = 0;    // camera A y_first of the last pair written
  u32 forced_emptyings = 0;  // times new_obj emptied every queue to get a slot
};

void init_queues(queue_pair& a, queue_pair& b);  // tags '1'/'V' and '2'/'W'

// Takes a free slot (next-fit from slot_cursor: the first free slot at or after it, round
// the end) and lends it a room of MAXLIN pieces; null when the store is full.
drop_rec* w_alloc(store_state& store, diagnostics& d);

// Releases a slot and takes its room back; a pointer that is no slot ends the run.
void w_free(store_state& store, drop_rec* obj, diagnostics& d);

// Creates an object from its first piece at the newest end of the pair's Assign-queue;
// empties all queues ("queues emptied by force !") when no slot can be had.
void new_obj(store_state& store, s16 first, s16 last, f64 y, queue_pair& qp, diagnostics& d);

// Out of the Assign-queue (Wait-queue) and released.
void unlink_assign(store_state& store, drop_rec* obj, queue_pair& qp, diagnostics& d);
void unlink_wait(store_state& store, drop_rec* obj, queue_pair& qp, diagnostics& d);

// Moves the pair's whole Assign-queue, in its order, in front of its Wait-queue.
void chain_queues(const store_state& store, queue_pair& qp, diagnostics& d);

// The slot map on the object trace: '.' for a free slot, else its status character.
void show_slots(const store_state& store, diagnostics& d);

}  // namespace dropix
