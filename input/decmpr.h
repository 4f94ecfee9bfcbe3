// Line-block decompression: a camera line block body into decoded scan lines.
#pragma once

#include "common/diag.h"
#include "common/records.h"
#include "platform/raw_reader.h"

namespace dropix {

// The decoder's state: the decoded lines of the block, the length of the frame being decoded
// and the bit reader's state over it (as get_bits leaves it; decmpr reads the frame where it
// lies in the raw reader's window, get_bits reads `frame`).
struct decode_state {
  line_blk_rec line_blk;       // the decoded block, handed to piece assembly and line timing
  u8 frame[frame_buf_size] = {};  // the frame get_bits reads
  std::size_t frame_len = 0;   // bytes of the current frame (head included)
  line_entry remembered;       // last shaded line, for repetitions
  u32 W = 0;                   // bit window
  int P = 32;                  // bit position in W
  std::size_t T = 12;          // frame bytes taken
};

// Decodes the line block body at `body` into dec.line_blk. Returns 1 when the block decoded:
// *n_lin_out and line_blk.n_lin are then the number of lines decoded (the block's n_lin, or
// fewer when more codes than n_lin or than line_buf_max lines stopped it). Returns 0 when the block
// is refused, with a message on the error stream; *n_lin_out is then 0 if the line count
// itself was unreadable or not positive, else the block's n_lin. Nothing outside the body
// or the frame's frame_len bytes reaches the lines (fields are loaded 8 bytes at a time,
// up to the window's slack past the frame, and masked), and it allocates nothing.
s16 decmpr(decode_state& dec, raw_cursor& body, s16* n_lin_out, diagnostics& d);

// The bit reader over the current frame (dec.frame): n = 0 resets it to the start of the
// frame's bit stream; otherwise reads a field of n bits (1..15) into its value (low n-1 bits)
// and flag (bit n-1). Returns false when the field's bits lie beyond the frame.
bool get_bits(decode_state& dec, u16* value, int n, u16* flag);

}  // namespace dropix
