// The program's full output on raw files from the builder, checked byte for byte and field
// by field, and a real stop with a signal followed by a resumed run.
#include <signal.h>

#include <filesystem>

#include "tests/e2e/e2e_support.h"
#include "reader/hyd_reader.h"
#include "kit/scene.h"

namespace dropix::e2e {
namespace {

using rawkit::raw_builder;

class output : public e2e_test {
 protected:
  void scene(int drops, unsigned seed = 3) {
    opt.drops = drops;
    opt.seed = seed;
    opt.header_every = 10;
    rawkit::rain_scene(opt).write(path("V26342_1.AB"));
  }
  rawkit::scene_options opt;
};

TEST_F(output, a_fresh_run_writes_every_drop_with_its_silhouettes) {
  scene(12);
  const auto r = run({"V26342_1.AB"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(text("DROPIX.ERR").find("QX5 starts at"), 1u);
  EXPECT_EQ(text("DROPIX.ERR").find('\n', 2), text("DROPIX.ERR").size() - 1) << "a clean log";

  std::string error;
  const auto recs = reader::read_hyd(bytes("V26342_1.hyd"), &error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(recs.size(), 13u);
  ASSERT_TRUE(recs[0].is_header);
  EXPECT_EQ(recs[0].header.main_time, opt.midnight + opt.header_second);
  EXPECT_STREQ(recs[0].header.file_name, "V26342_1.hyd");
  const auto drops = rawkit::scene_drops(opt);
  for (std::size_t k = 0; k < drops.size(); ++k) {
    SCOPED_TRACE("drop " + std::to_string(k));
    const auto& rec = recs[k + 1];
    const auto want_a = rawkit::disc_lines(drops[k].y_a, drops[k].lines, drops[k].centre_a, drops[k].width);
    const auto want_b = rawkit::disc_lines(drops[k].y_a + opt.delay_lines, drops[k].lines + 1, drops[k].centre_b,
                                           drops[k].width * 0.97);
    EXPECT_EQ(rec.drop.y_first, drops[k].y_a);
    EXPECT_EQ(rec.drop.lines_a, drops[k].lines);
    EXPECT_EQ(rec.drop.lines_diff, 1);
    EXPECT_EQ(rec.drop.diff_lins, 2 * opt.delay_lines + 1);
    EXPECT_EQ(rec.drop.len_prev, static_cast<s16>(recs[k].length));
    ASSERT_EQ(rec.a.size(), want_a.size());
    ASSERT_EQ(rec.b.size(), want_b.size());
    for (std::size_t i = 0; i < want_a.size(); ++i) {
      EXPECT_EQ(rec.a[i].first, want_a[i].runs[0].first);
      EXPECT_EQ(rec.a[i].last, want_a[i].runs[0].last);
    }
    for (std::size_t i = 0; i < want_b.size(); ++i) {
      EXPECT_EQ(rec.b[i].first, want_b[i].runs[0].first);
      EXPECT_EQ(rec.b[i].last, want_b[i].runs[0].last);
    }
    EXPECT_GT(rec.drop.diam_100, 0);
    EXPECT_GT(rec.drop.yscale_10k, 0);
  }
  const auto hd = reader::read_hd(bytes("V26342_1.hd"));
  EXPECT_EQ(bytes("V26342_1.hd").size(), hd_fmt::head_size + main_rec_fmt::size);
  EXPECT_EQ(hd.oldlen, static_cast<s16>(recs.back().length));
  EXPECT_EQ(hd.pos_pix[0], 0u);
  const int minute = static_cast<int>(drops[0].y_a / (opt.line_fr * 60));
  EXPECT_EQ(hd.pos_pix[minute], recs[1].offset);
  EXPECT_EQ(bytes("V26342_1.abh").size(), abh_fmt::size);
  EXPECT_EQ(reader::read_abh(bytes("V26342_1.abh")).lastpix_y, static_cast<u32>(drops.back().y_a));
}

TEST_F(output, output_goes_to_the_directories_of_the_settings) {
  std::filesystem::create_directories(path("hyd"));
  std::filesystem::create_directories(path("resume"));
  write("DROPIX.SET", settings(path("hyd"), path("resume")));
  scene(3);
  ASSERT_EQ(run({"V26342_1.AB"}).status, 0);
  EXPECT_TRUE(exists("hyd/V26342_1.hyd"));
  EXPECT_TRUE(exists("hyd/V26342_1.hd"));
  EXPECT_TRUE(exists("resume/V26342_1.abh"));
}

TEST_F(output, an_output_file_that_cannot_be_created_ends_the_run_with_status_1) {
  // The output directory is a plain file: no output file can be made under it, whoever runs.
  write("plain", std::string("not a directory"));
  write("DROPIX.SET", settings("plain", ""));
  scene(3);
  EXPECT_EQ(run({"V26342_1.AB"}).status, 1);
  EXPECT_NE(text("DROPIX.ERR").find(" pixfil01 : Not a directory"), std::string::npos);
}

TEST_F(output, a_missing_output_directory_ends_the_run_with_status_1) {
  write("DROPIX.SET", settings("missing", ""));
  scene(3);
  EXPECT_EQ(run({"V26342_1.AB"}).status, 1);
  EXPECT_NE(text("DROPIX.ERR").find(" pixfil01 : No such file or directory"), std::string::npos);
}

TEST_F(output, a_run_stopped_by_a_signal_and_run_again_gives_the_same_files) {
  scene(30000, 5);
  ASSERT_EQ(run({"V26342_1.AB"}).status, 0);
  const auto hyd = bytes("V26342_1.hyd"), hd = bytes("V26342_1.hd"), abh = bytes("V26342_1.abh");
  for (const char* f : {"V26342_1.hyd", "V26342_1.hd", "V26342_1.abh"}) std::filesystem::remove(path(f));
  const auto stopped = testing::run_on_terminal({"V26342_1.AB"}, dir_, "A:", [](int pid, int) { ::kill(pid, SIGTERM); });
  // The signal follows the first status block, long before 30000 drops are done.
  EXPECT_EQ(stopped.status, 143);
  EXPECT_LT(bytes("V26342_1.hyd").size(), hyd.size());
  ASSERT_EQ(run({"V26342_1.AB"}).status, 0);
  EXPECT_EQ(bytes("V26342_1.hyd"), hyd);
  EXPECT_EQ(bytes("V26342_1.hd"), hd);
  EXPECT_EQ(bytes("V26342_1.abh"), abh);
}

}  // namespace
}  // namespace dropix::e2e
