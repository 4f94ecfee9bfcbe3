// Camera A/B matching: each camera A object with the camera B object of the same drop.
#pragma once

#include "common/dropix.h"

namespace dropix {

// Pairs the objects of both Wait-queues, hands each pair in time order to the record writer
// and releases matched and hopeless objects; increments *total per accepted pair.
void find_m(s32* total);

// Nonzero when the two objects may be the same drop.
int match_test(const drop_rec* a, const drop_rec* b);

// 1 when the pair keeps the output in time order (and notes its line), else 0 with a 'C'.
int match_chron(const drop_rec* a);

}  // namespace dropix
