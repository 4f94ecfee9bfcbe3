#include "common/diag.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <vector>

namespace dropix {

namespace {
std::string vformat(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  char small[256];
  const int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, static_cast<std::size_t>(n));
  std::vector<char> big(static_cast<std::size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), fmt, ap);
  return std::string(big.data(), static_cast<std::size_t>(n));
}

void out_text(diagnostics& d, std::string_view text) {
  if (d.out) d.out->write(text);
}
}  // namespace

void screen_printf(screen& out, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const std::string text = vformat(fmt, ap);
  va_end(ap);
  out.write(text);
}

void quit(exit_status status) { throw run_end{status, {}}; }

void err_printf(diagnostics& d, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  if (d.deferred)
    *d.deferred += vformat(fmt, ap);
  else
    std::vfprintf(d.err, fmt, ap);
  va_end(ap);
}

void fail(diagnostics& d, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = vformat(fmt, ap);
  va_end(ap);
  if (d.deferred)
    *d.deferred += text;
  else
    std::fputs(text.c_str(), d.err);
  throw run_end{exit_status::failure, std::move(text)};
}

void report_errno(diagnostics& d, const char* tag) {
  const int e = errno;
  const char* text = e ? std::strerror(e) : "unexpected end of data";
  if (tag && *tag)
    err_printf(d, "%s: %s\n", tag, text);
  else
    err_printf(d, "%s\n", text);
}

namespace {
void print_arg(diagnostics& d, const trace_arg* a, char conv) {
  if (!a) return;  // more conversions than arguments: a fault of the format, print nothing
  using k = trace_arg::kind;
  char buf[64];
  buf[0] = '\0';
  switch (conv) {
    case 'd':
      if (a->k == k::sint) std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(a->i));
      else if (a->k == k::uint) std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(a->u));
      break;
    case 'u':
      if (a->k == k::sint) std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(a->i));
      else if (a->k == k::uint) std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(a->u));
      break;
    case 'f':
      if (a->k == k::real) {
        // "%f" of a large value can be long: format it whole.
        const int n = std::snprintf(nullptr, 0, "%f", a->f);
        std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
        if (n > 0) std::snprintf(s.data(), s.size() + 1, "%f", a->f);
        out_text(d, s);
        return;
      }
      break;
    case 's':
      if (a->k == k::text) out_text(d, a->s);
      return;
    default:
      break;
  }
  out_text(d, buf);
}
}  // namespace

void trace_walk(diagnostics& d, bool long_forms, const char* fmt, const trace_arg* args, std::size_t n) {
  std::size_t next = 0;
  auto take = [&]() -> const trace_arg* { return next < n ? &args[next++] : nullptr; };
  const char* plain = fmt;  // start of the text not yet written
  const char* p = fmt;
  for (; *p; ++p) {
    if (*p != '%') continue;
    out_text(d, std::string_view(plain, static_cast<std::size_t>(p - plain)));
    const char c = *++p;
    if (c == 'd' || c == 'u' || c == 'f' || c == 's') {
      print_arg(d, take(), c);
    } else if (c == 'l' && long_forms) {
      const char c2 = *++p;
      if (c2 == 'd' || c2 == 'u' || c2 == 'f') print_arg(d, take(), c2);
      else if (c2 == '\0') return;  // "%l" at the very end: outside the format language
    } else {
      if (d.out) d.out->flush();
      fail(d, "*** Error in 'hprintf': Unknown format '%c' !\n", c);
    }
    plain = p + 1;
  }
  out_text(d, std::string_view(plain, static_cast<std::size_t>(p - plain)));
}

}  // namespace dropix
