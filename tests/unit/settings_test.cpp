// The settings file and directory settings.
#include <gtest/gtest.h>

#include "control/settings.h"
#include "tests/support/fixture.h"

namespace dropix {
namespace {

using testing::dropix_test;
using testing::write_file;

class settings_file : public dropix_test {
 protected:
  std::string set_file() const { return path("DROPIX.SET"); }
};

std::string line(const std::string& start, const std::string& value) {
  std::string l = start;
  l.resize(60, ' ');
  return l + value + "\n";
}

TEST(add_bslash, appends_the_separator_only_where_missing) {
  std::string p = "/data/out";
  EXPECT_EQ(add_bslash(p), 1);
  EXPECT_EQ(p, "/data/out/");
  EXPECT_EQ(add_bslash(p), 0);
  EXPECT_EQ(p, "/data/out/");
  std::string empty;
  EXPECT_EQ(add_bslash(empty), 0);
  EXPECT_EQ(empty, "");
}

TEST_F(settings_file, first_matching_line_wins_and_keys_are_case_sensitive) {
  write_file("DROPIX.SET", line("hyd_path lower case", "wrong") + line("free text", "x") +
                               line("HYD_PATH output directory", "/first") +
                               line("HYD_PATH again", "/second"));
  std::string v;
  rd_mp(set_file(), "HYD_PATH", v, diag);
  EXPECT_EQ(v, "/first");
}

TEST_F(settings_file, a_key_followed_by_more_letters_still_matches) {
  write_file("DROPIX.SET", line("RAW_PATHS", "/r"));
  std::string v;
  rd_tk(set_file(), "RAW_PATH", v, diag);
  EXPECT_EQ(v, "/r");
}

TEST_F(settings_file, value_is_one_word_from_offset_60) {
  write_file("DROPIX.SET", line("HYD_PATH", "   /with/lead  and more"));
  std::string v;
  rd_mp(set_file(), "HYD_PATH", v, diag);
  EXPECT_EQ(v, "/with/lead");
}

TEST_F(settings_file, short_and_blank_key_lines_have_an_empty_value) {
  write_file("DROPIX.SET", "A line longer than sixty characters, filling the buffer: /stale/value\n"
                           "HYD_PATH short\n" + line("RAW_PATH", "    "));
  std::string v = "previous";
  rd_mp(set_file(), "HYD_PATH", v, diag);
  EXPECT_EQ(v, "");
  v = "previous";
  rd_tk(set_file(), "RAW_PATH", v, diag);
  EXPECT_EQ(v, "");
}

TEST_F(settings_file, long_values_survive_whole) {
  const std::string deep = "/" + std::string(200, 'x') + "/hyd";
  write_file("DROPIX.SET", line("HYD_PATH", deep));
  get_hyd_path(settings, set_file(), diag);
  EXPECT_EQ(settings.hyd_path, deep + "/");
}

TEST_F(settings_file, the_matching_key_is_optional_and_names_one_of_two_modes) {
  std::string value = "untouched";
  EXPECT_EQ(read_matching(path("missing.SET"), &value), matching_request::none) << "no file";
  write_file("DROPIX.SET", line("HYD_PATH", "/h") + line("RAW_PATH", "/r"));
  EXPECT_EQ(read_matching(set_file(), &value), matching_request::none) << "no key";
  EXPECT_EQ(value, "untouched");
  write_file("DROPIX.SET", line("HYD_PATH", "/h") + line("MATCHING of the objects", "PHYSICAL  comment"));
  EXPECT_EQ(read_matching(set_file(), &value), matching_request::physical);
  EXPECT_EQ(value, "PHYSICAL");
  write_file("DROPIX.SET", line("MATCHING", "OLDEST_FIRST") + line("MATCHING", "PHYSICAL"));
  EXPECT_EQ(read_matching(set_file(), &value), matching_request::oldest_first) << "the first line wins";
  for (const char* v : {"physical", "PHYSICALLY", "oldest_first", ""}) {
    write_file("DROPIX.SET", line("MATCHING", v));
    EXPECT_EQ(read_matching(set_file(), &value), matching_request::unknown) << v;
    EXPECT_EQ(value, v);
  }
  write_file("DROPIX.SET", line("matching", "PHYSICAL"));
  EXPECT_EQ(read_matching(set_file(), &value), matching_request::none) << "keys are case-sensitive";
  EXPECT_EQ(err_text(), "") << "never a message";
}

TEST_F(settings_file, windows_line_ends_do_not_reach_the_value) {
  write_file("DROPIX.SET", "HYD_PATH" + std::string(52, ' ') + "/out\r\n");
  get_hyd_path(settings, set_file(), diag);
  EXPECT_EQ(settings.hyd_path, "/out/");
}

TEST_F(settings_file, missing_key_ends_the_run_with_the_message) {
  write_file("DROPIX.SET", line("HYD_PATH", "/h"));
  std::string v;
  EXPECT_QUITS(rd_tk(set_file(), "RAW_PATH", v, diag), exit_status::failure);
  EXPECT_EQ(err_text(), "rd_tk: could not find RAW_PATH \n");
}

TEST_F(settings_file, missing_file_ends_the_run_with_the_tagged_report) {
  std::string v;
  EXPECT_QUITS(rd_mp(set_file(), "HYD_PATH", v, diag), exit_status::failure);
  EXPECT_EQ(err_text(), "rd_mp: DROPIX.SET ? : No such file or directory\n");
  EXPECT_QUITS(rd_tk(set_file(), "RAW_PATH", v, diag), exit_status::failure);
  EXPECT_NE(err_text().find(" rd_tak01: DROPIX.SET ? : No such file"), std::string::npos);
}

}  // namespace
}  // namespace dropix
