// The processing pass: how the two camera readers walk the blocks, and the ends of the data.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/fixture.h"
#include "reader/hyd_reader.h"
#include "tests/support/passes.h"
#include "kit/rawbuild.h"
#include "kit/scene.h"

namespace dropix {
namespace {

using rawkit::raw_builder;
using rawkit::scan_line;
using testing::dropix_test;
using testing::pass_options;
using testing::read_bytes;
using testing::run_passes;

constexpr u32 midnight = 20796u * 86400u;

// A camera line block whose lines end at line `last`.
std::vector<scan_line> lines_ending(f64 last, int n = 3) {
  std::vector<scan_line> out;
  for (int i = n - 1; i >= 0; --i) out.push_back({last - i, {{100, 104}}});
  return out;
}

class pass : public dropix_test {
 protected:
  void SetUp() override {
    dropix_test::SetUp();
    testing::write_default_config();
  }
  // The order in which the readers took the blocks: "|" starts a pass, then each block's type.
  static std::string walk_of(const std::string& trace) {
    std::istringstream in(trace);
    std::string line, walk;
    while (std::getline(in, line)) {
      if (line.rfind("makepix enc.:", 0) == 0) walk += "|";
      if (line.rfind("A_B_ident=", 0) == 0) walk += line.substr(10, line.find(' ') - 10);
    }
    return walk;
  }
  testing::pass_result traced_run(const std::string& raw_file) {
    diag.trace_flag = 1;
    return run_passes(raw_file);
  }
};

TEST_F(pass, both_readers_walk_the_six_block_example) {
  raw_builder()
      .header(rawkit::sample_header(midnight, 1000.0))
      .lines(ident_camera_a, lines_ending(100))
      .lines(ident_camera_b, lines_ending(90))
      .lines(ident_camera_b, lines_ending(120))
      .lines(ident_camera_a, lines_ending(200))
      .lines(ident_camera_b, lines_ending(210))
      .write(testing::test_path("V26342_1.AB"));
  const auto r = traced_run("V26342_1.AB");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.passes, 3);
  // Pass 1: A takes the header and block 1; B the header again, skips block 1, takes 2 and 3.
  // Pass 2: A skips 2 and 3 and takes 4; B skips 4 and takes 5. Pass 3: A skips 5 and ends.
  EXPECT_EQ(walk_of(r.out), "|3131" "22" "|221" "12" "|2");
  EXPECT_EQ(mp.last_a, 200.0);
  EXPECT_EQ(mp.last_b, 210.0);
  // The header was offered by both readers and written once, before the two drops.
  const auto recs = reader::read_hyd(read_bytes("V26342_1.hyd"));
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_TRUE(recs[0].is_header);
  EXPECT_EQ(recs[1].drop.y_first, 98.0);
  EXPECT_EQ(recs[2].drop.y_first, 198.0);
  EXPECT_EQ(err_text(), "");
}

TEST_F(pass, a_drop_is_paired_once_both_cameras_reach_1200_lines_past_it) {
  raw_builder b;
  b.header(rawkit::sample_header(midnight, 1000.0))
      .lines(ident_camera_a, lines_ending(5000, 6))
      .lines(ident_camera_b, lines_ending(5080, 7));
  b.write(testing::test_path("V26342_1.AB"));
  // Within 1200 lines of the end of the data the drop's partner might still be to come.
  EXPECT_EQ(run_passes("V26342_1.AB").status, 0);
  EXPECT_EQ(mp.total, 0);
  EXPECT_EQ(reader::read_hyd(read_bytes("V26342_1.hyd")).size(), 1u);
  // The file grows past it: the next run pairs it.
  b.reach(5000 - 5 + 1200 + 1);
  b.write(testing::test_path("V26342_1.AB"));
  EXPECT_EQ(run_passes("V26342_1.AB").status, 0);
  EXPECT_EQ(mp.total, 1);
  EXPECT_EQ(reader::read_hyd(read_bytes("V26342_1.hyd")).size(), 2u);
}

TEST_F(pass, camera_b_behind_camera_a_at_the_end_holds_the_horizon_back) {
  // Camera B's data end 1000 lines before camera A's: a camera A object is paired only when
  // camera B's lines reach 1200 lines past it.
  raw_builder b;
  b.header(rawkit::sample_header(midnight, 1000.0))
      .lines(ident_camera_a, lines_ending(5000, 6))
      .lines(ident_camera_b, lines_ending(5080, 7))
      .lines(ident_camera_b, {{5000 - 5 + 1199, {{10, 11}}}})   // camera B reaches 1199 lines past it
      .lines(ident_camera_a, {{5000 + 3000, {{10, 11}}}});      // camera A much further
  b.write(testing::test_path("V26342_1.AB"));
  EXPECT_EQ(run_passes("V26342_1.AB").status, 0);
  EXPECT_EQ(mp.total, 0) << "camera B's lines do not reach 1200 lines past the drop";
  b.lines(ident_camera_b, {{5000 - 5 + 1201, {{10, 11}}}});
  b.write(testing::test_path("V26342_1.AB"));
  EXPECT_EQ(run_passes("V26342_1.AB").status, 0);
  EXPECT_EQ(mp.total, 1);
}

TEST_F(pass, every_drop_seen_by_both_cameras_is_one_pair) {
  rawkit::scene_options opt;
  opt.drops = 12;
  opt.foreign_every = 4;
  rawkit::rain_scene(opt).write(testing::test_path("V26342_1.AB"));
  const auto r = run_passes("V26342_1.AB");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(mp.total, 12);
  EXPECT_EQ(r.passes, 14) << "one pass per camera A block (12 drops and the closing speck), and one to find the end";
}

TEST_F(pass, with_only_camera_a_blocks_each_pass_ends_without_matching) {
  raw_builder()
      .header(rawkit::sample_header(midnight, 1000.0))
      .lines(ident_camera_a, lines_ending(100))
      .lines(ident_camera_a, lines_ending(200))
      .write(testing::test_path("V26342_1.AB"));
  const auto r = traced_run("V26342_1.AB");
  EXPECT_EQ(r.status, 0);
  // Pass 1 ends with camera B at the end of the file; pass 2 takes the last block, which
  // leaves camera A at the end too.
  EXPECT_EQ(r.passes, 2);
  EXPECT_NE(r.out.find("feof found reading B"), std::string::npos);
  EXPECT_EQ(r.out.find("calling findmatch"), std::string::npos);
  EXPECT_EQ(mp.cnt_a, 6);
  EXPECT_EQ(mp.cnt_b, 0);
}

TEST_F(pass, a_pass_tells_whether_it_paired_or_found_camera_b_behind) {
  raw_builder()
      .header(rawkit::sample_header(midnight, 1000.0))
      .lines(ident_camera_a, lines_ending(100))
      .lines(ident_camera_a, lines_ending(200))
      .write(testing::test_path("V26342_1.AB"));
  testing::prepare_run("V26342_1.AB");
  EXPECT_EQ(ses.makepix(), pass_outcome::camera_b_behind);
  EXPECT_EQ(ses.makepix(), pass_outcome::data_used_up);
  EXPECT_EQ(mp.eof_a, 1);
  EXPECT_EQ(mp.eof_b, 1);
}

TEST_F(pass, an_empty_raw_file_ends_in_the_first_pass) {
  raw_builder().write(testing::test_path("V26342_1.AB"));
  const auto r = run_passes("V26342_1.AB");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.passes, 1);
  EXPECT_EQ(read_bytes("V26342_1.hyd").size(), 0u);
}

TEST_F(pass, foreign_blocks_and_empty_bodies_are_stepped_over_silently) {
  raw_builder()
      .header(rawkit::sample_header(midnight, 1000.0))
      .block(0, {9, 9, 9})
      .block(7, {})
      .lines(ident_camera_a, lines_ending(100))
      .block(7, {1})
      .lines(ident_camera_b, lines_ending(150))
      .write(testing::test_path("V26342_1.AB"));
  const auto r = run_passes("V26342_1.AB");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(mp.last_a, 100.0);
  EXPECT_EQ(mp.last_b, 150.0);
  EXPECT_EQ(err_text(), "");
}

TEST_F(pass, a_block_that_fails_to_decode_still_ends_the_camera_a_step) {
  raw_builder()
      .header(rawkit::sample_header(midnight, 1000.0))
      .block(ident_camera_a, {0, 0})  // n_lin 0
      .lines(ident_camera_a, lines_ending(100))
      .lines(ident_camera_b, lines_ending(150))
      .write(testing::test_path("V26342_1.AB"));
  diag.trace_flag = 1;
  const auto r = run_passes("V26342_1.AB");
  EXPECT_EQ(r.status, 0);
  // Pass 1 ends camera A's step at the failed block, and camera B, not driven by it, reads
  // nothing in that pass.
  EXPECT_EQ(walk_of(r.out).substr(0, 6), "|31|1" "3");
  EXPECT_EQ(err_text(), " decmpr failed, block skipped \n");
}

TEST_F(pass, a_cut_tail_is_reported_once_per_reader_and_the_run_ends_normally) {
  raw_builder b;
  b.header(rawkit::sample_header(midnight, 1000.0))
      .lines(ident_camera_a, lines_ending(100))
      .lines(ident_camera_b, lines_ending(150));
  const std::size_t cut_at = b.size();
  std::vector<u8> tail = rawkit::encode_line_block(lines_ending(300));
  u8 framing[4];
  put_s16(framing, ident_camera_a);
  put_s16(framing + 2, static_cast<s16>(tail.size()));
  b.bytes({framing, framing + 4}).bytes({tail.begin(), tail.begin() + 6});
  b.write(testing::test_path("V26342_1.AB"));
  const auto r = run_passes("V26342_1.AB");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(mp.last_a, 100.0) << "the cut block is not decoded";
  const std::string msg = "block at offset " + std::to_string(cut_at) + " needs " +
                          std::to_string(4 + tail.size()) + " bytes, but the raw file ends at " +
                          std::to_string(b.size()) + ": camera ";
  EXPECT_EQ(err_text(), msg + "A reader stops there\n" + msg + "B reader stops there\n");
}

TEST_F(pass, a_negative_length_is_corrupt_data_and_ends_the_run_after_a_flush) {
  raw_builder b;
  b.header(rawkit::sample_header(midnight, 1000.0)).lines(ident_camera_a, lines_ending(100));
  const std::size_t bad_at = b.size();
  b.block(ident_camera_b, -20, {1, 2, 3});
  b.write(testing::test_path("V26342_1.AB"));
  const auto r = run_passes("V26342_1.AB");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(err_text(), "corrupt raw file: block at offset " + std::to_string(bad_at) +
                            " has the negative length -20\n");
  // The last flush rewrote the resume file: it holds camera A's minute entry.
  EXPECT_EQ(read_bytes("V26342_1.abh").size(), abh_fmt::size);
}

TEST_F(pass, the_periodic_flush_request_comes_after_at_least_four_seconds) {
  raw_builder b;
  b.header(rawkit::sample_header(midnight, 1000.0));
  for (int i = 1; i <= 12; ++i) b.lines(ident_camera_a, lines_ending(100.0 * i));
  b.write(testing::test_path("V26342_1.AB"));
  testing::prepare_run("V26342_1.AB");
  host.clock = 1000;
  ses.makepix();
  EXPECT_EQ(mp.last_flush, 1000) << "the first pass always asks for a flush";
  host.clock = 1003;
  ses.makepix();
  EXPECT_EQ(mp.last_flush, 1000);
  host.clock = 1004;
  ses.makepix();
  EXPECT_EQ(mp.last_flush, 1004);
  EXPECT_EQ(wr.wr_time, 1004) << "the request reached the writer";
}

}  // namespace
}  // namespace dropix
