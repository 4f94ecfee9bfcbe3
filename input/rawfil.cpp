#include "input/rawfil.h"

#include <cerrno>
#include <cstdio>

namespace dropix {

namespace {
s32 digits(const std::string& s, std::size_t from, std::size_t count) {
  s32 v = 0;
  for (std::size_t i = from; i < from + count && i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') break;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}
}  // namespace

s32 day_number(const std::string& base) { return digits(base, 1, 2) * 1000 + digits(base, 3, 3); }

void rawfil(raw_state& raw, const std::string& raw_arg, const std::string& raw_base,
            const std::string& open_path, diagnostics& d) {
  raw.raw_day = day_number(raw_base);
  hprintf(d, "raw_day=%ld\n", raw.raw_day);
  hprintf(d, "now opening %s \n", raw_arg);
  bool not_regular = false;
  std::FILE* fp = open_regular_for_reading(open_path, &not_regular);
  if (!fp) {
    const int e = errno;
    err_printf(d, "rawfil01: could not open %s \n", raw_arg.c_str());
    if (not_regular) fail(d, "rawfil02: %s is not a regular file (a pipe or a device): refused\n", raw_arg.c_str());
    errno = e;
    report_errno(d, "rawfil02");
    quit(exit_status::failure);
  }
  // The camera readers keep read-ahead windows of their own.
  std::setvbuf(fp, nullptr, _IONBF, 0);
  raw.raw_fp.reset(fp);
  raw.win_a.fp = fp;
  raw.win_b.fp = fp;
  raw.mp_nam = raw_arg;
}

}  // namespace dropix
