// The object store (900 slots) and the two cameras' queue pairs.
#pragma once

#include "common/dropix.h"

namespace dropix {

void init_queues(queue_pair& a, queue_pair& b);  // tags '1'/'V' and '2'/'W'

// Takes a free slot (next-fit from slot_cursor) with a fresh array of MAXLIN pieces; null
// when the store is full or memory is exhausted.
drop_rec* w_alloc();

// Releases a slot and its pieces; a pointer that is no slot ends the run.
void w_free(drop_rec* obj);

// Creates an object from its first piece at the newest end of the pair's Assign-queue;
// empties all queues ("queues emptied by force !") when no slot can be had.
void new_obj(s16 first, s16 last, f64 y, queue_pair& qp);

void unlink_assign(drop_rec* obj, queue_pair& qp);  // out of the Assign-queue and released
void unlink_wait(drop_rec* obj, queue_pair& qp);    // out of the Wait-queue and released

// Cuts the piece array to line_no pieces.
void shrink(drop_rec* obj);

// Moves the pair's whole Assign-queue, in its order, in front of its Wait-queue.
void chain_queues(queue_pair& qp);

// The slot map on the object trace: '.' for a free slot, else its status character.
void show_slots();

}  // namespace dropix
