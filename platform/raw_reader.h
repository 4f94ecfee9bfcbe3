// Reading a file through a read-ahead window. Each camera reader has a window of its own into
// the raw file, so the two readers keep independent positions without seeking back and forth
// for every block, and stepping over a foreign block costs no read of its body. The resume
// walk reads the .hyd file the same way.
#pragma once

#include <cstddef>

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/formats.h"

namespace dropix {

// A read-ahead window into a file.
struct raw_window {
  std::FILE* fp = nullptr;  // the file behind the window; null: bytes in memory only
  std::vector<u8> buf;
  s64 base = 0;          // file offset of buf[0]
  std::size_t len = 0;   // valid bytes in buf
};

// A read position inside one block: reads never go past `end`.
struct raw_cursor {
  raw_window* win = nullptr;
  s64 pos = 0;  // next byte to read
  s64 end = 0;  // first byte that must not be read
};

enum class raw_read_result { ok, seek_failed, short_read };

// Bytes behind a window's data that may be loaded without being read: a window's buffer
// always extends this far past its last valid byte (zeros, or stale bytes of the file),
// for readers that load 8 bytes at a time and mask off what they do not use.
constexpr std::size_t window_slack = 8;

// Where n bytes from cur.pos lie in the window, refilling it when needed; null (result in
// *r) when raw_read would not deliver them.
const u8* window_bytes(raw_cursor& cur, std::size_t n, raw_read_result* r);

// The n bytes from cur.pos where they lie in the window, and cur.pos advanced past them, as
// raw_read would read them; null with the result in *r (and errno as raw_read leaves it)
// when it would fail. The bytes stay valid until the next read through the same window;
// window_slack bytes behind them may be loaded too.
inline const u8* raw_take(raw_cursor& cur, std::size_t n, raw_read_result* r) {
  const raw_window& win = *cur.win;
  const s64 to = cur.pos + static_cast<s64>(n);
  const u8* at;
  if (cur.pos >= 0 && cur.pos >= win.base && to <= cur.end && to <= win.base + static_cast<s64>(win.len) &&
      n <= static_cast<std::size_t>(cur.end - cur.pos)) {
    at = win.buf.data() + (cur.pos - win.base);
  } else {
    at = window_bytes(cur, n, r);
    if (!at) return nullptr;
  }
  cur.pos = to;
  return at;
}

// Copies n bytes from cur.pos and advances it. A read that would pass cur.end or the end of
// the file delivers nothing and reports short_read (errno 0 unless the system failed).
inline raw_read_result raw_read(raw_cursor& cur, void* dst, std::size_t n) {
  raw_read_result r = raw_read_result::ok;
  const u8* at = raw_take(cur, n, &r);
  if (at) std::memcpy(dst, at, n);
  return r;
}

// Puts `bytes` in a window without a file behind it (decoder tests and the fuzz target).
// Windows with a file (raw_window::fp) fill themselves from it as reads need.
void raw_window_over(raw_window& win, const u8* bytes, std::size_t n);

}  // namespace dropix
