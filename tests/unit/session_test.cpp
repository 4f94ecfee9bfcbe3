// Sessions as a library holds them: two runs in one process, a session used for a second
// file, and the run's directory instead of the current one.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "kit/config.h"
#include "kit/scene.h"
#include "session/session.h"
#include "tests/support/fake_host.h"
#include "tests/support/fixture.h"

namespace dropix {
namespace {

struct station {
  std::string dir;
  testing::fake_host host;
  std::unique_ptr<session> s;
};

std::string fresh_dir() {
  char tmpl[] = "/tmp/dropix-session-XXXXXX";
  return ::mkdtemp(tmpl);
}

// A directory with its settings, corrections and a rain scene of `drops` drops.
void set_up(station& st, unsigned seed, int drops) {
  st.dir = fresh_dir();
  std::filesystem::create_directory(st.dir + "/out");
  rawkit::write_text(st.dir + "/DROPIX.SET", rawkit::settings_text("out/", "out/"));
  rawkit::write_text(st.dir + "/corrfact.dat", rawkit::corrfact_text(2.0));
  rawkit::scene_options opt;
  opt.drops = drops;
  opt.seed = seed;
  opt.header_every = 7;
  rawkit::rain_scene(opt).write(st.dir + "/V26342_1.AB");
  st.s = std::make_unique<session>(st.host, run_options{false, false, "V26342_1.AB", st.dir});
}

std::vector<u8> file(const std::string& path) { return testing::read_bytes(path); }

struct outputs {
  std::vector<u8> hyd, hd, abh;
  bool operator==(const outputs&) const = default;
};

outputs outputs_of(const std::string& dir) {
  return {file(dir + "/out/V26342_1.hyd"), file(dir + "/out/V26342_1.hd"), file(dir + "/out/V26342_1.abh")};
}

// Each station processed alone, from scratch, for reference.
outputs solo(unsigned seed, int drops) {
  station st;
  set_up(st, seed, drops);
  EXPECT_EQ(st.s->run(), 0);
  const outputs o = outputs_of(st.dir);
  std::filesystem::remove_all(st.dir);
  return o;
}

TEST(sessions, two_runs_in_one_process_do_not_meet) {
  const outputs ref1 = solo(3, 30), ref2 = solo(4, 45);
  ASSERT_NE(ref1.hyd, ref2.hyd);
  station one, two;
  set_up(one, 3, 30);
  set_up(two, 4, 45);
  // Pass by pass in turn, as two threads of a batch could: neither run sees the other's state.
  bool done1 = false, done2 = false;
  while (!done1 || !done2) {
    if (!done1) done1 = one.s->makepix() == pass_outcome::data_used_up;
    if (!done2) done2 = two.s->makepix() == pass_outcome::data_used_up;
  }
  EXPECT_EQ(one.s->finish(exit_status::done), 0);
  EXPECT_EQ(two.s->finish(exit_status::done), 0);
  EXPECT_EQ(outputs_of(one.dir), ref1);
  EXPECT_EQ(outputs_of(two.dir), ref2);
  EXPECT_EQ(one.s->mp.total, 30);
  EXPECT_EQ(two.s->mp.total, 45);
  // Each run wrote its banner and status to its own screen.
  EXPECT_NE(one.host.out.find("DROPIX"), std::string::npos);
  EXPECT_EQ(one.host.out.find("DROPIX stopped"), std::string::npos);
  for (station* st : {&one, &two}) std::filesystem::remove_all(st->dir);
}

TEST(sessions, a_session_reset_for_another_run_starts_afresh) {
  const outputs ref = solo(5, 20);
  station st;
  set_up(st, 6, 25);
  EXPECT_EQ(st.s->run(), 0);
  // The same session, now on another station's directory.
  station other;
  set_up(other, 5, 20);
  st.s->reset(run_options{false, false, "V26342_1.AB", other.dir});
  EXPECT_EQ(st.s->run(), 0);
  EXPECT_EQ(outputs_of(other.dir), ref);
  EXPECT_EQ(st.s->mp.total, 20);
  for (station* s : {&st, &other}) std::filesystem::remove_all(s->dir);
}

TEST(sessions, a_run_reports_to_the_error_log_of_its_own_directory) {
  station st;
  set_up(st, 7, 5);
  std::filesystem::remove(st.dir + "/corrfact.dat");
  EXPECT_EQ(st.s->run(), 1);
  const std::string log = testing::read_text(st.dir + "/DROPIX.ERR");
  EXPECT_EQ(log.rfind("\nQX5 starts at ", 0), 0u) << log;
  EXPECT_NE(log.find("tables01: No such file or directory\n"), std::string::npos) << log;
  EXPECT_NE(st.host.out.find("could not open corrfact.dat \n"), std::string::npos);
  EXPECT_NE(st.host.out.find("DROPIX stopped with an error: see DROPIX.ERR"), std::string::npos);
  std::filesystem::remove_all(st.dir);
}

}  // namespace
}  // namespace dropix
