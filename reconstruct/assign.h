// Piece assembly: the shaded runs of a decoded line block into objects.
#pragma once

#include "common/diag.h"
#include "common/records.h"
#include "reconstruct/store.h"

namespace dropix {

// Builds objects from the lines of `blk` in the pair's Assign-queue and removes those that
// overflowed, are one pixel wide or cover a single scan line.
void assign_pieces(store_state& store, const line_blk_rec& blk, queue_pair& qp, diagnostics& d);

// Reports objects whose first line lies before that of the queue's oldest object.
void queue_chron(diagnostics& d, const char* name, char tag, const drop_rec* oldest);

}  // namespace dropix
