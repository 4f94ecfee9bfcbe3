// Camera A/B matching: each camera A object with the camera B object of the same drop.
#pragma once

#include "common/diag.h"
#include "common/records.h"
#include "reconstruct/store.h"

namespace dropix {

// A drop reaches camera B's scan lines no earlier than camera A's and at most this many
// lines later; a camera A object is decided only when camera A's lines are this far past it.
constexpr f64 window_lines = 1200.0;
constexpr u64 horizon_lines = 1200;

// Where matching hands its pairs: the session packs each pair into a record and gives it to
// the writer. The objects are released right after the call.
struct pair_sink {
  virtual ~pair_sink() = default;
  virtual void pair(const drop_rec* drop_a, const drop_rec* drop_b) = 0;
};

// Pairs the objects of both Wait-queues, hands each pair in time order to `sink` and
// releases matched and hopeless objects; increments *total per accepted pair. Camera A
// objects starting after horizon_base - 1200 are left for a later call.
void find_m(store_state& store, u64 horizon_base, s32* total, pair_sink& sink, diagnostics& d);

// Nonzero when the two objects may be the same drop.
int match_test(const drop_rec* a, const drop_rec* b, diagnostics& d);

// 1 when the pair keeps the output in time order (and notes its line in last_match_y),
// else 0 with a 'C' on the error stream.
int match_chron(f64& last_match_y, const drop_rec* a, diagnostics& d);

}  // namespace dropix
