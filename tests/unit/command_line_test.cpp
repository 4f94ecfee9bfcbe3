// Switches, the raw file argument and the day number of the raw file's name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/entry.h"
#include "input/rawfil.h"
#include "tests/support/fixture.h"

namespace dropix {
namespace {

using testing::dropix_test;

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

class command_line : public dropix_test {};

TEST_F(command_line, switch_arguments_are_made_wholly_of_switch_tokens) {
  for (const char* s : {"/e", "/c", "/?", "/e/c", "/c/e/?", "/E", "/x", "-e", "-c", "-h", "--help"})
    EXPECT_TRUE(is_switch_arg(s)) << s;
  for (const char* s : {"/data/cases/V02310_1.AB", "/ab", "/e/", "V02310_1.AB", "e", "-x", "--e", "//", ""})
    EXPECT_FALSE(is_switch_arg(s)) << s;
}

TEST_F(command_line, glued_switches_set_both_flags) {
  argv_of a({"/e/c", "V02310_1.AB"});
  get_switches(a.argc(), a.argv());
  EXPECT_EQ(ctl.stderr_to_screen, 1);
  EXPECT_EQ(ctl.calib, 1);
}

TEST_F(command_line, upper_case_and_unknown_tokens_switch_nothing) {
  argv_of a({"/E/C/x", "V02310_1.AB"});
  get_switches(a.argc(), a.argv());
  EXPECT_EQ(ctl.stderr_to_screen, 0);
  EXPECT_EQ(ctl.calib, 0);
}

TEST_F(command_line, a_path_with_slashes_switches_nothing_and_is_the_raw_file) {
  argv_of a({"/data/cases/V02310_1.AB", "/c"});
  get_switches(a.argc(), a.argv());
  get_args(a.argc(), a.argv());
  EXPECT_EQ(ctl.stderr_to_screen, 0);
  EXPECT_EQ(ctl.calib, 1);
  EXPECT_EQ(ctl.raw_arg, "/data/cases/V02310_1.AB");
  EXPECT_EQ(ctl.raw_base, "V02310_1.AB");
}

TEST_F(command_line, dash_forms_are_switches) {
  argv_of a({"-e", "-c", "V.AB"});
  get_switches(a.argc(), a.argv());
  EXPECT_EQ(ctl.stderr_to_screen, 1);
  EXPECT_EQ(ctl.calib, 1);
}

TEST_F(command_line, help_prints_the_options_and_ends_with_status_0) {
  for (const char* h : {"/?", "-h", "--help", "/e/?"}) {
    argv_of a({"V.AB", h});
    EXPECT_QUITS(get_switches(a.argc(), a.argv()), exit_status::done);
  }
}

TEST_F(command_line, a_question_mark_glued_to_a_file_name_is_no_switch) {
  argv_of a({"V02310_1.AB/?"});
  get_switches(a.argc(), a.argv());
  get_args(a.argc(), a.argv());
  EXPECT_EQ(ctl.raw_arg, "V02310_1.AB/?");
}

TEST_F(command_line, the_first_file_argument_wins) {
  argv_of a({"/e", "first/V1.AB", "second.AB"});
  get_args(a.argc(), a.argv());
  EXPECT_EQ(ctl.raw_arg, "first/V1.AB");
  EXPECT_EQ(ctl.raw_base, "V1.AB");
}

TEST_F(command_line, no_file_argument_prints_the_usage_and_ends_with_status_2) {
  argv_of none({});
  EXPECT_QUITS(get_args(none.argc(), none.argv()), exit_status::usage);
  argv_of only_switches({"/e", "/c"});
  EXPECT_QUITS(get_args(only_switches.argc(), only_switches.argv()), exit_status::usage);
}

TEST_F(command_line, long_paths_are_kept_whole) {
  const std::string dir(300, 'd');
  argv_of a({dir + "/V02310_1.AB"});
  get_args(a.argc(), a.argv());
  EXPECT_EQ(ctl.raw_arg.size(), 312u);
  EXPECT_EQ(ctl.raw_base, "V02310_1.AB");
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
