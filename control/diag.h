// Diagnostics: the error stream (the error log "DROPIX.ERR" unless /e), tagged reports of
// failed system calls, and the two trace printers with their small format language.
#pragma once

#include <cstdio>
#include <string>
#include <type_traits>

#include "common/dropix.h"

namespace dropix {

// The error stream: the error log, or the screen with /e.
std::FILE* errs();

// Writes the program's own message to the error stream.
void err_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// "tag: <system text>\n" on the error stream for the current errno, as perror writes it.
// A read that failed only because the data ended (errno 0) says so instead of "Success".
void report_errno(const char* tag);

// Sends the error stream to "DROPIX.ERR" in the current directory (append) and writes the
// start line. When the log cannot be opened the error stream stays on the screen.
void open_error_log();

// One argument of a trace line.
struct trace_arg {
  enum class kind { sint, uint, real, text } k;
  s64 i = 0;
  u64 u = 0;
  f64 f = 0;
  const char* s = "";

  template <class T>
    requires std::is_integral_v<T>
  trace_arg(T v) : k(std::is_signed_v<T> ? kind::sint : kind::uint) {
    if constexpr (std::is_signed_v<T>) i = v; else u = v;
  }
  trace_arg(f64 v) : k(kind::real), f(v) {}
  trace_arg(f32 v) : k(kind::real), f(v) {}
  trace_arg(const char* v) : k(kind::text), s(v ? v : "") {}
  trace_arg(const std::string& v) : k(kind::text), s(v.c_str()) {}
};

// Walks a trace format: 'd', 'u', 'f', 's' and (first printer only) "ld", "lu", "lf" after
// '%'; "l" with another letter prints nothing and takes no argument. Any other conversion
// ends the run with "Unknown format".
void trace_walk(bool long_forms, const char* fmt, const trace_arg* args, std::size_t n);

// The trace printer of the pass, the input and output side (silent unless trace_flag).
template <class... A>
void hprintf(const char* fmt, const A&... a) {
  if (diag.trace_flag != 1) return;
  const trace_arg args[] = {trace_arg(a)..., trace_arg("")};
  trace_walk(true, fmt, args, sizeof...(A));
}

// The trace printer of piece assembly, the object store and matching (obj_trace_flag).
template <class... A>
void hprintf2(const char* fmt, const A&... a) {
  if (diag.obj_trace_flag != 1) return;
  const trace_arg args[] = {trace_arg(a)..., trace_arg("")};
  trace_walk(false, fmt, args, sizeof...(A));
}

}  // namespace dropix
