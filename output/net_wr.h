// The hydrometeor record writer: drop records into a buffer, flushed to .hyd with the minute
// index of .hd and the resume file .abh.
#pragma once

#include "common/dropix.h"

namespace dropix {

// Builds the pair's record and buffers it; flushes first when a flush is due. With two null
// pointers only the flush rules run.
void net_wr(const drop_rec* drop_a, const drop_rec* drop_b);

// wr_force = 1, then net_wr without a pair.
void flush_request();

// The flush before an orderly end: like flush_request, but the minute index of .hd and the
// resume file are rewritten even when no record is buffered, so that finished files do not
// depend on when the timed flushes fell.
void final_flush();

// Enters a drop record's .hyd position for its minute (at line frequency line_fr) and for
// every minute since the last one entered, where no entry is set yet.
void enter_pos_pix(f64 y, f64 line_fr, u32 position);

}  // namespace dropix
