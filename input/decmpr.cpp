#include "input/decmpr.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace dropix {

// A line block body is the s16 line count n_lin followed by frames. A frame is a u32 head
// word (bits 0-13 frame_len, 14-23 x_base, 24-27 dark_bits, 28-31 light_bits), the f64 line
// count of its first scan line and a bit stream of 16-bit little-endian words. Every field
// keeps its value in the low n-1 bits and a flag in the top bit. A line code starts with a
// light field: flag 1 with value 0 ends the frame, flag 1 with a value repeats the last
// shaded line that many times, flag 0 starts a shaded line whose runs are light/dark field
// pairs (a dark field with flag 1 closes the line).

namespace {

constexpr std::size_t frame_head_size = 12;  // head word and first line count

// Line counts below this in magnitude still grow by adding 1.0 a block's worth of times.
constexpr f64 growth_exact_below = 4503599627370496.0;  // 2^52

// Reads the word of the frame at byte offset t; bytes at or beyond frame_len read as zero,
// so the reader's look-ahead never takes stale or foreign memory.
inline u32 frame_word(const decode_state& dec, std::size_t t) {
  if (t + 2 <= dec.frame_len) return get_u16(dec.frame + t);
  return t < dec.frame_len ? dec.frame[t] : 0u;
}

// Eight bytes from p, little-endian.
inline u64 load_le64(const u8* p) {
  if constexpr (std::endian::native == std::endian::little) {
    u64 v;
    std::memcpy(&v, p, sizeof v);
    return v;
  } else {
    return get_u64(p);
  }
}

// The bit reader of the code loop: the stream as one run of bits, least significant bit of
// each byte first (the 16-bit little-endian words of get_bits read the same way), taken at
// bit offset q from the frame's first byte (the stream starts at bit 96, after the head). A
// field is taken only when it ends within the frame's frame_len bytes, as get_bits takes
// it. Each field is one unaligned 8-byte load where the stream lies in the raw reader's
// window; the bytes it loads beyond the frame (the window's slack at most) are masked off.
struct fast_bits {
  const u8* stream;   // frame byte 12
  std::size_t q;      // bit offset of the next field
  std::size_t limit;  // 8 * frame_len
  int last_n = 0;     // width of the field asked for last
  bool refused = false;  // that field lay beyond the frame

  bool take(int n, u32& value, u32& flag) {
    last_n = n;
    if (q + static_cast<std::size_t>(n) > limit) {
      refused = true;
      return false;
    }
    const u64 w = load_le64(stream + ((q >> 3) - frame_head_size)) >> (q & 7u);
    value = static_cast<u32>(w) & ((1u << (n - 1)) - 1u);
    flag = static_cast<u32>(w >> (n - 1)) & 1u;
    q += static_cast<std::size_t>(n);
    return true;
  }
};

// The word of the frame at byte offset t (t >= 12) as get_bits takes it: bytes at or beyond
// frame_len read as zero.
inline u32 stream_word(const u8* stream, std::size_t frame_len, std::size_t t) {
  if (t + 2 <= frame_len) return get_u16(stream + (t - frame_head_size));
  return t < frame_len ? stream[t - frame_head_size] : 0u;
}

enum class step { go_on, used, refused };  // go on, end with result 1, end with result 0

// What a block's decoding has reached, and what it works on.
struct block_pos {
  decode_state& dec;
  diagnostics& d;
  s16 n_lin = 0;
  int i = 0;       // next entry of line_buf
  int rem = -1;    // entry of this block that dec.remembered stands for, once there is one
  f64 y = 0;       // running line count
  s16 x_base = 0;
  int light_bits = 0;
  int dark_bits = 0;
  const u8* stream = nullptr;  // the current frame's bit stream (frame byte 12 on), in the window
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

// Reads a frame head and finds the frame's bit stream in the body's window (b.stream), and
// resets the bit reader.
bool read_frame(raw_cursor& body, block_pos& b) {
  decode_state& dec = b.dec;
  raw_read_result r = raw_read_result::ok;
  const u8* head = raw_take(body, frame_head_size, &r);
  u8 copied[frame_head_size];
  if (!head) {
    // Say which part of the head is missing, as two reads do.
    if (!read_body(body, copied, 4, "decmpr02", b.d)) return false;
    if (!read_body(body, copied + 4, 8, "decmpr03", b.d)) return false;
    head = copied;
  }
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
  b.stream = raw_take(body, frame_len - frame_head_size, &r);
  if (!b.stream) {
    report_errno(b.d, "decmpr04");
    return false;
  }
  dec.frame_len = frame_len;
  dec.W = 0;
  dec.P = 32;
  dec.T = frame_head_size;
  return true;
}

// The code loop's registers: a block's decoding state held in locals while a frame is
// decoded, and put back into the block position when it stops.
struct loop_state {
  int i;
  int rem;
  f64 y;
  void put_back(block_pos& b) const {
    b.i = i;
    b.rem = rem;
    b.y = y;
  }
};

// The remembered line: while a block is decoded the entry of its last shaded line (the
// entry is never written again in the block), dec.remembered before the block's first one.
const line_entry& remembered(const block_pos& b, int rem) {
  return rem >= 0 ? b.dec.line_blk.line[rem] : b.dec.remembered;
}

// The frame bytes get_bits has taken (its T) when it reads the field at bit q: it takes the
// first field of a frame (bit 96) standing at T = 14 with P = 16; for every later field it
// first takes words until P < 16, so that T = 4 + 2 * (q / 16).
std::size_t taken_bytes(std::size_t q) { return q == 8 * frame_head_size ? frame_head_size + 2 : 4 + 2 * (q / 16); }

// Leaves W, P and T as get_bits would have left them after the field asked for last.
void settle_reader(decode_state& dec, const fast_bits& bits) {
  const std::size_t q = bits.refused ? bits.q : bits.q - static_cast<std::size_t>(bits.last_n);
  const std::size_t t = taken_bytes(q);
  dec.T = t;
  dec.P = static_cast<int>(q - 8 * (t - 4)) + (bits.refused ? 0 : bits.last_n);
  const u8* st = bits.stream;
  const std::size_t len = dec.frame_len;
  dec.W = t == frame_head_size + 2 ? stream_word(st, len, frame_head_size) << 16
                                   : stream_word(st, len, t - 4) | (stream_word(st, len, t - 2) << 16);
}

// The code loop of one frame, up to its end mark. A light field with flag 1 and value 0 is
// the end mark; flag 1 with a value repeats the remembered line that many times; flag 0
// starts a shaded line, whose runs are light/dark field pairs (a dark field with flag 1
// closes the line). Entries are written as the codes come, so that a refused line leaves
// what it had: a cleared entry with its line count and the runs read so far.
step decode_frame(block_pos& b, fast_bits& bits) {
  line_entry* const lines = b.dec.line_blk.line;
  const int i_end = std::min<int>(line_buf_max, b.n_lin);
  const int light_bits = b.light_bits;
  const int dark_bits = b.dark_bits;
  const int x_base = b.x_base;
  loop_state s{b.i, b.rem, b.y};
  for (;;) {
    u32 light, flag;
    if (!bits.take(light_bits, light, flag)) {
      s.put_back(b);
      return past_frame(b);
    }
    if (flag == 1) {
      if (light == 0) {  // the end mark
        s.put_back(b);
        const std::size_t t = taken_bytes(bits.q - static_cast<std::size_t>(light_bits));
        if (t < b.dec.frame_len) {
          err_printf(b.d, "wrong end of frame: diff =%d y_count=%lf !!!\n",
                     static_cast<int>(t) - static_cast<int>(b.dec.frame_len), b.y);
          return step::refused;
        }
        return step::go_on;
      }
      if (s.i >= i_end) {
        s.put_back(b);
        err_printf(b.d, "decmpr: i=%d n_lin=%d \n", b.i, b.n_lin);
        return step::used;
      }
      if (s.i == 0) {
        lines[0] = line_entry{};
        lines[0].y_count = s.y;
        s.put_back(b);
        err_printf(b.d, "y_count=%lf\n", b.y);
        err_printf(b.d, "repet found : i=%d light=%d n_lin=%d \n", b.i, static_cast<int>(light), b.n_lin);
        err_printf(b.d, "error 02 \n");
        return step::refused;
      }
      const line_entry& source = remembered(b, s.rem);
      for (u32 k = 0; k < light; ++k) {
        if (s.i >= i_end) {
          s.put_back(b);
          err_printf(b.d, "i=%d k=%d light=%d n_lin=%d \n", b.i, static_cast<int>(k), static_cast<int>(light), b.n_lin);
          err_printf(b.d, "decmpr: i=%d \n", b.i);
          return step::used;
        }
        line_entry& e = lines[s.i];
        e = source;
        e.y_count = s.y;
        s.y += 1.0;
        ++s.i;
      }
      continue;
    }
    if (s.i >= i_end) {
      s.put_back(b);
      err_printf(b.d, "decmpr: i=%d n_lin=%d \n", b.i, b.n_lin);
      return step::used;
    }
    // A shaded line. Pixel columns are 16-bit signed, as the logger computes them.
    line_entry& e = lines[s.i];
    e = line_entry{};
    e.y_count = s.y;
    u32 d;
    e.seg[0][0] = static_cast<s16>(x_base + static_cast<int>(light));
    if (!bits.take(dark_bits, d, flag)) {
      s.put_back(b);
      return past_frame(b);
    }
    e.seg[0][1] = static_cast<s16>(e.seg[0][0] + static_cast<int>(d));
    int j = 0;
    while (flag == 0) {
      ++j;
      if (j >= max_runs) {
        s.put_back(b);
        err_printf(b.d, "j=%d\n", j);
        return step::refused;
      }
      u32 l;
      if (!bits.take(light_bits, l, flag)) {
        s.put_back(b);
        return past_frame(b);
      }
      if (flag == 1) {
        s.put_back(b);
        err_printf(b.d, "y_count=%lf\n", b.y);
        err_printf(b.d, " %3d-%3d\n", e.seg[j - 1][0], e.seg[j - 1][1]);
        err_printf(b.d, "err.01: n_lin=%d i=%d j=%d \n", b.n_lin, b.i, j);
        return step::refused;
      }
      e.seg[j][0] = static_cast<s16>(e.seg[j - 1][1] + static_cast<int>(l));
      if (!bits.take(dark_bits, d, flag)) {
        s.put_back(b);
        return past_frame(b);
      }
      e.seg[j][1] = static_cast<s16>(e.seg[j][0] + static_cast<int>(d));
    }
    e.n_seg = static_cast<s16>(j + 1);
    s.rem = s.i;
    s.y += 1.0;
    ++s.i;
  }
}

// One frame's code loop, the bit reader's state left as get_bits would leave it.
step decode_frame(block_pos& b) {
  fast_bits bits{b.stream, 8 * frame_head_size, 8 * b.dec.frame_len};
  const step s = decode_frame(b, bits);
  settle_reader(b.dec, bits);
  return s;
}

}  // namespace

bool get_bits(decode_state& d, u16* value, int n, u16* flag) {
  if (n == 0) {
    d.W = 0;
    d.P = 32;
    d.T = frame_head_size;
    return true;
  }
  if (d.P >= 16) {
    d.W = (frame_word(d, d.T) << 16) | (d.W >> 16);
    d.T += 2;
    d.P -= 16;
  }
  // Bit P of the window lies 4 bytes before T (the window holds the two words taken last):
  // the field must end within the frame's frame_len bytes.
  if (8 * d.T + static_cast<std::size_t>(d.P + n) > 8 * d.frame_len + 32) {
    *value = 0;
    *flag = 0;
    return false;
  }
  const u32 field = d.W >> d.P;
  *value = static_cast<u16>(field & ((1u << (n - 1)) - 1u));
  *flag = static_cast<u16>((field >> (n - 1)) & 1u);
  d.P += n;
  return true;
}

s16 decmpr(decode_state& dec, raw_cursor& body, s16* n_lin_out, diagnostics& d) {
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
  const auto keep_remembered = [&] {
    if (b.rem >= 0) dec.remembered = dec.line_blk.line[b.rem];
  };
  // Within a frame the line counts step by exactly 1.0 from the frame's first one: below
  // 2^52 in magnitude each lies above the one before. Between frames they are compared.
  bool growing = true;
  while (b.i < b.n_lin) {
    if (!read_frame(body, b)) {
      keep_remembered();
      return 0;
    }
    if (!(std::fabs(b.y) < growth_exact_below) || (b.i > 0 && !(b.y > dec.line_blk.line[b.i - 1].y_count)))
      growing = false;
    const step s = decode_frame(b);
    if (s == step::refused) {
      keep_remembered();
      return 0;
    }
    if (s == step::used) break;
  }
  keep_remembered();
  // Only the lines decoded are handed on: fewer than n_lin when more codes than n_lin or
  // than line_buf holds stopped the block early.
  *n_lin_out = static_cast<s16>(b.i);
  dec.line_blk.n_lin = static_cast<s16>(b.i);
  dec.line_blk.growing = growing;
  return 1;
}

}  // namespace dropix
