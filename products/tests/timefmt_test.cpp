// ISO 8601 times against the C library's calendar.
#include <gtest/gtest.h>

#include <ctime>

#include "products/timefmt.h"

namespace dropix::products {
namespace {

std::string by_gmtime(s64 ms) {
  const std::time_t t = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
  char out[48];
  std::snprintf(out, sizeof out, "%s.%03dZ", buf, static_cast<int>(((ms % 1000) + 1000) % 1000));
  return out;
}

TEST(timefmt, agrees_with_gmtime_across_centuries_leap_days_and_day_ends) {
  for (s64 ms : {0LL, 1LL, 999LL, 86399999LL, 951782400000LL /* 2000-02-29 */, 4107542399999LL /* 2100-02-28 end */,
                 1796738400070LL, 253402300799999LL /* 9999-12-31 end */}) {
    char buf[25];
    EXPECT_EQ(iso_ms(ms, buf), 24);
    EXPECT_EQ(std::string(buf), by_gmtime(ms)) << ms;
  }
  for (s64 ms = 0; ms < 4102444800000LL; ms += 7777777777LL) {  // every 90 days to 2100
    char buf[25];
    iso_ms(ms, buf);
    ASSERT_EQ(std::string(buf), by_gmtime(ms)) << ms;
  }
}

TEST(timefmt, whole_seconds_and_days) {
  EXPECT_EQ(iso_s(1796738400), "2026-12-08T14:00:00Z");
  EXPECT_EQ(iso_day(1796738400), "2026-12-08");
  EXPECT_EQ(iso_day(1796688000 - 1), "2026-12-07");
}

}  // namespace
}  // namespace dropix::products
