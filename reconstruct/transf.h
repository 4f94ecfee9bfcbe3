// Drop record packing: a matched pair into its 30-byte head and bit-packed data words.
#pragma once

#include "common/dropix.h"

namespace dropix {

// Builds the record of the pair: `head` receives the 30-byte record head, `data` the data
// words (room for max_packed_values words). Returns 1 when built, 0 when the record would
// reach 2048 bytes (nothing is to be written then).
s16 transf_1(const drop_rec* drop_a, const drop_rec* drop_b, u16* data, u8* head);

}  // namespace dropix
