// A run of DROPIX on one raw file, held in the hand. A session owns everything a run needs:
// its options, the state of every stage, its error stream, its files and the host it runs on
// (screen, terminal, keys, clock, stop signals). Nothing of it is global, so two sessions in
// one process never meet, and nothing in it ends the process: run() returns the exit status.
//
//   posix_host host;
//   run_options opt;
//   opt.raw_arg = "V26342_1.AB";
//   opt.dir = "/data/station1";   // settings, corrections, error log, relative paths
//   auto s = std::make_unique<session>(host, opt);
//   int status = s->run();
#pragma once

#include <memory>
#include <string>

#include "common/diag.h"
#include "common/records.h"
#include "control/settings.h"
#include "control/status.h"
#include "input/blocks.h"
#include "input/decmpr.h"
#include "input/line_time.h"
#include "input/main_hr.h"
#include "input/rawfil.h"
#include "output/net_wr.h"
#include "platform/host.h"
#include "reconstruct/match.h"
#include "reconstruct/pairing.h"
#include "reconstruct/store.h"
#include "session/record_pipeline.h"

namespace dropix {

struct run_options {
  bool stderr_to_screen = false;  // /e: messages on the screen, no error log
  bool calib = false;             // /c: no correction factors
  std::string raw_arg;            // the raw file, as the command line names it
  std::string dir;                // the run's directory: DROPIX.SET, corrfact.dat, DROPIX.ERR and
                                  // relative paths are found there; empty: the current directory
  bool physical_pairing = false;  // /m: physical pairing instead of oldest-first matching (run()
                                  // also switches it on for MATCHING PHYSICAL in DROPIX.SET)
  bool writer_thread = true;      // run() evaluates, packs and writes the records on a second
                                  // thread (the same files and messages); not with /e or traces
};

// What one processing pass came to.
enum class pass_outcome {
  matched,          // both cameras were read up to the same line and their objects paired
  camera_b_behind,  // camera B's data ended before camera A's line: no pairing this pass
  data_used_up,     // both readers are at the end of the data; the writer has flushed
};

class session final : public pair_sink {
 public:
  session(host& h, run_options opt);
  ~session() override;
  session(const session&) = delete;
  session& operator=(const session&) = delete;

  // The run: the error log, then processing passes until the data are used up, the operator
  // stops it, or a failure ends it. Returns the exit status (0, 1, 130 or 143).
  int run();

  // One processing pass (the run loop calls it until the data are used up): camera A's
  // reader takes its next line block, camera B's reader catches up with camera A, then the
  // two cameras' objects are paired. The first pass also does the start-up work: banner,
  // calibration tables, settings, queues, raw file and output files. An operator stop or a
  // failure is thrown as run_end.
  pass_outcome makepix();

  // Ends a run: lets the writer's thread carry out every command given (its failure then
  // becomes the status), closes the files (the .abh, .hyd, .hd and raw file, in this order,
  // reporting failures), shows the status block a last time, puts the terminal back and says
  // on the console when the run failed. Returns the exit status.
  int finish(exit_status status);

  // Closes the files that are open, in order, reporting failures. False when an output file
  // could not be closed whole.
  bool clean_up();

  // Names, opens or creates the output files and restores the state of an earlier run: the
  // stored headers enter maint and the header list, and both readers get their restart
  // positions.
  void open_outputs();

  // A matched pair becomes a record for the writer, chained to the record written before it.
  void pair(const drop_rec* drop_a, const drop_rec* drop_b) override;

  // From now on the records are evaluated, packed and written on a thread of their own
  // (run() starts it after the first pass, which opens the files). Not with /e or traces, nor
  // before the files are open, nor when opt.writer_thread is off: the run then stays on one
  // thread. Until stop_writer_thread, `wr` is the writer's thread's.
  void start_writer_thread();

  // Ends the writer's thread after it has carried out every command given; the status of
  // the run is then the writer's failure if it failed (it came first), else `st`.
  exit_status stop_writer_thread(exit_status st);
  bool writer_on_thread() const { return pipe_ != nullptr; }

  // Brings every part of the session back to its start-up state for another run with
  // `options`, closing what is still open.
  void reset(run_options options);

  host& h;
  run_options opt;
  diagnostics diag;
  settings_state settings;
  status_state status;
  raw_state raw;
  mp_state mp;
  header_state hdr;
  decode_state dec;
  timing_state timing;
  store_state store;
  corr_tables_rec corr_tables;
  writer_state wr;
  pairing_state pairing;  // physical pairing: its parameters and scratch space

 private:
  void first_pass();
  void camera_a_step();
  bool camera_b_catch_up();
  void hand_over_header(camera_reader& r);
  bool take_line_block(camera_reader& r, queue_pair& qp);
  bool poll_status();
  [[noreturn]] void operator_stop();
  status_view view() const;

  // The writer's commands: carried out at once, or handed to the writer's thread.
  void writer_flush_request();
  void writer_header(const main_rec& rec);
  void writer_final_flush();
  record_pipeline::minutes minutes_filled() const { return {timing.minut_a, timing.minut_b}; }
  std::unique_ptr<record_pipeline> pipe_;
  s16 oldlen_ahead_ = 0;  // with the writer's thread: wr.oldlen once it has caught up

  unique_file err_log_;
  std::string raw_base_;
  u16 pack_data_[max_packed_values] = {};  // the data words of the record being built
};

// The dropix program on a host: banner, command line, then a session in `dir` with the
// options it gives. Returns the exit status (2 for a command line without a raw file).
int run_program(host& h, int argc, char** argv, const std::string& dir = "");

}  // namespace dropix
