#include "tests/support/passes.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "common/dropix.h"
#include "control/entry.h"
#include "control/quit.h"
#include "input/makepix.h"
#include "tests/support/fake_console.h"
#include "tests/support/fixture.h"

namespace dropix::testing {

void prepare_run(const std::string& raw_file, const pass_options& opt) {
  std::FILE* err = diag.err;
  const s16 trace = diag.trace_flag, obj_trace = diag.obj_trace_flag;
  const s64 clock = fake_console::fc.clock;
  diag.err = nullptr;  // kept open across the reset
  reset_all_state();
  diag.err = err;
  diag.trace_flag = trace;
  diag.obj_trace_flag = obj_trace;
  fake_console::reset();
  fake_console::fc.clock = clock;
  fake_console::fc.tick_every = opt.tick_every;
  fake_console::fc.escape_at_poll = opt.escape_at_poll;
  fake_console::fc.in_terminal = opt.escape_at_poll > 0;
  ctl.raw_arg = raw_file;
  ctl.raw_base = base_name(raw_file);
  ctl.calib = opt.calib ? 1 : 0;
}

pass_result run_passes(const std::string& raw_file, const pass_options& opt) {
  prepare_run(raw_file, opt);
  pass_result r;
  if (opt.capture) ::testing::internal::CaptureStdout();
  try {
    while (r.passes < opt.max_passes) {
      ++r.passes;
      makepix();
    }
  } catch (const quit_thrown& q) {
    r.status = q.status;
  }
  if (opt.capture) r.out = ::testing::internal::GetCapturedStdout();
  return r;
}

}  // namespace dropix::testing
