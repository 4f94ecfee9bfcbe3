// The status display on the scripted screen: where it is drawn, how often, and the keys and
// signals that stop a run.
#include <gtest/gtest.h>

#include "control/status.h"
#include "tests/support/fake_host.h"

namespace dropix {
namespace {

class status_display : public ::testing::Test {
 protected:
  std::string pix = "out/V26342_1.hyd", raw = "V26342_1.AB";
  status_view view(s64 pos_a = 100) const { return {pix, 5000, raw, 123456, pos_a, 90}; }
  testing::fake_host host;
  status_state st;
};

TEST_F(status_display, off_a_terminal_the_block_is_printed_at_most_once_a_second) {
  EXPECT_EQ(show_status(st, host, view(), false), 1);
  EXPECT_EQ(host.out, "out/V26342_1.hyd:     5000\nV26342_1.AB:   123456\nA:      100\nB:       90\n");
  host.out.clear();
  EXPECT_EQ(show_status(st, host, view(200), false), 1);
  EXPECT_EQ(host.out, "") << "the same second";
  ++host.clock;
  show_status(st, host, view(300), false);
  EXPECT_NE(host.out.find("A:      300\n"), std::string::npos);
  EXPECT_EQ(host.screen_cmds, "") << "no cursor commands off a terminal";
  host.out.clear();
  status_final(st, host, view(400), false);
  EXPECT_NE(host.out.find("A:      400\n"), std::string::npos) << "the last state is always shown";
}

TEST_F(status_display, on_a_terminal_it_is_redrawn_in_place_at_row_14_clearing_each_line) {
  host.out_terminal = true;
  show_status(st, host, view(), false);
  EXPECT_EQ(host.screen_cmds, "<cursor 0,14><eol><eol><eol><eol>");
  EXPECT_EQ(host.out, "out/V26342_1.hyd:     5000<eol>\nV26342_1.AB:   123456<eol>\nA:      100<eol>\nB:       90<eol>\n");
  host.out.clear();
  host.ms += 50;
  show_status(st, host, view(), false);
  EXPECT_EQ(host.out, "") << "at most ten times a second";
  host.ms += 50;
  show_status(st, host, view(), false);
  EXPECT_NE(host.out, "");
}

TEST_F(status_display, while_the_trace_prints_the_cursor_stays_where_it_is) {
  host.out_terminal = true;
  show_status(st, host, view(), true);
  EXPECT_EQ(host.screen_cmds.find("<cursor"), std::string::npos);
}

TEST_F(status_display, escape_at_its_poll_and_stop_signals_stop_the_run) {
  host.in_terminal = true;
  host.escape_at_poll = 3;
  EXPECT_EQ(show_status(st, host, view(), false), 1);
  EXPECT_EQ(show_status(st, host, view(), false), 1);
  EXPECT_EQ(show_status(st, host, view(), false), 0) << "Escape at the third poll";
  testing::fake_host quiet;
  quiet.stop_sig = 15;
  EXPECT_EQ(show_status(st, quiet, view(), false), 0);
  EXPECT_EQ(quiet.polls, 0) << "off a terminal the keyboard is not polled";
}

}  // namespace
}  // namespace dropix
