// Diagnostics of a run: the error stream (the error log "DROPIX.ERR", or the screen with /e),
// tagged reports of failed system calls, the two trace printers with their small format
// language, and the one way a run ends: a thrown run_end that only the session catches.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

#include "common/formats.h"

#ifndef DROPIX_TRACE
#define DROPIX_TRACE 0
#endif

namespace dropix {

// Standard output of a run: the terminal or pipe of the program, a test's capture.
struct screen {
  virtual ~screen() = default;
  virtual void write(std::string_view text) = 0;
  virtual void flush() {}
};

// printf onto a screen.
void screen_printf(screen& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

enum class exit_status : int {
  done = 0,          // data used up, option text, operator stop with Escape
  failure = 1,       // every other end; the reason is on the error stream
  usage = 2,         // no raw file argument
  interrupted = 130, // Ctrl-C
  terminated = 143,  // SIGTERM
};

// The end of a run, thrown from wherever it is decided and caught by the session alone.
// `message` is the last message written to the error stream for a failure, if any.
struct run_end {
  exit_status status;
  std::string message;
};

// Ends the run with `status`.
[[noreturn]] void quit(exit_status status);

struct diagnostics {
  std::FILE* err = stderr;              // error stream
  screen* out = nullptr;                // standard output: traces and the slot map
  s16 trace_flag = DROPIX_TRACE;        // hprintf prints
  s16 obj_trace_flag = DROPIX_TRACE;    // hprintf2 and the slot map print
  // While set, messages for the error stream are appended here instead of written: a run
  // whose records are written by a thread of their own hands them to that thread, which
  // writes them in their place among the writer's own.
  std::string* deferred = nullptr;
};

// Writes the program's own message to the error stream.
void err_printf(diagnostics& d, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Writes the message to the error stream and ends the run with status 1, the message going
// with it.
[[noreturn]] void fail(diagnostics& d, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// "tag: <system text>\n" on the error stream for the current errno, as perror writes it.
// A read that failed only because the data ended (errno 0) says so instead of "Success".
void report_errno(diagnostics& d, const char* tag);

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
void trace_walk(diagnostics& d, bool long_forms, const char* fmt, const trace_arg* args, std::size_t n);

// The trace printer of the pass, the input and output side (silent unless trace_flag).
template <class... A>
void hprintf(diagnostics& d, const char* fmt, const A&... a) {
  if (d.trace_flag != 1) return;
  const trace_arg args[] = {trace_arg(a)..., trace_arg("")};
  trace_walk(d, true, fmt, args, sizeof...(A));
}

// The trace printer of piece assembly, the object store and matching (obj_trace_flag).
template <class... A>
void hprintf2(diagnostics& d, const char* fmt, const A&... a) {
  if (d.obj_trace_flag != 1) return;
  const trace_arg args[] = {trace_arg(a)..., trace_arg("")};
  trace_walk(d, false, fmt, args, sizeof...(A));
}

}  // namespace dropix
