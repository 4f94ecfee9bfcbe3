// Switches, the raw file argument and the day number of the raw file's name; the program's
// start on a scripted host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/command_line.h"
#include "input/rawfil.h"
#include "session/session.h"
#include "tests/support/fake_host.h"

namespace dropix {
namespace {

struct argv_of {
  explicit argv_of(std::vector<std::string> a) : args(std::move(a)) {
    args.insert(args.begin(), "dropix");
    for (auto& s : args) ptrs.push_back(s.data());
    ptrs.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(args.size()); }
  char** argv() { return ptrs.data(); }
  std::vector<std::string> args;
  std::vector<char*> ptrs;
};

command_line parsed(std::vector<std::string> args) {
  argv_of a(std::move(args));
  command_line cl;
  get_switches(a.argc(), a.argv(), cl);
  get_args(a.argc(), a.argv(), cl);
  return cl;
}

TEST(command_line, switch_arguments_are_made_wholly_of_switch_tokens) {
  for (const char* s : {"/e", "/c", "/?", "/e/c", "/c/e/?", "/E", "/x", "-e", "-c", "-h", "--help"})
    EXPECT_TRUE(is_switch_arg(s)) << s;
  for (const char* s : {"/data/cases/V02310_1.AB", "/ab", "/e/", "V02310_1.AB", "e", "-x", "--e", "//", ""})
    EXPECT_FALSE(is_switch_arg(s)) << s;
}

TEST(command_line, glued_switches_set_both_flags) {
  const command_line cl = parsed({"/e/c", "V02310_1.AB"});
  EXPECT_TRUE(cl.stderr_to_screen);
  EXPECT_TRUE(cl.calib);
  EXPECT_FALSE(cl.help);
}

TEST(command_line, upper_case_and_unknown_tokens_switch_nothing) {
  const command_line cl = parsed({"/E/C/x", "V02310_1.AB"});
  EXPECT_FALSE(cl.stderr_to_screen);
  EXPECT_FALSE(cl.calib);
}

TEST(command_line, a_path_with_slashes_switches_nothing_and_is_the_raw_file) {
  const command_line cl = parsed({"/data/cases/V02310_1.AB", "/c"});
  EXPECT_FALSE(cl.stderr_to_screen);
  EXPECT_TRUE(cl.calib);
  EXPECT_TRUE(cl.has_raw);
  EXPECT_EQ(cl.raw_arg, "/data/cases/V02310_1.AB");
  EXPECT_EQ(cl.raw_base, "V02310_1.AB");
}

TEST(command_line, dash_forms_are_switches) {
  const command_line cl = parsed({"-e", "-c", "V.AB"});
  EXPECT_TRUE(cl.stderr_to_screen);
  EXPECT_TRUE(cl.calib);
  for (const char* h : {"/?", "-h", "--help", "/e/?"}) EXPECT_TRUE(parsed({"V.AB", h}).help) << h;
}

TEST(command_line, m_switches_physical_pairing_on_in_every_form) {
  for (std::vector<std::string> args : {std::vector<std::string>{"/m", "V.AB"}, {"V.AB", "-m"}, {"/e/m", "V.AB"},
                                        {"/m/c", "V.AB"}}) {
    const command_line cl = parsed(args);
    EXPECT_TRUE(cl.physical_pairing) << args[0];
    EXPECT_EQ(cl.raw_arg, "V.AB");
  }
  EXPECT_FALSE(parsed({"V.AB"}).physical_pairing);
  EXPECT_FALSE(parsed({"/M", "V.AB"}).physical_pairing) << "upper case switches nothing";
  EXPECT_FALSE(parsed({"--m", "V.AB"}).physical_pairing);
  EXPECT_EQ(parsed({"--m", "V.AB"}).raw_arg, "--m") << "no switch: the first file argument";
  const command_line glued = parsed({"/e/m", "V.AB"});
  EXPECT_TRUE(glued.stderr_to_screen);
  EXPECT_FALSE(glued.calib);
}

TEST(command_line, a_question_mark_glued_to_a_file_name_is_no_switch) {
  const command_line cl = parsed({"V02310_1.AB/?"});
  EXPECT_FALSE(cl.help);
  EXPECT_EQ(cl.raw_arg, "V02310_1.AB/?");
}

TEST(command_line, the_first_file_argument_wins) {
  const command_line cl = parsed({"/e", "first/V1.AB", "second.AB"});
  EXPECT_EQ(cl.raw_arg, "first/V1.AB");
  EXPECT_EQ(cl.raw_base, "V1.AB");
}

TEST(command_line, only_switches_give_no_raw_file) {
  EXPECT_FALSE(parsed({}).has_raw);
  EXPECT_FALSE(parsed({"/e", "/c"}).has_raw);
}

TEST(command_line, long_paths_are_kept_whole) {
  const std::string dir(300, 'd');
  const command_line cl = parsed({dir + "/V02310_1.AB"});
  EXPECT_EQ(cl.raw_arg.size(), 312u);
  EXPECT_EQ(cl.raw_base, "V02310_1.AB");
}

// The program on a scripted host: the option text and the usage end the run before a session
// is made, so no error log is written.
TEST(program, help_prints_the_options_and_ends_with_status_0_before_the_usage_check) {
  testing::fake_host h;
  argv_of a({"/?"});
  EXPECT_EQ(run_program(h, a.argc(), a.argv(), "/nonexistent"), 0);
  EXPECT_NE(h.out.find("\nCommand line options are:\n\n    /e ... print stderr to screen \n"
                       "    /c ... calibration: do not apply adjustment factors \n"
                       "    /m ... matching: physical pairing of the two cameras' objects \n"),
            std::string::npos);
  EXPECT_EQ(h.out.find("Invokation"), std::string::npos);
}

TEST(program, no_file_argument_prints_the_usage_and_ends_with_status_2) {
  for (std::vector<std::string> args : {std::vector<std::string>{}, std::vector<std::string>{"/e", "/c"}}) {
    testing::fake_host h;
    argv_of a(args);
    EXPECT_EQ(run_program(h, a.argc(), a.argv(), "/nonexistent"), 2);
    EXPECT_NE(h.out.find("\nDROPIX  filespec  [ /switch ]\n"), std::string::npos);
  }
}

TEST(program, a_stop_signal_during_the_banner_ends_with_its_status) {
  testing::fake_host h;
  h.stop_sig = 15;
  argv_of a({"V.AB"});
  EXPECT_EQ(run_program(h, a.argc(), a.argv(), "/nonexistent"), 143);
  EXPECT_EQ(h.out.find("Invokation"), std::string::npos);
}

TEST(day_number, year_and_day_come_from_the_name) {
  EXPECT_EQ(day_number("V02310_1.AB"), 2310);
  EXPECT_EQ(day_number("V99001_1.AB"), 99001);
  EXPECT_EQ(day_number("X.AB"), 0);
  EXPECT_EQ(day_number("V0"), 0);
  EXPECT_EQ(day_number("V7x12y.AB"), 7012);
  EXPECT_EQ(day_number(""), 0);
}

}  // namespace
}  // namespace dropix
