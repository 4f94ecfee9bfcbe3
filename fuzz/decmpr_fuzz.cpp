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

#include "common/dropix.h"
#include "input/decmpr.h"
#include "input/raw_reader.h"

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

outcome decode_over(const std::uint8_t* data, std::size_t size, u8 stale) {
  std::memset(dec.frame, stale, sizeof dec.frame);
  std::memset(static_cast<void*>(dec.line_buf), stale, sizeof dec.line_buf);
  raw_window win;  // a fresh buffer of exactly `size` bytes
  raw_window_over(win, data, size);
  raw_cursor body{&win, 0, static_cast<s64>(size)};
  outcome o{};
  o.n = -1;
  o.result = decmpr(body, &o.n);
  return o;
}

void check_lines(const std::uint8_t* data, std::size_t size, const outcome& o) {
  if (o.result == 0) return;
  if (o.result != 1) violated("result neither 0 nor 1");
  const s16 n_lin = size >= 2 ? get_s16(data) : 0;
  if (o.n < 1 || o.n > line_buf_max || o.n > n_lin) violated("more lines handed on than decoded");
  for (int i = 0; i < o.n; ++i) {
    const line_entry& e = dec.line_buf[i];
    if (e.n_seg < 1 || e.n_seg > max_runs) violated("a line handed on with n_seg outside 1..6");
    for (int k = e.n_seg; k < max_runs; ++k)
      if (e.seg[k][0] != 0 || e.seg[k][1] != 0) violated("an absent run slot is not 0");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::FILE* quiet = std::fopen("/dev/null", "w");
  diag.err = quiet;
  diag.trace_flag = 0;

  const outcome first = decode_over(data, size, 0x00);
  check_lines(data, size, first);
  const std::vector<line_entry> lines(dec.line_buf, dec.line_buf + (first.result == 1 ? first.n : 0));

  const outcome second = decode_over(data, size, 0xA5);
  if (second.result != first.result || second.n != first.n) violated("stale frame bytes changed the result");
  if (!lines.empty() && std::memcmp(static_cast<const void*>(lines.data()), dec.line_buf,
                                    lines.size() * sizeof(line_entry)) != 0)
    violated("stale frame bytes changed the lines");
  return 0;
}
