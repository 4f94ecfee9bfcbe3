#include "session/session.h"

#include <csignal>
#include <cstdio>
#include <exception>

#include "control/banner.h"
#include "control/command_line.h"
#include "platform/files.h"
#include "reconstruct/transf.h"

namespace dropix {

session::session(host& host_, run_options options) : h(host_), opt(std::move(options)) {
  diag.out = &h;
  diag.err = stderr;
  wr.dir = opt.dir;
  raw_base_ = base_name(opt.raw_arg);
}

session::~session() {
  if (pipe_) stop_writer_thread(exit_status::done);
}

void session::start_writer_thread() {
  if (pipe_ || !opt.writer_thread || opt.stderr_to_screen || diag.trace_flag == 1 || diag.obj_trace_flag == 1) return;
  if (!wr.pix_fp || !wr.hd_fp || !wr.abh_fp || wr.broken) return;
  try {
    pipe_ = std::make_unique<record_pipeline>(wr, timing.pos, corr_tables, diag, minutes_filled());
  } catch (const std::exception&) {
    return;  // no thread to be had: the run goes on with one
  }
  oldlen_ahead_ = wr.oldlen;
  diag.deferred = &pipe_->pending_text();
}

exit_status session::stop_writer_thread(exit_status st) {
  if (!pipe_) return st;
  const std::optional<run_end> writer_end = pipe_->stop();
  diag.deferred = nullptr;
  pipe_.reset();
  return writer_end ? writer_end->status : st;
}

void session::reset(run_options options) {
  if (pipe_) stop_writer_thread(exit_status::done);
  clean_up();
  opt = std::move(options);
  diag = diagnostics{};
  diag.out = &h;
  err_log_.reset();
  settings = {};
  status = {};
  raw = raw_state{};
  mp = {};
  hdr = header_state{};
  dec = decode_state{};
  timing = {};
  store = store_state{};
  corr_tables = {};
  wr = writer_state{};
  const pairing_params params = pairing.params;  // the pairing's tuning outlives the run
  pairing = pairing_state{};
  pairing.params = params;
  wr.dir = opt.dir;
  raw_base_ = base_name(opt.raw_arg);
}

bool session::clean_up() {
  bool whole = true;
  const auto close_tagged = [&](unique_file& fp, const char* tag, const std::string* name) {
    if (!fp) return;
    if (std::fclose(fp.release()) == 0) return;
    report_errno(diag, tag);
    if (name) {
      err_printf(diag, "%s could not be closed whole: run again to complete it\n", name->c_str());
      whole = false;
    }
  };
  close_tagged(wr.abh_fp, " clean_up01 ", &wr.abh_nam);
  close_tagged(wr.pix_fp, " clean_up02 ", &wr.pix_nam);
  close_tagged(wr.hd_fp, " clean_up03 ", &wr.hd_nam);
  close_tagged(raw.raw_fp, " clean_up04 ", nullptr);
  raw.win_a.fp = raw.win_b.fp = nullptr;
  return whole;
}

status_view session::view() const {
  return {wr.pix_nam, pipe_ ? pipe_->pix_end() : wr.pix_end, raw.mp_nam, mp.rawend, mp.pos_a, mp.pos_b};
}

int session::finish(exit_status st) {
  // The writer's commands are carried out first: they came before whatever ended the run.
  st = stop_writer_thread(st);
  // A run that fails on its data (time running backwards, no header for a drop, ...) first
  // writes the drops paired before: they are sound, and a rerun ends the same way.
  if (st == exit_status::failure && wr.pix_fp && wr.hd_fp && wr.abh_fp && !wr.broken) {
    try {
      final_flush(wr, timing.pos, h, diag);
    } catch (const run_end&) {
      // The flush failed and said so; the run ends with status 1 all the same.
    }
  }
  if (!clean_up() && st == exit_status::done) st = exit_status::failure;
  status_final(status, h, view(), diag.trace_flag == 1);
  h.terminal_restore();
  if (st == exit_status::failure && !opt.stderr_to_screen)
    h.write("\nDROPIX stopped with an error: see DROPIX.ERR\n");
  h.flush();
  std::fflush(diag.err);
  return static_cast<int>(st);
}

int session::run() {
  try {
    // The matching mode: /m, or the settings key; it is named where the run's messages go.
    std::string matching_value;
    const matching_request matching = read_matching(in_dir(opt.dir, "DROPIX.SET"), &matching_value);
    if (matching == matching_request::physical) opt.physical_pairing = true;
    const char* const note = opt.physical_pairing ? physical_pairing_note : nullptr;
    if (!opt.stderr_to_screen) {
      err_log_.reset(open_error_log(h, opt.dir, h.clock_seconds(), note));
      if (!err_log_) opt.stderr_to_screen = true;
    }
    if (err_log_)
      diag.err = err_log_.get();
    else if (note)
      err_printf(diag, "%s", note);
    if (matching == matching_request::unknown)
      fail(diag, "rd_mp: MATCHING %s: neither PHYSICAL nor OLDEST_FIRST \n", matching_value.c_str());
    // The first pass opens the files; from the second on the writer may have a thread.
    if (makepix() != pass_outcome::data_used_up) {
      start_writer_thread();
      while (makepix() != pass_outcome::data_used_up) {
      }
    }
    return finish(exit_status::done);
  } catch (const run_end& e) {
    return finish(e.status);
  } catch (const std::exception& e) {
    // Out of memory and the like: no stage can go on.
    err_printf(diag, "DROPIX: %s\n", e.what());
    return finish(exit_status::failure);
  }
}

int run_program(host& h, int argc, char** argv, const std::string& dir) {
  h.terminal_begin();
  banner(h);
  if (const int sig = h.stop_signal()) {
    h.terminal_restore();
    return static_cast<int>(sig == SIGINT ? exit_status::interrupted
                            : sig == SIGTERM ? exit_status::terminated
                                             : exit_status::done);
  }
  command_line cl;
  get_switches(argc, argv, cl);
  if (cl.help) {
    print_option_text(h);
    h.terminal_restore();
    h.flush();
    return static_cast<int>(exit_status::done);
  }
  if (!get_args(argc, argv, cl)) {
    print_usage(h);
    h.terminal_restore();
    h.flush();
    return static_cast<int>(exit_status::usage);
  }
  run_options opt;
  opt.stderr_to_screen = cl.stderr_to_screen;
  opt.calib = cl.calib;
  opt.physical_pairing = cl.physical_pairing;
  opt.raw_arg = cl.raw_arg;
  opt.dir = dir;
  auto s = std::make_unique<session>(h, opt);
  return s->run();
}

}  // namespace dropix
