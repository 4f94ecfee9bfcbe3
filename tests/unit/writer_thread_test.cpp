// Records written on a thread of their own: the files, the messages and the exit status must
// be those of the same run on one thread, however the run ends and wherever, and a later
// run must go on from what it left exactly as from what the one-thread run left.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "kit/rawbuild.h"
#include "kit/scene.h"
#include "session/record_pipeline.h"
#include "tests/support/fixture.h"
#include "tests/support/passes.h"

namespace dropix {
namespace {

using testing::pass_options;
using testing::run_passes;
using testing::write_bytes;

using testing::remove_outputs;

struct outcome {
  int status = -1;
  testing::run_outputs files;
  std::string err;  // what the run wrote to the error stream
  bool operator==(const outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const outcome& o) {
  return os << "status " << o.status << ", .hyd " << o.files.hyd.size() << " bytes, .hd " << o.files.hd.size()
            << ", .abh " << o.files.abh.size() << ", messages:\n"
            << o.err;
}

class writer_thread : public testing::dropix_test {
 protected:
  void SetUp() override { testing::write_default_config(); }

  // A run on the raw file as it is, continuing the outputs that exist.
  outcome run(pass_options o, bool threaded) {
    o.writer_thread = threaded;
    const std::size_t before = err_text().size();
    const auto r = run_passes("V26342_1.AB", o);
    threaded_runs += r.threaded ? 1 : 0;
    return {r.status, testing::read_outputs(), err_text().substr(before)};
  }

  // The same run from no outputs, on one thread and with the writer's thread.
  void expect_same_run(const pass_options& o) {
    remove_outputs();
    const outcome one = run(o, false);
    remove_outputs();
    const outcome two = run(o, true);
    EXPECT_EQ(one, two);
  }

  int threaded_runs = 0;  // runs that got their writer's thread (not those ended in the first pass)

  static std::vector<u8> scene(int drops, f64 gap_s, unsigned seed, int header_every = 5, f64 start = 3659) {
    rawkit::scene_options opt;
    opt.drops = drops;
    opt.mean_gap_s = gap_s;
    opt.start_second = start;  // over a minute boundary
    opt.header_every = header_every;
    opt.foreign_every = 7;
    opt.seed = seed;
    return rawkit::rain_scene(opt).data();
  }
};

TEST_F(writer_thread, gives_the_files_and_messages_of_one_thread) {
  // A short shower, and heavy rain whose commands fill many batches, with the clock moving
  // at different speeds (flushes by time fall differently), oldest-first and physical
  // pairing.
  write_bytes("V26342_1.AB", scene(40, 0.6, 21));
  for (int tick : {1, 3, 0}) {
    SCOPED_TRACE("tick every " + std::to_string(tick));
    expect_same_run({.tick_every = tick});
    expect_same_run({.physical = true, .tick_every = tick});
  }
  EXPECT_EQ(threaded_runs, 6);
  // 12000 pairs make some 3.5 MB of commands: more than a dozen batches.
  write_bytes("V26342_1.AB", scene(12000, 0.004, 5, 400));
  remove_outputs();
  const outcome heavy = run({.tick_every = 50}, true);
  EXPECT_EQ(heavy.status, 0);
  EXPECT_GT(heavy.files.hyd.size(), 12000u * 50);
  remove_outputs();
  EXPECT_EQ(run({.tick_every = 50}, false), heavy);
}

TEST_F(writer_thread, a_write_failing_anywhere_ends_the_run_as_on_one_thread) {
  // Flushes on both sides of a minute boundary: the resume file left by a failure holds the
  // minutes as they were when it was written. Between the two a header repeated with another
  // line frequency makes a message of the reading side, which must come before a failure of
  // the writer that follows it.
  rawkit::raw_builder b;
  b.bytes(scene(12, 2.0, 21, 3, 3640));
  b.header(rawkit::sample_header(20796u * 86400u + 3600, 34100.0));
  b.bytes(scene(12, 2.0, 22, 3, 3670));
  write_bytes("V26342_1.AB", b.data());
  io_faults count;
  remove_outputs();
  ASSERT_EQ(run({.tick_every = 3, .faults = &count}, true).status, 0);
  ASSERT_GT(count.count, 20);
  for (long n = 0; n < count.count; ++n) {
    {
      const bool partial = n % 2 == 1;
      SCOPED_TRACE("operation " + std::to_string(n) + (partial ? ", half written" : ""));
      io_faults f1{.fail_at = n, .partial = partial};
      io_faults f2 = f1;
      remove_outputs();
      const outcome one = run({.tick_every = 3, .faults = &f1}, false);
      remove_outputs();
      const outcome two = run({.tick_every = 3, .faults = &f2}, true);
      EXPECT_EQ(one.status, 1);
      EXPECT_EQ(one, two);
      EXPECT_EQ(f1.count, f2.count) << "no output operation after the failing one";
      // The next run, on one thread, completes both alike.
      const outcome after = run({.tick_every = 2}, false);
      EXPECT_EQ(after.status, 0);
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(threaded_runs, count.count / 2) << "most failures fell while the writer had its thread";
}

TEST_F(writer_thread, an_operator_stop_leaves_what_one_thread_leaves_and_the_next_run_goes_on) {
  write_bytes("V26342_1.AB", scene(40, 1.5, 21, 3, 3630));
  remove_outputs();
  const outcome whole = run({.tick_every = 2}, false);
  for (long stop : {3L, 20L, 60L, 120L}) {
    SCOPED_TRACE("Escape at poll " + std::to_string(stop));
    expect_same_run({.escape_at_poll = stop, .tick_every = 2});
    // Resumed with the writer's thread, the files end as those of one whole run.
    const outcome resumed = run({.tick_every = 2}, true);
    EXPECT_EQ(resumed.status, 0);
    EXPECT_EQ(resumed.files, whole.files);
  }
  EXPECT_GE(threaded_runs, 6);
}

TEST_F(writer_thread, a_failure_of_the_data_after_pairs_were_handed_over_comes_after_their_records) {
  // Time running backwards in camera A after twenty drops.
  std::vector<u8> bytes = scene(20, 0.3, 3);
  const std::vector<u8> again = scene(10, 0.3, 4);
  bytes.insert(bytes.end(), again.begin(), again.end());
  write_bytes("V26342_1.AB", bytes);
  remove_outputs();
  const outcome one = run({.tick_every = 2}, false);
  EXPECT_EQ(one.status, 1);
  EXPECT_NE(one.err.find("neg. time jump"), std::string::npos);
  remove_outputs();
  EXPECT_EQ(run({.tick_every = 2}, true), one);

  // A header valid from an earlier second after records were written: the message shows
  // the length of the record before it, which the writer's thread had not yet written.
  rawkit::scene_options late;
  late.drops = 12;
  late.seed = 8;
  late.header_second = 3500;
  late.start_second = 3700;
  bytes = scene(20, 0.3, 3);
  const std::vector<u8> older = rawkit::rain_scene(late).data();
  bytes.insert(bytes.end(), older.begin(), older.end());
  write_bytes("V26342_1.AB", bytes);
  remove_outputs();
  const outcome jump = run({.tick_every = 2}, false);
  EXPECT_EQ(jump.status, 1);
  EXPECT_NE(jump.err.find(" len_prev = "), std::string::npos);
  remove_outputs();
  EXPECT_EQ(run({.tick_every = 2}, true), jump);

  // The same right after a new header: the record before it is that header.
  rawkit::raw_builder b;
  b.bytes(scene(20, 0.3, 3));
  b.header(rawkit::sample_header(20796u * 86400u + 3650));
  b.header(rawkit::sample_header(20796u * 86400u + 3500));
  write_bytes("V26342_1.AB", b.data());
  remove_outputs();
  const outcome after_header = run({.tick_every = 2}, false);
  EXPECT_EQ(after_header.status, 1);
  EXPECT_NE(after_header.err.find(" len_prev = 0 74"), std::string::npos) << after_header.err;
  remove_outputs();
  EXPECT_EQ(run({.tick_every = 2}, true), after_header);
  EXPECT_EQ(threaded_runs, 3);
}

// Whether each thread of this process, by its id, has the stop signals (SIGINT = bit 1,
// SIGTERM = bit 14) blocked, from the kernel's view of it.
std::map<long, bool> stop_signals_blocked_per_thread() {
  std::map<long, bool> out;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("SigBlk:", 0) != 0) continue;
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      out[std::stol(task.path().filename().string())] =
          (mask >> (SIGINT - 1) & 1) != 0 && (mask >> (SIGTERM - 1) & 1) != 0;
    }
  }
  return out;
}

TEST(stop_signals, never_reach_the_writers_thread) {
  // Ctrl-C and SIGTERM must reach the session's thread alone, as on one thread: delivered to
  // the writer's thread, they would interrupt its writes and end the run as a write failure.
  // (A sanitizer's runtime may start threads of its own; they block every signal.)
  const long self = static_cast<long>(::gettid());
  const std::map<long, bool> before = stop_signals_blocked_per_thread();
  ASSERT_EQ(before.count(self), 1u);
  ASSERT_FALSE(before.at(self));
  auto wr = std::make_unique<writer_state>();
  auto pos = std::make_unique<raw_positions>();
  auto corr = std::make_unique<corr_tables_rec>();
  const record_pipeline pipe(*wr, *pos, *corr, diagnostics{}, {});
  int started = 0;
  for (const auto& [tid, blocked] : stop_signals_blocked_per_thread()) {
    if (tid == self) {
      EXPECT_FALSE(blocked) << "the session's thread takes them";
    } else if (before.count(tid) == 0) {
      ++started;
      EXPECT_TRUE(blocked) << "thread " << tid << " started with the writer";
    }
  }
  EXPECT_GE(started, 1) << "the writer's thread";
}

}  // namespace
}  // namespace dropix
