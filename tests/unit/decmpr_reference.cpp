#include "tests/unit/decmpr_reference.h"

// The decoder as it was written first, field by field through get_bits. Kept as the
// reference the code loop must match on every input: lines, result, bit reader state and
// messages.

namespace dropix::testing {

namespace {

constexpr std::size_t frame_head_size = 12;  // head word and first line count

enum class step { go_on, used, refused };  // go on, end with result 1, end with result 0

// What a block's decoding has reached, and what it works on.
struct block_pos {
  decode_state& dec;
  diagnostics& d;
  s16 n_lin = 0;
  int i = 0;       // next entry of line_buf
  f64 y = 0;       // running line count
  s16 x_base = 0;
  int light_bits = 0;
  int dark_bits = 0;
};

bool read_body(raw_cursor& body, void* dst, std::size_t n, const char* tag, diagnostics& d) {
  if (raw_read(body, dst, n) == raw_read_result::ok) return true;
  report_errno(d, tag);
  return false;
}

step past_frame(const block_pos& b) {
  err_printf(b.d, "decmpr: codes run past frame_len=%d without an end mark, y_count=%lf, block skipped \n",
             static_cast<int>(b.dec.frame_len), b.y);
  return step::refused;
}

// Reads a frame head and the frame's bit stream into dec.frame, and resets the bit reader.
bool read_frame(raw_cursor& body, block_pos& b) {
  decode_state& dec = b.dec;
  u8 head[frame_head_size];
  if (!read_body(body, head, 4, "decmpr02", b.d)) return false;
  if (!read_body(body, head + 4, 8, "decmpr03", b.d)) return false;
  const u32 word = get_u32(head);
  const std::size_t frame_len = word & 0x3FFFu;
  b.x_base = static_cast<s16>((word >> 14) & 0x3FFu);
  b.dark_bits = static_cast<int>((word >> 24) & 0xFu);
  b.light_bits = static_cast<int>(word >> 28);
  b.y = get_f64(head + 4);
  if (frame_len < frame_head_size) {
    err_printf(b.d, "decmpr: frame_len=%d is shorter than the frame head, block skipped \n",
               static_cast<int>(frame_len));
    return false;
  }
  if (b.light_bits == 0 || b.dark_bits == 0) {
    err_printf(b.d, "decmpr: light_bits=%d dark_bits=%d: a field of no bits, block skipped \n",
               b.light_bits, b.dark_bits);
    return false;
  }
  dec.frame_len = 0;  // until the whole frame is in, nothing of it may be decoded
  if (!read_body(body, dec.frame + frame_head_size, frame_len - frame_head_size, "decmpr04", b.d))
    return false;
  dec.frame_len = frame_len;
  u16 v, f;
  get_bits(dec, &v, 0, &f);
  return true;
}

// A repetition code: the remembered line again for the next `light` scan lines.
step repeat_line(block_pos& b, int light) {
  if (b.i == 0) {
    err_printf(b.d, "y_count=%lf\n", b.y);
    err_printf(b.d, "repet found : i=%d light=%d n_lin=%d \n", b.i, light, b.n_lin);
    err_printf(b.d, "error 02 \n");
    return step::refused;
  }
  for (int k = 0; k < light; ++k) {
    if (b.i >= line_buf_max || b.i >= b.n_lin) {
      err_printf(b.d, "i=%d k=%d light=%d n_lin=%d \n", b.i, k, light, b.n_lin);
      err_printf(b.d, "decmpr: i=%d \n", b.i);
      return step::used;
    }
    line_entry& e = b.dec.line_blk.line[b.i];
    e = b.dec.remembered;
    e.y_count = b.y;
    b.y += 1.0;
    ++b.i;
  }
  return step::go_on;
}

// A shaded line whose first light field (flag 0) has been read. Pixel columns are 16-bit
// signed, as the logger computes them.
step shaded_line(block_pos& b, int light) {
  decode_state& dec = b.dec;
  line_entry& e = dec.line_blk.line[b.i];
  u16 d, flag;
  e.seg[0][0] = static_cast<s16>(b.x_base + light);
  if (!get_bits(dec, &d, b.dark_bits, &flag)) return past_frame(b);
  e.seg[0][1] = static_cast<s16>(e.seg[0][0] + d);
  int j = 0;
  while (flag == 0) {
    ++j;
    if (j >= max_runs) {
      err_printf(b.d, "j=%d\n", j);
      return step::refused;
    }
    u16 l;
    if (!get_bits(dec, &l, b.light_bits, &flag)) return past_frame(b);
    if (flag == 1) {
      err_printf(b.d, "y_count=%lf\n", b.y);
      err_printf(b.d, " %3d-%3d\n", e.seg[j - 1][0], e.seg[j - 1][1]);
      err_printf(b.d, "err.01: n_lin=%d i=%d j=%d \n", b.n_lin, b.i, j);
      return step::refused;
    }
    e.seg[j][0] = static_cast<s16>(e.seg[j - 1][1] + l);
    if (!get_bits(dec, &d, b.dark_bits, &flag)) return past_frame(b);
    e.seg[j][1] = static_cast<s16>(e.seg[j][0] + d);
  }
  e.n_seg = static_cast<s16>(j + 1);
  dec.remembered = e;
  b.y += 1.0;
  ++b.i;
  return step::go_on;
}

// The code loop of one frame, up to its end mark.
step decode_frame(block_pos& b) {
  decode_state& dec = b.dec;
  for (;;) {
    u16 light, flag;
    if (!get_bits(dec, &light, b.light_bits, &flag)) return past_frame(b);
    if (flag == 1 && light == 0) {
      if (dec.T < dec.frame_len) {
        err_printf(b.d, "wrong end of frame: diff =%d y_count=%lf !!!\n",
                   static_cast<int>(dec.T) - static_cast<int>(dec.frame_len), b.y);
        return step::refused;
      }
      return step::go_on;
    }
    if (b.i >= line_buf_max || b.i >= b.n_lin) {
      err_printf(b.d, "decmpr: i=%d n_lin=%d \n", b.i, b.n_lin);
      return step::used;
    }
    line_entry& e = dec.line_blk.line[b.i];
    e = line_entry{};
    e.y_count = b.y;
    const step s = flag == 1 ? repeat_line(b, light) : shaded_line(b, light);
    if (s != step::go_on) return s;
  }
}

}  // namespace

s16 reference_decmpr(decode_state& dec, raw_cursor& body, s16* n_lin_out, diagnostics& d) {
  u8 count[2];
  if (!read_body(body, count, sizeof count, "decmpr01", d)) {
    *n_lin_out = 0;
    return 0;
  }
  block_pos b{dec, d};
  b.n_lin = get_s16(count);
  if (b.n_lin <= 0) {
    *n_lin_out = 0;
    err_printf(d, " decmpr failed, block skipped \n");
    return 0;
  }
  *n_lin_out = b.n_lin;
  hprintf(d, "decmpr: *n_lin=%d\n", b.n_lin);
  while (b.i < b.n_lin) {
    if (!read_frame(body, b)) return 0;
    const step s = decode_frame(b);
    if (s == step::refused) return 0;
    if (s == step::used) break;
  }
  // Only the lines decoded are handed on: fewer than n_lin when more codes than n_lin or
  // than line_buf holds stopped the block early.
  *n_lin_out = static_cast<s16>(b.i);
  dec.line_blk.n_lin = static_cast<s16>(b.i);
  return 1;
}

}  // namespace dropix::testing
