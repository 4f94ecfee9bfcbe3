#include "platform/raw_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files.h"

namespace dropix {

namespace {
constexpr std::size_t window_size = 128 * 1024;

// Fills the window from the raw file starting at `at`. False when positioning failed.
bool refill(raw_window& win, s64 at) {
  win.len = 0;
  win.base = at;
  if (win.buf.size() < window_size + window_slack) win.buf.resize(window_size + window_slack);
  if (seek64(win.fp, at, SEEK_SET) != 0) return false;
  errno = 0;
  win.len = std::fread(win.buf.data(), 1, window_size, win.fp);
  return true;
}
}  // namespace

const u8* window_bytes(raw_cursor& cur, std::size_t n, raw_read_result* r) {
  if (cur.pos < 0 || static_cast<s64>(n) > cur.end - cur.pos) {
    errno = 0;
    *r = raw_read_result::short_read;
    return nullptr;
  }
  raw_window& win = *cur.win;
  const bool inside = cur.pos >= win.base && cur.pos + static_cast<s64>(n) <= win.base + static_cast<s64>(win.len);
  if (!inside) {
    if (!win.fp || n > window_size) {
      errno = 0;
      *r = raw_read_result::short_read;
      return nullptr;
    }
    if (!refill(win, cur.pos)) {
      *r = raw_read_result::seek_failed;
      return nullptr;
    }
    if (win.len < n) {
      *r = raw_read_result::short_read;
      return nullptr;
    }
  }
  return win.buf.data() + (cur.pos - win.base);
}

void raw_window_over(raw_window& win, const u8* bytes, std::size_t n) {
  win.fp = nullptr;
  win.buf.assign(bytes, bytes + n);
  win.buf.resize(n + window_slack);
  win.base = 0;
  win.len = n;
}

}  // namespace dropix
