#include "tests/support/passes.h"

#include "tests/support/fixture.h"

namespace dropix::testing {

void prepare_run(const std::string& raw_file, const pass_options& opt) {
  dropix_test& t = current_test();
  t.new_run(raw_file, opt.calib, opt.physical);
  fake_host& h = t.host;
  const s64 clock = h.clock;
  h = fake_host{};
  h.clock = clock;
  h.tick_every = opt.tick_every;
  h.escape_at_poll = opt.escape_at_poll;
  h.in_terminal = opt.escape_at_poll > 0;
  t.wr.faults = opt.faults;
}

pass_result run_passes(const std::string& raw_file, const pass_options& opt) {
  prepare_run(raw_file, opt);
  dropix_test& t = current_test();
  pass_result r;
  try {
    while (r.passes < opt.max_passes) {
      ++r.passes;
      if (t.ses.makepix() == pass_outcome::data_used_up) {
        r.status = t.ses.finish(exit_status::done);
        break;
      }
      if (r.passes == 1 && opt.writer_thread) {
        t.ses.start_writer_thread();
        r.threaded = t.ses.writer_on_thread();
      }
    }
  } catch (const run_end& q) {
    r.status = t.ses.finish(q.status);
  }
  r.out = t.host.out;
  return r;
}

}  // namespace dropix::testing
