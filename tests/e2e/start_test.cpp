// Start-up, command line, error log and the ends of a run, on the real executable.
#include <signal.h>
#include <unistd.h>

#include "tests/e2e/e2e_support.h"

namespace dropix::e2e {
namespace {

using rawkit::raw_builder;

class start : public e2e_test {};

// Many camera A blocks of single-line specks: one pass each, nothing to write, long enough a
// run for a key or a signal to arrive while it goes on.
void busy_raw_file(const std::string& file) {
  raw_builder b;
  b.header(rawkit::sample_header(20796u * 86400u, 55000.0));
  for (int i = 0; i < 200000; ++i) b.lines(ident_camera_a, {{55000.0 * 3600 + 10 * i, {{10, 20}}}});
  b.write(file);
}

TEST_F(start, no_argument_prints_the_usage_and_exits_2_without_a_log_line) {
  const auto r = run({});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("\nDROPIX  filespec  [ /switch ]\n"), std::string::npos);
  EXPECT_FALSE(exists("DROPIX.ERR"));
}

TEST_F(start, option_text_exits_0_before_the_usage_check) {
  const auto r = run({"/?"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\nCommand line options are:\n\n    /e ... print stderr to screen \n"
                       "    /c ... calibration: do not apply adjustment factors \n"),
            std::string::npos);
  EXPECT_EQ(r.out.find("Invokation"), std::string::npos);
}

TEST_F(start, missing_raw_file_is_logged_and_exits_1_with_a_console_line) {
  const auto r = run({"V02310_1.AB"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("DROPIX stopped with an error: see DROPIX.ERR"), std::string::npos);
  const std::string log = text("DROPIX.ERR");
  EXPECT_EQ(log.rfind("\nQX5 starts at ", 0), 0u) << log;
  EXPECT_NE(log.find("rawfil01: could not open V02310_1.AB \nrawfil02: No such file or directory\n"),
            std::string::npos)
      << log;
}

TEST_F(start, a_directory_is_no_raw_file) {
  const auto r = run({"/tmp"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(text("DROPIX.ERR").find("rawfil02: Is a directory"), std::string::npos);
}

TEST_F(start, missing_settings_file_is_logged_and_exits_1) {
  ::unlink(path("DROPIX.SET").c_str());
  raw_builder().write(path("V02310_1.AB"));
  const auto r = run({"V02310_1.AB"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(text("DROPIX.ERR").find("rd_mp: DROPIX.SET ? : No such file or directory\n"), std::string::npos);
}

TEST_F(start, error_log_grows_by_one_start_line_per_run) {
  raw_builder().write(path("V02310_1.AB"));
  EXPECT_EQ(run({"V02310_1.AB"}).status, 0);
  EXPECT_EQ(run({"V02310_1.AB"}).status, 0);
  const std::string log = text("DROPIX.ERR");
  EXPECT_EQ(log.rfind("\nQX5 starts at ", 0), 0u);
  EXPECT_NE(log.find("\nQX5 starts at ", 1), std::string::npos);
}

TEST_F(start, with_e_the_error_stream_stays_on_the_screen) {
  const auto r = run({"V02310_1.AB", "/e"});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(exists("DROPIX.ERR"));
  EXPECT_NE(r.out.find("rawfil01: could not open V02310_1.AB"), std::string::npos);
  EXPECT_EQ(r.out.find("DROPIX stopped with an error"), std::string::npos);
}

TEST_F(start, an_empty_raw_file_ends_at_once_with_status_0) {
  raw_builder().write(path("V02310_1.AB"));
  const auto r = run({"V02310_1.AB"});
  EXPECT_EQ(r.status, 0);
  // Off a terminal: no escape sequences.
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
  EXPECT_NE(r.out.find("V02310_1.AB:        0\nA:        0\nB:        0\n"), std::string::npos);
}

TEST_F(start, escape_on_a_terminal_stops_the_run_with_status_0) {
  busy_raw_file(path("V02310_1.AB"));
  // The second banner is shown by the first pass, just before the key poll starts.
  const auto r = testing::run_on_terminal({"V02310_1.AB"}, dir_, "VELMORA", [](int, int master) {
    const char esc = 27;
    (void)!::write(master, &esc, 1);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\x1b[2J"), std::string::npos) << "clear screen on a terminal";
  EXPECT_NE(r.out.find("\x1b[15;1H"), std::string::npos) << "status block at row 14";
}

TEST_F(start, ctrl_c_stops_the_run_with_status_130) {
  busy_raw_file(path("V02310_1.AB"));
  const auto r = testing::run_on_terminal({"V02310_1.AB"}, dir_, "VELMORA",
                                          [](int pid, int) { ::kill(pid, SIGINT); });
  EXPECT_EQ(r.status, 130);
}

TEST_F(start, sigterm_stops_the_run_with_status_143) {
  busy_raw_file(path("V02310_1.AB"));
  const auto r = testing::run_on_terminal({"V02310_1.AB"}, dir_, "VELMORA",
                                          [](int pid, int) { ::kill(pid, SIGTERM); });
  EXPECT_EQ(r.status, 143);
}

}  // namespace
}  // namespace dropix::e2e
