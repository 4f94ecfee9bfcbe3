// Line-block decompression: a camera line block body into decoded scan lines (dec.line_buf).
#pragma once

#include "common/dropix.h"
#include "input/raw_reader.h"

namespace dropix {

// Decodes the line block body at `body` into dec.line_buf. Returns 1 when the block decoded:
// *n_lin_out is then the number of lines decoded into line_buf (the block's n_lin, or fewer
// when more codes than n_lin or than line_buf_max lines stopped it). Returns 0 when the block
// is refused, with a message on the error stream; *n_lin_out is then 0 if the line count
// itself was unreadable or not positive, else the block's n_lin. Never reads outside the
// body or the frame's frame_len bytes and allocates nothing.
s16 decmpr(raw_cursor& body, s16* n_lin_out);

// The bit reader over the current frame (dec.frame): n = 0 resets it to the start of the
// frame's bit stream; otherwise reads a field of n bits (1..15) into its value (low n-1 bits)
// and flag (bit n-1). Returns false when the field's bits lie beyond the frame.
bool get_bits(u16* value, int n, u16* flag);

}  // namespace dropix
