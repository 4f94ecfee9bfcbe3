#include "reconstruct/store.h"

#include <bit>
#include <cstdint>
#include <cstdio>

#include "reconstruct/assign.h"

namespace dropix {

namespace {

constexpr int busy_words = (n_slots + 63) / 64;

// The first free slot at or after `from` and before `to` (to <= n_slots), or -1.
int free_slot_in(const store_state& store, int from, int to) {
  for (int w = from / 64; w * 64 < to; ++w) {
    u64 free = ~store.busy[w];
    if (w == from / 64) free &= ~u64{0} << (from % 64);
    if (free == 0) continue;
    const int i = w * 64 + std::countr_zero(free);
    return i < to ? i : -1;
  }
  return -1;
}

// Takes `obj` out of the doubly linked queue with the ends `first` (newest) and `last`.
void unlink(drop_rec* obj, drop_rec*& first, drop_rec*& last) {
  if (obj->next) obj->next->prev = obj->prev;
  if (obj->prev) obj->prev->next = obj->next;
  if (first == obj) first = obj->next;
  if (last == obj) last = obj->prev;
}

// Releases every object of a queue, front first.
void empty_queue(store_state& store, drop_rec*& first, drop_rec*& last, diagnostics& d) {
  while (drop_rec* obj = first) {
    first = obj->next;
    if (first) first->prev = nullptr;
    w_free(store, obj, d);
  }
  last = nullptr;
}

bool all_queues_empty(const store_state& store) {
  return !store.qa.wait_first && !store.qb.wait_first && !store.qa.assign_first &&
         !store.qb.assign_first;
}

// Makes room for a new object by giving up every object of both cameras. The objects lost
// this way are never matched.
void empty_all_queues(store_state& store, diagnostics& d) {
  err_printf(d, "queues emptied by force !");
  ++store.forced_emptyings;
  empty_queue(store, store.qa.wait_first, store.qa.wait_last, d);
  empty_queue(store, store.qb.wait_first, store.qb.wait_last, d);
  empty_queue(store, store.qa.assign_first, store.qa.assign_last, d);
  empty_queue(store, store.qb.assign_first, store.qb.assign_last, d);
}

// A slot for a new object, emptying the queues when none is left. With nothing left to give
// up (every slot taken outside the queues), no later block can cure it.
drop_rec* take_slot(store_state& store, diagnostics& d) {
  drop_rec* obj = w_alloc(store, d);
  while (!obj) {
    if (all_queues_empty(store)) fail(d, "*** new_obj: no memory for the pieces of an object !\n");
    empty_all_queues(store, d);
    obj = w_alloc(store, d);
  }
  return obj;
}

bool is_slot(const store_state& store, const drop_rec* obj) {
  const auto base = reinterpret_cast<std::uintptr_t>(&store.slots[0]);
  const auto at = reinterpret_cast<std::uintptr_t>(obj);
  return at >= base && at - base < sizeof store.slots && (at - base) % sizeof(drop_rec) == 0;
}

}  // namespace

void init_queues(queue_pair& a, queue_pair& b) {
  a.assign_tag = '1';
  a.wait_tag = 'V';
  b.assign_tag = '2';
  b.wait_tag = 'W';
}

drop_rec* w_alloc(store_state& store, diagnostics& d) {
  const int cursor = store.slot_cursor;
  int i = cursor;  // most often free: objects leave the store in about the order they came
  if ((store.busy[i / 64] >> (i % 64)) & 1u) {
    i = free_slot_in(store, cursor, n_slots);
    if (i < 0) i = free_slot_in(store, 0, cursor);
  }
  if (i < 0) {
    hprintf2(d, "** w_alloc: Out of space\n");
    return nullptr;
  }
  store.busy[i / 64] |= u64{1} << (i % 64);
  store.slot_cursor = static_cast<s16>((i + 1) % n_slots);
  drop_rec& slot = store.slots[i];
  // Every taken slot holds a room, so a free slot always finds one.
  const u16 room = store.free_rooms[static_cast<std::size_t>(--store.n_free_rooms)];
  slot.pieces = &store.rooms[std::size_t{room} * MAXLIN];
  slot.status = 1;
  slot.next = nullptr;
  slot.prev = nullptr;
  return &slot;
}

void w_free(store_state& store, drop_rec* obj, diagnostics& d) {
  if (!is_slot(store, obj)) fail(d, "** w_free: Illegal input adress %p!\n", static_cast<void*>(obj));
  const auto i = static_cast<std::size_t>(obj - store.slots);
  if (!((store.busy[i / 64] >> (i % 64)) & 1u)) return;  // free already: nothing to give back
  store.busy[i / 64] &= ~(u64{1} << (i % 64));
  const auto room = static_cast<std::size_t>(obj->pieces - store.rooms.get()) / MAXLIN;
  store.free_rooms[static_cast<std::size_t>(store.n_free_rooms++)] = static_cast<u16>(room);
  obj->status = 0;
  obj->next = nullptr;
  obj->prev = nullptr;
  obj->pieces = nullptr;
}

void new_obj(store_state& store, s16 first, s16 last, f64 y, queue_pair& qp, diagnostics& d) {
  drop_rec* obj = take_slot(store, d);
  obj->status = qp.assign_tag;
  obj->pix_min = first;
  obj->pix_max = last;
  obj->max_wid = 0;
  obj->line_no = 1;
  obj->y_last = y;
  obj->y_first = y;
  obj->overflow = 0;
  obj->pieces[0] = {first, last};

  obj->next = qp.assign_first;
  obj->prev = nullptr;
  if (qp.assign_first)
    qp.assign_first->prev = obj;
  else
    qp.assign_last = obj;
  qp.assign_first = obj;
}

void unlink_assign(store_state& store, drop_rec* obj, queue_pair& qp, diagnostics& d) {
  unlink(obj, qp.assign_first, qp.assign_last);
  w_free(store, obj, d);
}

void unlink_wait(store_state& store, drop_rec* obj, queue_pair& qp, diagnostics& d) {
  unlink(obj, qp.wait_first, qp.wait_last);
  w_free(store, obj, d);
}

void chain_queues(const store_state& store, queue_pair& qp, diagnostics& d) {
  if (!qp.assign_first) return;
  // One walk of the block's objects, newest to oldest: each takes the Wait-queue's tag, and
  // whether they are in order is learnt (no object's first line below the one before, from
  // the oldest on). A queue in order has no object starting before its oldest: nothing to
  // report.
  bool assign_in_order = true;
  for (drop_rec* p = qp.assign_first; p; p = p->next) {
    p->status = qp.wait_tag;
    if (p->next && !(p->y_first >= p->next->y_first)) assign_in_order = false;
  }
  if (!assign_in_order) queue_chron(d, "Assign-queue", qp.assign_tag, qp.assign_last);

  drop_rec* const old_front = qp.wait_first;
  // The Wait-queue stays in order when the Assign-queue is and starts no lower than the
  // Wait-queue's newest object.
  qp.wait_in_order = assign_in_order &&
                     (!old_front || (qp.wait_in_order && qp.assign_last->y_first >= old_front->y_first));
  qp.assign_first->prev = nullptr;
  qp.assign_last->next = old_front;
  if (old_front)
    old_front->prev = qp.assign_last;
  else
    qp.wait_last = qp.assign_last;
  qp.wait_first = qp.assign_first;
  qp.assign_first = nullptr;
  qp.assign_last = nullptr;

  hprintf2(d, "** chain_queues: ");
  show_slots(store, d);
  if (!qp.wait_in_order) queue_chron(d, "Wait-queue", qp.wait_tag, qp.wait_last);
}

void show_slots(const store_state& store, diagnostics& d) {
  if (d.obj_trace_flag != 1 || !d.out) return;
  char map[n_slots + 1];
  for (int i = 0; i < n_slots; ++i) {
    const s16 status = store.slots[i].status;
    map[i] = status == 0 ? '.' : static_cast<char>(status & 0xFF);
  }
  map[n_slots] = '\n';
  d.out->write(std::string_view(map, sizeof map));
}

}  // namespace dropix
