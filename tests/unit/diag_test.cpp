// Trace printers and tagged reports.
#include <gtest/gtest.h>

#include <cerrno>

#include "common/diag.h"
#include "tests/support/fixture.h"

namespace dropix {
namespace {

using testing::dropix_test;

class trace : public dropix_test {
 protected:
  // What `f` writes to the screen.
  template <class F>
  std::string printed(F f) {
    const std::size_t before = host.out.size();
    f();
    return host.out.substr(before);
  }
};

TEST_F(trace, silent_when_switched_off_whatever_the_format) {
  EXPECT_EQ(printed([&] { hprintf(diag, "%9ld %% %q\n", 1); hprintf2(diag, "%ld\n", 1); }), "");
}

TEST_F(trace, prints_the_conversions_of_its_format_language) {
  diag.trace_flag = 1;
  const std::string out = printed([&] {
    hprintf(diag, "a=%d b=%u c=%f s=%s l=%ld lu=%lu lf=%lf\n", s32{-5}, u32{7}, 1.5, "txt", s64{-3000000000LL},
            u64{5000000000ULL}, 0.25);
  });
  EXPECT_EQ(out, "a=-5 b=7 c=1.500000 s=txt l=-3000000000 lu=5000000000 lf=0.250000\n");
}

TEST_F(trace, l_with_another_letter_prints_nothing_and_takes_no_argument) {
  diag.trace_flag = 1;
  EXPECT_EQ(printed([&] { hprintf(diag, "x%lxy %d\n", 42); }), "xy 42\n");
}

TEST_F(trace, unknown_conversions_end_the_run_naming_the_character) {
  diag.trace_flag = 1;
  for (const char* fmt : {"100%%", "%9ld", "%-d", "%.f"}) EXPECT_QUITS(hprintf(diag, fmt, 1), exit_status::failure);
  EXPECT_EQ(err_text(),
            "*** Error in 'hprintf': Unknown format '%' !\n"
            "*** Error in 'hprintf': Unknown format '9' !\n"
            "*** Error in 'hprintf': Unknown format '-' !\n"
            "*** Error in 'hprintf': Unknown format '.' !\n");
}

TEST_F(trace, a_percent_at_the_very_end_is_unknown) {
  diag.trace_flag = 1;
  EXPECT_QUITS(hprintf(diag, "end%"), exit_status::failure);
  // The console learns of the failure end in one line naming the error log.
  EXPECT_EQ(host.out, "end\nDROPIX stopped with an error: see DROPIX.ERR\n");
}

TEST_F(trace, second_printer_has_no_long_forms) {
  diag.obj_trace_flag = 1;
  EXPECT_EQ(printed([&] { hprintf2(diag, "%d %u %f %s\n", 1, 2u, 3.0, "x"); }), "1 2 3.000000 x\n");
  EXPECT_QUITS(hprintf2(diag, "%ld", 1), exit_status::failure);
  EXPECT_EQ(err_text(), "*** Error in 'hprintf': Unknown format 'l' !\n");
}

TEST_F(trace, second_printer_follows_its_own_switch) {
  diag.trace_flag = 1;
  EXPECT_EQ(printed([&] { hprintf2(diag, "%d\n", 1); }), "");
}

TEST_F(trace, tagged_reports_keep_the_blanks_of_their_tag) {
  errno = ENOENT;
  report_errno(diag, " clean_up01 ");
  errno = 0;
  report_errno(diag, "mp02");
  EXPECT_EQ(err_text(), " clean_up01 : No such file or directory\nmp02: unexpected end of data\n");
}

}  // namespace
}  // namespace dropix
