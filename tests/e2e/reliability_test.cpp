// The program's ends under the conditions a station meets: a second run on the same outputs,
// a raw file that is a pipe, a raw file past what the resume tables address, a disk that is
// full; each ends with status 1 and a message naming the file and the cause, and loses nothing.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "kit/scene.h"
#include "reader/hyd_reader.h"
#include "tests/e2e/e2e_support.h"

namespace dropix::e2e {
namespace {

using rawkit::raw_builder;

class reliability : public e2e_test {};

// True while another open description of the file holds its lock.
bool locked_by_another(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  return held;
}

TEST_F(reliability, a_second_run_on_the_same_outputs_is_refused_at_once) {
  raw_builder b;
  b.header(rawkit::sample_header(20796u * 86400u, 55000.0));
  for (int i = 0; i < 300000; ++i) b.lines(ident_camera_a, {{55000.0 * 3600 + 10 * i, {{10, 20}}}});
  b.write(path("V26342_1.AB"));
  const int first = testing::start_dropix({"V26342_1.AB"}, dir_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!locked_by_another(path("V26342_1.hyd")) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(locked_by_another(path("V26342_1.hyd"))) << "the first run holds the lock";
  const auto second = run({"/e", "V26342_1.AB"});
  ::kill(first, SIGTERM);
  EXPECT_EQ(testing::wait_dropix(first), 143);
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.out.find("V26342_1.hyd is being written by another DROPIX run"), std::string::npos) << second.out;
  // The lock died with the run that held it.
  EXPECT_FALSE(locked_by_another(path("V26342_1.hyd")));
}

TEST_F(reliability, a_run_killed_at_any_moment_is_completed_by_the_next) {
  // Killed outright, the run leaves whatever its two threads had done: records on disk
  // (synced before .hd and .abh point at them), commands and records not yet written lost.
  // The next run writes the lost ones again.
  rawkit::scene_options opt;
  opt.drops = 60000;
  opt.mean_gap_s = 0.005;
  opt.header_every = 500;
  opt.seed = 17;
  rawkit::rain_scene(opt).write(path("V26342_1.AB"));
  const char* const outputs[] = {"V26342_1.hyd", "V26342_1.hd", "V26342_1.abh"};
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(run({"V26342_1.AB"}).status, 0);
  const auto whole_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  std::vector<std::vector<u8>> reference;
  for (const char* f : outputs) reference.push_back(bytes(f));
  int cut_short = 0;
  for (int k = 1; k <= 6; ++k) {
    SCOPED_TRACE("killed after " + std::to_string(k) + "/7 of a run");
    for (const char* f : outputs) std::filesystem::remove(path(f));
    const int pid = testing::start_dropix({"V26342_1.AB"}, dir_);
    std::this_thread::sleep_for(std::chrono::milliseconds(whole_ms * k / 7));
    ::kill(pid, SIGKILL);
    testing::wait_dropix(pid);
    cut_short += bytes("V26342_1.hyd").size() < reference[0].size() ? 1 : 0;
    ASSERT_EQ(run({"V26342_1.AB"}).status, 0);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(bytes(outputs[i]), reference[i]) << outputs[i];
  }
  EXPECT_GT(cut_short, 2) << "kills fell before the run was done; the whole run took " << whole_ms << " ms";
}

TEST_F(reliability, a_raw_file_that_is_a_pipe_is_refused_without_waiting) {
  ASSERT_EQ(::mkfifo(path("V26342_1.AB").c_str(), 0600), 0);
  const auto r = testing::run_dropix({"V26342_1.AB"}, dir_, 20);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(text("DROPIX.ERR").find("rawfil02: V26342_1.AB is not a regular file (a pipe or a device): refused"),
            std::string::npos)
      << text("DROPIX.ERR");
  EXPECT_FALSE(exists("V26342_1.hyd"));
}

TEST_F(reliability, a_raw_file_past_4_gib_is_read_up_to_there_and_the_run_ends_saying_so) {
  // A header, one drop, then foreign blocks of the longest body chaining beyond 4 GiB
  // (a sparse file: the bodies take no disk), and a drop beyond.
  const std::string raw_path = path("V26342_1.AB");
  raw_builder head;
  const f64 y = 55000.0 * 3700;
  head.header(rawkit::sample_header(20796u * 86400u + 3600, 55000.0))
      .lines(ident_camera_a, rawkit::disc_lines(y, 10, 100, 12))
      .lines(ident_camera_b, rawkit::disc_lines(y + 80, 11, 300, 12))
      .reach(y + 3000);
  head.write(raw_path);
  const int fd = ::open(raw_path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  s64 at = static_cast<s64>(head.size());
  const s64 beyond = 0x100000000LL + 5000;
  u8 framing[4];
  put_s16(framing, 7);
  put_s16(framing + 2, 32767);
  while (at < beyond) {
    ASSERT_EQ(::pwrite(fd, framing, 4, at), 4);
    at += 4 + 32767;
  }
  raw_builder tail;
  tail.lines(ident_camera_a, rawkit::disc_lines(y + 10000, 10, 100, 12))
      .lines(ident_camera_b, rawkit::disc_lines(y + 10080, 11, 300, 12))
      .reach(y + 20000);
  ASSERT_EQ(::pwrite(fd, tail.data().data(), tail.size(), at), static_cast<ssize_t>(tail.size()));
  ::close(fd);
  const auto r = run({"V26342_1.AB"});
  EXPECT_EQ(r.status, 1);
  const std::string log = text("DROPIX.ERR");
  EXPECT_NE(log.find("V26342_1.AB is " + std::to_string(at + static_cast<s64>(tail.size())) +
                     " bytes long, but the resume tables address 4294967295 bytes at most: the data beyond are not "
                     "read; everything before them is written"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("raw file ends at"), std::string::npos) << log;
  std::string error;
  const auto recs = reader::read_hyd(bytes("V26342_1.hyd"), &error);
  ASSERT_EQ(recs.size(), 2u) << "the header and the drop before 4 GiB";
  EXPECT_EQ(recs[1].drop.y_first, y);
}

// A small filesystem of its own (needs the right to mount one; skipped elsewhere).
class full_disk : public e2e_test {
 protected:
  void SetUp() override {
    e2e_test::SetUp();
    mount_point = path("small");
    std::filesystem::create_directory(mount_point);
    if (::mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=128k") != 0)
      GTEST_SKIP() << "no small filesystem can be mounted here";
    mounted = true;
  }
  void TearDown() override {
    if (mounted) ::umount(mount_point.c_str());
    e2e_test::TearDown();
  }
  std::string mount_point;
  bool mounted = false;
};

TEST_F(full_disk, a_full_disk_ends_the_run_and_a_run_after_space_is_freed_loses_nothing) {
  rawkit::scene_options opt;
  opt.drops = 400;
  opt.mean_gap_s = 0.05;
  rawkit::rain_scene(opt).write(path("V26342_1.AB"));
  // The reference: the same run on a roomy disk.
  std::filesystem::create_directory(path("roomy"));
  write("DROPIX.SET", settings("roomy/", "roomy/"));
  ASSERT_EQ(run({"V26342_1.AB"}).status, 0);
  const std::vector<u8> want = bytes("roomy/V26342_1.hyd");
  ASSERT_GT(want.size(), 20000u);
  // A filler leaves room for .hd (8 KiB of pages), .abh (12 KiB) and 12 KiB of .hyd: less
  // than the .hyd needs.
  write("DROPIX.SET", settings("small/", "small/"));
  write("small/filler", std::vector<u8>(96 * 1024, 0x55));
  const auto full = run({"V26342_1.AB"});
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(text("DROPIX.ERR").find("small/V26342_1.hyd cannot be written (No space left on device)"), std::string::npos)
      << text("DROPIX.ERR");
  std::filesystem::remove(path("small/filler"));
  ASSERT_EQ(run({"V26342_1.AB"}).status, 0) << text("DROPIX.ERR");
  EXPECT_EQ(bytes("small/V26342_1.hyd"), want);
  EXPECT_EQ(bytes("small/V26342_1.hd"), bytes("roomy/V26342_1.hd"));
  EXPECT_EQ(bytes("small/V26342_1.abh"), bytes("roomy/V26342_1.abh"));
}

}  // namespace
}  // namespace dropix::e2e
