// The .hd against its .hyd: a whole pair agrees, a cut or foreign one is named.
#include <gtest/gtest.h>

#include <cmath>

#include "products/hd_check.h"
#include "products/tests/support.h"

namespace dropix::products {
namespace {

hyd_outline outline_of(const std::vector<u8>& hyd) {
  hyd_outline o;
  o.size = hyd.size();
  reader::hyd_cursor cur(hyd);
  double line_fr = 0;
  for (reader::hyd_record r; cur.next(r);) {
    o.last_length = r.length;
    if (r.is_header) {
      o.headers.push_back(r.header);
      line_fr = r.header.line_fr;
    } else {
      o.drop_offsets.push_back(r.offset);
      o.drop_minutes.push_back(static_cast<int>(std::floor(r.drop.y_first / (line_fr * 60))));
    }
  }
  return o;
}

// Drops in minutes 841 .. 845 of the day (14:01 .. 14:05), three per minute.
test::hyd_builder five_minutes() {
  test::hyd_builder b;
  b.header(test::instrument());
  for (int m = 841; m <= 845; ++m)
    for (int k = 0; k < 3; ++k) {
      test::drop_spec d;
      d.y_first = 55000.0 * (m * 60 + 10 * k + 1);
      d.a = test::block(200 + 10 * k, 8, 12);
      d.b = test::block(300, 8, 12);
      b.drop(d);
    }
  return b;
}

std::string check(const std::vector<u8>& hd, const std::vector<u8>& hyd) {
  return check_hd(reader::read_hd(hd), hd.size(), outline_of(hyd));
}

TEST(hd_check, a_whole_pair_agrees) {
  const test::hyd_builder b = five_minutes();
  EXPECT_EQ(check(b.hd(), b.hyd()), "");
}

TEST(hd_check, a_hyd_cut_at_a_record_boundary_is_found_by_the_minute_index) {
  const test::hyd_builder b = five_minutes();
  const std::vector<u8> hyd = b.hyd();
  // Cut before the first drop of minute 844 (record 1 + 3 * 3 drops before it).
  const auto o = outline_of(hyd);
  const std::vector<u8> cut(hyd.begin(), hyd.begin() + static_cast<std::ptrdiff_t>(o.drop_offsets[9]));
  const std::string why = check(b.hd(), cut);
  EXPECT_NE(why.find("the .hyd is cut short"), std::string::npos) << why;
  EXPECT_NE(why.find("minute 844"), std::string::npos) << why;
}

TEST(hd_check, a_hyd_cut_within_its_last_minute_is_found_by_the_last_records_length) {
  test::hyd_builder b = five_minutes();
  const std::vector<u8> hd = b.hd();
  test::drop_spec wide;  // a last record of another length than the one before it
  wide.y_first = 55000.0 * (845 * 60 + 40);
  wide.a = test::block(100, 200, 30);
  wide.b = test::block(100, 200, 30);
  b.drop(wide);
  EXPECT_EQ(check(b.hd(), b.hyd()), "");
  const auto o = outline_of(b.hyd());
  const std::vector<u8> cut(b.hyd().begin(), b.hyd().begin() + static_cast<std::ptrdiff_t>(o.drop_offsets.back()));
  EXPECT_NE(check(b.hd(), cut).find("cut short or added to"), std::string::npos);
  // And a .hd written before the last drop: the .hyd was added to.
  EXPECT_NE(check(hd, b.hyd()).find("cut short or added to"), std::string::npos);
}

TEST(hd_check, a_hd_of_another_recording_disagrees) {
  const test::hyd_builder b = five_minutes();
  test::hyd_builder other;
  other.header(test::instrument(1796738400u + 86400));
  EXPECT_NE(check(other.hd(), b.hyd()).find("main header record 1 differs"), std::string::npos);
  test::hyd_builder two = five_minutes();
  two.header(test::instrument(1796738400u + 600));
  EXPECT_NE(check(two.hd(), b.hyd()).find("holds 2 main header records, the .hyd 1"), std::string::npos);
}

TEST(hd_check, a_minute_index_pointing_off_the_records_disagrees) {
  const test::hyd_builder b = five_minutes();
  std::vector<u8> hd = b.hd();
  put_u32(hd.data() + 4 * 842, get_u32(hd.data() + 4 * 842) + 2);
  EXPECT_NE(check(hd, b.hyd()).find("minute 842 at byte"), std::string::npos);
  EXPECT_NE(check(hd, b.hyd()).find("where no drop record of the .hyd starts"), std::string::npos);
  hd = b.hd();
  put_u32(hd.data() + 4 * 845, get_u32(hd.data() + 4 * 842));  // a drop of an earlier minute
  EXPECT_NE(check(hd, b.hyd()).find("holds a drop of minute 842"), std::string::npos);
}

TEST(hd_check, a_short_or_ragged_hd_disagrees) {
  const test::hyd_builder b = five_minutes();
  std::vector<u8> hd = b.hd();
  EXPECT_NE(check(std::vector<u8>(hd.begin(), hd.begin() + 5000), b.hyd()).find("too short for its minute index"),
            std::string::npos);
  hd.resize(hd.size() - 10);
  EXPECT_NE(check(hd, b.hyd()).find("ends inside a main header record"), std::string::npos);
}

}  // namespace
}  // namespace dropix::products
