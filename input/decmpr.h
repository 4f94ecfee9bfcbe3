// Line-block decompression: a camera line block body into decoded scan lines (dec.line_buf).
#pragma once

#include "common/dropix.h"
#include "input/raw_reader.h"

namespace dropix {

// Decodes the line block body at `body` into dec.line_buf. Stores the block's line count in
// *n_lin_out (0 when the block is refused at once) and returns 1 when the block decoded,
// 0 when it failed (with a message on the error stream). Never reads outside the body or the
// frame buffer; hands on at most line_buf_max lines.
s16 decmpr(raw_cursor& body, s16* n_lin_out);

// The bit reader over the current frame (dec.frame): n = 0 resets it to the start of the
// frame's bit stream; otherwise reads a field of n bits (1..15) into its value (low n-1 bits)
// and flag (bit n-1). Returns false when the field's bits lie beyond the frame.
bool get_bits(u16* value, int n, u16* flag);

}  // namespace dropix
