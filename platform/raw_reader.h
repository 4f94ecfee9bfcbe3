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

// raw_read for the bytes that are not all in the window yet (or not to be read at all).
raw_read_result raw_read_refilling(raw_cursor& cur, void* dst, std::size_t n);

// Copies n bytes from cur.pos and advances it. A read that would pass cur.end or the end of
// the file delivers nothing and reports short_read (errno 0 unless the system failed).
inline raw_read_result raw_read(raw_cursor& cur, void* dst, std::size_t n) {
  const raw_window& win = *cur.win;
  const s64 to = cur.pos + static_cast<s64>(n);
  if (cur.pos >= 0 && cur.pos >= win.base && to <= cur.end && to <= win.base + static_cast<s64>(win.len) &&
      n <= static_cast<std::size_t>(cur.end - cur.pos)) {
    std::memcpy(dst, win.buf.data() + (cur.pos - win.base), n);
    cur.pos = to;
    return raw_read_result::ok;
  }
  return raw_read_refilling(cur, dst, n);
}

// Puts `bytes` in a window without a file behind it (decoder tests and the fuzz target).
// Windows with a file (raw_window::fp) fill themselves from it as reads need.
void raw_window_over(raw_window& win, const u8* bytes, std::size_t n);

}  // namespace dropix
