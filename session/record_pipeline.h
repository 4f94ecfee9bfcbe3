// The record writer on a thread of its own. The session's thread reads, decodes, assembles
// and pairs; every pair, main header, flush and message it would hand the writer becomes a
// command instead, and the writer's thread carries the commands out in the order they were
// given: the evaluation and packing of each pair (transf_1) and all the writer does with
// .hyd, .hd and .abh. So the files, the flushes and the messages are those of the same run on
// one thread; only the moment each happens shifts.
//
// What the writer's thread reads of the session's thread is handed to it: the main header in
// force at each pair (a node of the header list, which only grows; its line frequency counts
// the record's minute), the clock second read where the one-thread run reads it, and how far each camera's minute
// table was filled, so that the resume file of each flush holds what it held on one thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "common/diag.h"
#include "common/records.h"
#include "output/net_wr.h"
#include "reconstruct/transf.h"

namespace dropix {

class record_pipeline {
 public:
  // How far the session's thread has filled each camera's minute table (timing_state's
  // minut_a and minut_b): the entries up to these never change again.
  struct minutes {
    s16 a = -1;
    s16 b = -1;
  };

  // Starts the writer's thread. While it runs, only that thread touches `wr`; it reads `pos`
  // up to the minutes each command names (`filled` now), and `corr_tables` (fixed for the
  // run). Messages of the writer go to `writer_diag`'s error stream.
  record_pipeline(writer_state& wr, const raw_positions& pos, const corr_tables_rec& corr_tables,
                  const diagnostics& writer_diag, minutes filled);
  ~record_pipeline();  // stop(), its outcome dropped
  record_pipeline(const record_pipeline&) = delete;
  record_pipeline& operator=(const record_pipeline&) = delete;

  // The commands. A pair's `header` is the record of the session's header list in force (the
  // list keeps its nodes, and never changes them, until the session is reset), `plan` its
  // plan_record, made once on the session's thread. `now` is the
  // clock second the writer's flush rules are to see (not read when a pair's record is not
  // written). Each throws the writer's run_end once the writer has failed, so that the
  // session's thread stops soon after.
  void pair(const main_rec& header, const record_plan& plan, s64 now, minutes m, const drop_rec& drop_a,
            const drop_rec& drop_b);
  void flush_request(s64 now, minutes m);
  void final_flush(s64 now, minutes m);
  void header(const main_rec& rec);

  // Messages of the session's thread collect here (diagnostics::deferred) and go to the
  // writer's thread ahead of the next command.
  std::string& pending_text() { return pending_; }

  // Carries out every command given, ends the thread and returns how the writer ended: its
  // run_end when it failed (nothing after the failing command was carried out), else none.
  std::optional<run_end> stop();

  // .hyd length after the writer's last write, for the status display.
  u32 pix_end() const { return pix_end_.load(std::memory_order_relaxed); }

 private:
  enum class kind : u64 { pair, flush_request, final_flush, header, text };

  void put_pending();
  void begin(kind k);
  template <class T>
  void put(const T& v);
  void put_bytes(const void* p, std::size_t n);
  void put_pieces(const piece* p, int n);
  void submit();
  void throw_if_failed();
  void thread_main();
  struct batch;
  void run_batch(const batch& b);
  void sync_minutes(minutes m);

  writer_state& wr_;
  const raw_positions& pos_;  // the session's, read up to the minutes handed over
  const corr_tables_rec& corr_;
  diagnostics diag_;          // the writer's error stream
  raw_positions own_pos_;     // the minute tables as the writer's commands see them
  minutes synced_;            // entries of own_pos_ taken from pos_ so far
  std::string pending_;
  struct batch {
    std::unique_ptr<u8[]> bytes;
    std::size_t cap = 0;   // bytes held
    std::size_t size = 0;  // bytes used
    void reserve(std::size_t n);
  };
  batch batch_;               // commands not yet handed over

  std::mutex mutex_;
  std::condition_variable work_;   // a batch is waiting, or the end
  std::condition_variable space_;  // a batch was carried out
  std::deque<batch> full_;
  std::vector<batch> spare_;
  bool closing_ = false;
  std::atomic<bool> failed_{false};
  std::optional<run_end> failure_;  // written by the writer's thread before failed_
  std::atomic<u32> pix_end_{0};
  bool stopped_ = false;
  std::thread thread_;  // last: started when everything above is ready
};

}  // namespace dropix
