// Fuzz target of the line-block decoder: arbitrary bytes as a line block body.
//
// Property: the decoder reads nothing outside its body (AddressSanitizer on an exactly sized
// body) and nothing outside the current frame's frame_len bytes (a second decode over a frame
// buffer holding different stale bytes must come out the same), and on success it hands on
// at least one and at most min(n_lin, 2000) lines, every one decoded: 1..6 runs, absent run
// slots 0.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/diag.h"
#include "input/decmpr.h"
#include "platform/raw_reader.h"

namespace {

using namespace dropix;

struct outcome {
  s16 result;
  s16 n;
};

[[noreturn]] void violated(const char* what) {
  std::fprintf(stderr, "decmpr_fuzz: %s\n", what);
  std::abort();
}

// The decoder's state and a quiet error stream, kept between inputs as a long run keeps them.
decode_state& dec() {
  static auto* state = new decode_state;
  return *state;
}

diagnostics& quiet() {
  static diagnostics d{std::fopen("/dev/null", "w"), nullptr, 0, 0};
  return d;
}

outcome decode_over(const std::uint8_t* data, std::size_t size, u8 stale) {
  decode_state& st = dec();
  std::memset(st.frame, stale, sizeof st.frame);
  for (line_entry& e : st.line_blk.line) {
    e.y_count = stale;
    e.n_seg = stale;
    for (auto& run : e.seg) run[0] = run[1] = stale;
  }
  raw_window win;  // a fresh buffer of exactly `size` bytes
  raw_window_over(win, data, size);
  raw_cursor body{&win, 0, static_cast<s64>(size)};
  outcome o{};
  o.n = -1;
  o.result = decmpr(st, body, &o.n, quiet());
  return o;
}

bool same_line(const line_entry& a, const line_entry& b) {
  if (std::memcmp(&a.y_count, &b.y_count, sizeof a.y_count) != 0 || a.n_seg != b.n_seg) return false;
  for (int k = 0; k < max_runs; ++k)
    if (a.seg[k][0] != b.seg[k][0] || a.seg[k][1] != b.seg[k][1]) return false;
  return true;
}

void check_lines(const std::uint8_t* data, std::size_t size, const outcome& o) {
  if (o.result == 0) return;
  if (o.result != 1) violated("result neither 0 nor 1");
  const s16 n_lin = size >= 2 ? get_s16(data) : 0;
  if (o.n < 1 || o.n > line_buf_max || o.n > n_lin) violated("more lines handed on than decoded");
  for (int i = 0; i < o.n; ++i) {
    const line_entry& e = dec().line_blk.line[i];
    if (e.n_seg < 1 || e.n_seg > max_runs) violated("a line handed on with n_seg outside 1..6");
    for (int k = e.n_seg; k < max_runs; ++k)
      if (e.seg[k][0] != 0 || e.seg[k][1] != 0) violated("an absent run slot is not 0");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const outcome first = decode_over(data, size, 0x00);
  check_lines(data, size, first);
  const line_entry* decoded = dec().line_blk.line;
  const std::vector<line_entry> lines(decoded, decoded + (first.result == 1 ? first.n : 0));
  if (first.result == 1 && dec().line_blk.n_lin != first.n) violated("the block's line count differs from n_lin_out");

  const outcome second = decode_over(data, size, 0xA5);
  if (second.result != first.result || second.n != first.n) violated("stale frame bytes changed the result");
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (!same_line(lines[i], decoded[i])) violated("stale frame bytes changed the lines");
  return 0;
}
