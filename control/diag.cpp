#include "control/diag.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>

#include "control/quit.h"
#include "platform/platform.h"

namespace dropix {

std::FILE* errs() { return diag.err ? diag.err : stderr; }

void err_printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(errs(), fmt, ap);
  va_end(ap);
}

void report_errno(const char* tag) {
  const int e = errno;
  const char* text = e ? std::strerror(e) : "unexpected end of data";
  if (tag && *tag)
    std::fprintf(errs(), "%s: %s\n", tag, text);
  else
    std::fprintf(errs(), "%s\n", text);
}

void open_error_log() {
  // Test that the log can be opened before the error stream is given up for it.
  std::FILE* probe = std::fopen("DROPIX.ERR", "a");
  if (!probe || !std::freopen("DROPIX.ERR", "a", stderr)) {
    if (probe) std::fclose(probe);
    std::printf("DROPIX.ERR cannot be opened: messages stay on the screen\n");
    ctl.stderr_to_screen = 1;
    return;
  }
  std::fclose(probe);
  const std::time_t now = static_cast<std::time_t>(platform::clock_seconds());
  std::fprintf(stderr, "\nQX5 starts at %s", std::asctime(std::gmtime(&now)));
  std::fflush(stderr);
}

namespace {
void print_arg(const trace_arg* a, char conv) {
  if (!a) return;  // more conversions than arguments: a fault of the format, print nothing
  using k = trace_arg::kind;
  switch (conv) {
    case 'd':
      if (a->k == k::sint) std::printf("%lld", static_cast<long long>(a->i));
      else if (a->k == k::uint) std::printf("%lld", static_cast<long long>(a->u));
      break;
    case 'u':
      if (a->k == k::sint) std::printf("%llu", static_cast<unsigned long long>(a->i));
      else if (a->k == k::uint) std::printf("%llu", static_cast<unsigned long long>(a->u));
      break;
    case 'f':
      if (a->k == k::real) std::printf("%f", a->f);
      break;
    case 's':
      if (a->k == k::text) std::fputs(a->s, stdout);
      break;
    default:
      break;
  }
}

[[noreturn]] void unknown_format(char c) {
  err_printf("*** Error in 'hprintf': Unknown format '%c' !\n", c);
  quit(exit_status::failure);
}
}  // namespace

void trace_walk(bool long_forms, const char* fmt, const trace_arg* args, std::size_t n) {
  std::size_t next = 0;
  auto take = [&]() -> const trace_arg* { return next < n ? &args[next++] : nullptr; };
  for (const char* p = fmt; *p; ++p) {
    if (*p != '%') {
      std::putchar(*p);
      continue;
    }
    const char c = *++p;
    if (c == 'd' || c == 'u' || c == 'f' || c == 's') {
      print_arg(take(), c);
    } else if (c == 'l' && long_forms) {
      const char c2 = *++p;
      if (c2 == 'd' || c2 == 'u' || c2 == 'f') print_arg(take(), c2);
      else if (c2 == '\0') return;  // "%l" at the very end: outside the format language
    } else {
      unknown_format(c);
    }
  }
}

}  // namespace dropix
