#include "input/rawfil.h"

#include <cerrno>
#include <cstdio>

#include "control/diag.h"
#include "control/quit.h"
#include "platform/platform.h"

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

void rawfil() {
  raw.raw_day = day_number(ctl.raw_base);
  hprintf("raw_day=%ld\n", raw.raw_day);
  hprintf("now opening %s \n", ctl.raw_arg);
  std::FILE* fp = nullptr;
  if (platform::is_directory(ctl.raw_arg))
    errno = EISDIR;
  else
    fp = std::fopen(ctl.raw_arg.c_str(), "rb");
  if (!fp) {
    const int e = errno;
    err_printf("rawfil01: could not open %s \n", ctl.raw_arg.c_str());
    errno = e;
    report_errno("rawfil02");
    quit(exit_status::failure);
  }
  // The camera readers keep read-ahead windows of their own.
  std::setvbuf(fp, nullptr, _IONBF, 0);
  raw.raw_fp = fp;
  raw.win_a.fp = fp;
  raw.win_b.fp = fp;
  raw.mp_nam = ctl.raw_arg;
}

}  // namespace dropix
