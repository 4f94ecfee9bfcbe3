// The reliability campaign in small form. A raw file still being written, a write that fails
// at any output operation, outputs deleted, cut or overwritten between runs, a header repeated
// with other parameters: each time the runs that follow must end with the files of one
// uninterrupted run on the whole raw file, and nothing may be lost.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "kit/scene.h"
#include "reader/hyd_reader.h"
#include "tests/support/fixture.h"
#include "tests/support/passes.h"

namespace dropix {
namespace {

using testing::pass_options;
using testing::read_bytes;
using testing::run_passes;
using testing::write_bytes;

using output = testing::run_outputs;
using testing::remove_outputs;

output take_output() { return testing::read_outputs(); }
void put_output(const output& o) { testing::write_outputs(o); }

class campaign : public testing::dropix_test {
 protected:
  void SetUp() override {
    testing::write_default_config();
    rawkit::scene_options opt;
    opt.drops = 40;
    opt.mean_gap_s = 0.6;  // some half minute of rain, over a minute boundary
    opt.start_second = 3659;
    opt.header_every = 9;
    opt.foreign_every = 7;
    opt.seed = 21;
    raw_bytes = rawkit::rain_scene(opt).data();
    write_bytes("V26342_1.AB", raw_bytes);
    const auto r = run_passes("V26342_1.AB", pass_options{.tick_every = 3});
    ASSERT_EQ(r.status, 0);
    reference = take_output();
    ASSERT_EQ(drops_in(reference.hyd), 40);
    remove_outputs();
  }
  static int drops_in(const std::vector<u8>& hyd) {
    int n = 0;
    for (const auto& rec : reader::read_hyd(hyd)) n += rec.is_header ? 0 : 1;
    return n;
  }
  // A run on the whole raw file, after whatever happened before, must end with the
  // reference files.
  void expect_reference_after_a_run(const pass_options& opt = {}) {
    write_bytes("V26342_1.AB", raw_bytes);
    const auto r = run_passes("V26342_1.AB", opt);
    EXPECT_EQ(r.status, 0) << err_text();
    EXPECT_TRUE(take_output() == reference);
  }
  // The files of a run stopped with Escape at key poll `stop`.
  output stopped_at(long stop) {
    remove_outputs();
    const auto r = run_passes("V26342_1.AB", pass_options{.escape_at_poll = stop, .tick_every = 2});
    EXPECT_EQ(r.status, 0);
    return take_output();
  }
  std::vector<u8> raw_bytes;
  output reference;
};

TEST_F(campaign, a_raw_file_still_being_written_loses_no_drop) {
  // Random sequences of cuts, inside blocks too, each run on what the file holds so far.
  std::mt19937 rng(7);
  for (int sequence = 0; sequence < 120; ++sequence) {
    remove_outputs();
    const int cuts = 1 + static_cast<int>(rng() % 4);
    std::vector<std::size_t> at;
    for (int i = 0; i < cuts; ++i) at.push_back(1 + rng() % (raw_bytes.size() - 1));
    std::sort(at.begin(), at.end());
    SCOPED_TRACE("sequence " + std::to_string(sequence));
    for (std::size_t cut : at) {
      write_bytes("V26342_1.AB", std::vector<u8>(raw_bytes.begin(), raw_bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
      ASSERT_EQ(run_passes("V26342_1.AB", pass_options{.tick_every = 1 + sequence % 5}).status, 0) << err_text();
    }
    expect_reference_after_a_run();
    if (HasFailure()) return;
  }
}

TEST_F(campaign, a_write_that_fails_at_any_output_operation_loses_nothing) {
  io_faults count;
  write_bytes("V26342_1.AB", raw_bytes);
  ASSERT_EQ(run_passes("V26342_1.AB", pass_options{.tick_every = 3, .faults = &count}).status, 0);
  ASSERT_TRUE(take_output() == reference);
  ASSERT_GT(count.count, 20) << "the writes of a run";
  for (long n = 0; n < count.count; ++n) {
    for (bool partial : {false, true}) {
      SCOPED_TRACE("operation " + std::to_string(n) + (partial ? ", half written" : ""));
      remove_outputs();
      io_faults fault;
      fault.fail_at = n;
      fault.partial = partial;
      const auto r = run_passes("V26342_1.AB", pass_options{.tick_every = 3, .faults = &fault});
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(err_text().find("cannot be written (No space left on device)"), std::string::npos);
      EXPECT_NE(r.out.find("DROPIX stopped with an error"), std::string::npos);
      // Space is freed, and the next run completes the files.
      expect_reference_after_a_run(pass_options{.tick_every = 2});
      if (HasFailure()) return;
    }
  }
}

TEST_F(campaign, a_resume_file_lost_or_behind_is_rebuilt) {
  const output stopped = stopped_at(120);
  ASSERT_LT(drops_in(stopped.hyd), 40);
  // The final flush killed after .hyd was complete, before .hd and .abh were rewritten.
  put_output({reference.hyd, stopped.hd, stopped.abh});
  expect_reference_after_a_run();
  put_output({reference.hyd, reference.hd, stopped.abh});
  expect_reference_after_a_run();
  // .abh deleted, emptied or cut while .hyd is complete.
  for (std::size_t keep : {std::size_t{0}, std::size_t{5000}, abh_fmt::size + 0}) {
    SCOPED_TRACE("abh of " + std::to_string(keep) + " bytes");
    put_output(reference);
    if (keep == abh_fmt::size) {
      std::filesystem::remove(testing::test_path("V26342_1.abh"));
    } else {
      write_bytes("V26342_1.abh", std::vector<u8>(reference.abh.begin(), reference.abh.begin() + static_cast<std::ptrdiff_t>(keep)));
    }
    expect_reference_after_a_run();
  }
}

TEST_F(campaign, a_hyd_deleted_or_cut_is_written_again) {
  // Deleted after a complete run, .hd and .abh still there.
  put_output(reference);
  std::filesystem::remove(testing::test_path("V26342_1.hyd"));
  expect_reference_after_a_run();
  // Deleted in the middle of a run.
  const output stopped = stopped_at(100);
  std::filesystem::remove(testing::test_path("V26342_1.hyd"));
  expect_reference_after_a_run();
  // Cut anywhere, also inside a record.
  for (std::size_t keep : {reference.hyd.size() / 2, reference.hyd.size() / 3 + 1, std::size_t{75}, std::size_t{10}}) {
    SCOPED_TRACE("hyd cut to " + std::to_string(keep) + " bytes");
    put_output(reference);
    write_bytes("V26342_1.hyd",
                std::vector<u8>(reference.hyd.begin(), reference.hyd.begin() + static_cast<std::ptrdiff_t>(keep)));
    expect_reference_after_a_run();
  }
  EXPECT_LT(drops_in(stopped.hyd), 40);
}

TEST_F(campaign, a_resume_file_overwritten_with_garbage_is_refused_and_rebuilt) {
  stopped_at(100);
  std::vector<u8> garbage(abh_fmt::size);
  std::mt19937 rng(3);
  for (u8& b : garbage) b = static_cast<u8>(rng());
  write_bytes("V26342_1.abh", garbage);
  expect_reference_after_a_run();
  EXPECT_NE(err_text().find("V26342_1.abh holds positions"), std::string::npos) << err_text();
}

TEST_F(campaign, a_header_file_lost_is_rebuilt_from_the_hyd) {
  stopped_at(140);
  std::filesystem::remove(testing::test_path("V26342_1.hd"));
  expect_reference_after_a_run();
  put_output(reference);
  write_bytes("V26342_1.hd", std::vector<u8>(reference.hd.begin(), reference.hd.begin() + 3000));
  expect_reference_after_a_run();
}

TEST_F(campaign, a_header_repeated_with_another_line_frequency_changes_nothing) {
  // The logger repeats the main header block; one repetition carries another line frequency.
  rawkit::scene_options opt;
  opt.drops = 12;
  opt.header_every = 4;
  opt.seed = 5;
  opt.reach_past = false;
  rawkit::raw_builder b = rawkit::rain_scene(opt);
  for (f64 bad : {34100.0, 0.0}) {
    hd_par h = rawkit::sample_header(opt.midnight + opt.header_second, bad);
    b.header(h);
  }
  const auto drops = rawkit::scene_drops(opt);
  b.reach(drops.back().y_a + 5000);
  b.write(testing::test_path("V26342_1.AB"));
  ASSERT_EQ(run_passes("V26342_1.AB").status, 0);
  const output first = take_output();
  EXPECT_NE(err_text().find("repeats valid_since"), std::string::npos);
  EXPECT_NE(err_text().find("has the line frequency 0: ignored"), std::string::npos);
  ASSERT_EQ(run_passes("V26342_1.AB").status, 0);
  EXPECT_TRUE(take_output() == first) << "a rerun with nothing new changes no byte";
  EXPECT_EQ(reader::read_hd(first.hd).headers.size(), 1u);
}

TEST_F(campaign, outputs_of_another_recording_are_refused) {
  put_output(reference);
  rawkit::scene_options opt;
  opt.drops = 10;
  opt.header_second = 7200;  // another recording of the same day, under the same name
  rawkit::rain_scene(opt).write(testing::test_path("V26342_1.AB"));
  const auto r = run_passes("V26342_1.AB");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(err_text().find("V26342_1.hyd belongs to another recording"), std::string::npos) << err_text();
  EXPECT_TRUE(take_output() == reference) << "nothing is touched";
}

TEST_F(campaign, data_beyond_what_the_resume_tables_address_end_the_run_saying_so) {
  // The tables hold 32-bit positions; a small limit stands in for the 4 GiB of a real file.
  const s64 limit = static_cast<s64>(raw_bytes.size() / 2);
  testing::prepare_run("V26342_1.AB");
  mp.raw_limit = limit;
  try {
    while (ses.makepix() != pass_outcome::data_used_up) {
    }
    ADD_FAILURE() << "the run ended as if the file were whole";
  } catch (const run_end& e) {
    EXPECT_EQ(ses.finish(e.status), 1);
  }
  EXPECT_NE(err_text().find("V26342_1.AB is " + std::to_string(raw_bytes.size()) + " bytes long, but the resume tables address " +
                            std::to_string(limit) + " bytes at most"),
            std::string::npos)
      << err_text();
  EXPECT_EQ(err_text().find("but the raw file ends at"), std::string::npos) << "no cut is claimed";
  const int written = drops_in(read_bytes("V26342_1.hyd"));
  EXPECT_GT(written, 5);
  EXPECT_LT(written, 40);
}

}  // namespace
}  // namespace dropix
