// The record writer: what is buffered, when it is flushed, and what the flush writes.
#include <gtest/gtest.h>

#include <algorithm>

#include "input/main_hr.h"
#include "platform/raw_reader.h"
#include "output/net_wr.h"
#include "output/pixfil.h"
#include "tests/support/drop_kit.h"
#include "tests/support/fixture.h"
#include "reader/hyd_reader.h"
#include "kit/rawbuild.h"

namespace dropix {
namespace {

using testing::dropix_test;
using testing::read_bytes;

constexpr u32 midnight = 20796u * 86400u;
constexpr f64 fr = 1000.0;  // 60000 lines per minute
constexpr f64 minute = 60000.0;

class writer : public dropix_test {
 protected:
  void SetUp() override {
    dropix_test::SetUp();
    testing::flat_factors();
    raw.mp_nam = "V26342_1.AB";
    ses.open_outputs();
    offer_header(0);
    flush_request(wr, timing.pos, host, diag);
    host.clock = 5000;
    wr.wr_time = 5000;
  }
  void offer_header(u32 second) {
    const std::vector<u8> body = rawkit::header_body(rawkit::sample_header(midnight + second, fr));
    raw_window_over(win, body.data(), body.size());
    raw_cursor cur{&win, 0, static_cast<s64>(body.size())};
    if (const auto rec = main_hr(hdr, cur, 0, wr.oldlen, wr.pix_nam, diag)) append_header(wr, *rec, diag);
  }
  // Hands a pair starting at line y to the writer, as matching does.
  void pair(f64 y, int lines = 8, s16 width = 10) {
    drop_rec a = testing::make_drop(testing::same_pieces(lines, {100, static_cast<s16>(100 + width)}), y,
                                    y + lines - 1);
    const int lines_b = std::min(lines + 1, MAXLIN);
    drop_rec b = testing::make_drop(testing::same_pieces(lines_b, {200, static_cast<s16>(200 + width)}), y + 80,
                                    y + 80 + lines_b - 1);
    ses.pair(&a, &b);
  }
  u32 record_len() {
    const u32 before = wr.pix_indx;
    pair(minute + 1);
    return wr.pix_indx - before;
  }
  std::vector<reader::hyd_record> records() {
    std::fflush(wr.pix_fp.get());
    return reader::read_hyd(read_bytes("V26342_1.hyd"));
  }
  raw_window win;
};

TEST_F(writer, drops_on_disk_when_the_run_started_are_not_written_again) {
  wr.disk_y = 5000;
  pair(5000.0);
  EXPECT_EQ(wr.pix_indx, 0u);
  pair(5000.5);
  EXPECT_GT(wr.pix_indx, 0u);
}

TEST_F(writer, two_drops_on_one_scan_line_split_by_a_timed_flush_are_both_written) {
  pair(minute + 10);
  host.clock += 4;
  pair(minute + 10);
  final_flush(wr, timing.pos, host, diag);
  const auto recs = records();
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_EQ(recs[1].drop.y_first, minute + 10);
  EXPECT_EQ(recs[2].drop.y_first, minute + 10);
}

TEST_F(writer, a_record_that_reaches_the_buffer_limit_is_flushed_first) {
  const u32 len = record_len();
  wr.pix_indx = pix_buf_limit - len;  // the sum reaches the limit: flush, then append
  pair(minute + 100);
  EXPECT_EQ(wr.pix_indx, len);
  EXPECT_EQ(wr.pix_end, 74 + pix_buf_limit - len);
  wr.pix_indx = pix_buf_limit - len - 1;  // one byte short of it: appended without a flush
  pair(minute + 200);
  EXPECT_EQ(wr.pix_indx, pix_buf_limit - 1);
}

TEST_F(writer, a_flush_is_due_after_more_than_three_seconds) {
  pair(minute + 1);
  const u32 buffered = wr.pix_indx;
  host.clock = 5003;
  pair(minute + 50);
  EXPECT_EQ(wr.pix_indx, 2 * buffered) << "no flush at 3 seconds";
  host.clock = 5004;
  pair(minute + 90);
  EXPECT_EQ(wr.pix_indx, buffered) << "flushed at 4 seconds, then appended";
  EXPECT_EQ(wr.wr_time, 5004);
}

TEST_F(writer, a_flush_request_with_an_empty_buffer_writes_nothing) {
  const auto hd_before = read_bytes("V26342_1.hd");
  const auto abh_before = read_bytes("V26342_1.abh");
  wr.lastpix_y = 77;
  host.clock = 5001;
  flush_request(wr, timing.pos, host, diag);
  EXPECT_EQ(wr.wr_force, 0);
  EXPECT_EQ(wr.wr_time, 5001);
  EXPECT_EQ(wr.lastpix_y, 77u);
  EXPECT_EQ(read_bytes("V26342_1.hd"), hd_before);
  EXPECT_EQ(read_bytes("V26342_1.abh"), abh_before);
}

TEST_F(writer, the_last_flush_rewrites_hd_and_abh_even_without_records) {
  timing.pos.posa_bf[3] = 1234;
  final_flush(wr, timing.pos, host, diag);
  const auto abh = reader::read_abh(read_bytes("V26342_1.abh"));
  EXPECT_EQ(abh.size, abh_fmt::size);
  EXPECT_EQ(abh.posa_bf[3], 1234u);
  EXPECT_EQ(abh.lastpix_y, 0u) << "it moves only with a flush that writes drops";
}

TEST_F(writer, minute_entries_are_true_hyd_positions_of_the_first_record_of_each_minute) {
  wr.last_minute = 3;
  pair(7 * minute + 5);
  const u32 first_len = wr.pix_indx;
  for (int k = 4; k <= 7; ++k) EXPECT_EQ(wr.pos_pix[k], 74u) << "after the header, at offset 74: " << k;
  pair(7 * minute + 500);
  pair(5 * minute + 9);
  EXPECT_EQ(wr.pos_pix[7], 74u);
  EXPECT_EQ(wr.pos_pix[5], 74u);
  pair(8 * minute);
  EXPECT_EQ(wr.pos_pix[8], 74u + 3 * first_len);
  final_flush(wr, timing.pos, host, diag);
  // A reader seeks straight to minute 8's record.
  const auto recs = records();
  const auto hd = reader::read_hd(read_bytes("V26342_1.hd"));
  ASSERT_EQ(recs.size(), 5u);
  EXPECT_EQ(recs[4].offset, hd.pos_pix[8]);
  EXPECT_EQ(recs[4].drop.y_first, 8 * minute);
}

TEST_F(writer, after_a_header_the_next_pair_flushes_first_and_points_back_to_it) {
  pair(minute + 1);
  flush_request(wr, timing.pos, host, diag);
  offer_header(100);
  EXPECT_EQ(wr.wr_force, 1);
  pair(2 * minute);
  final_flush(wr, timing.pos, host, diag);
  const auto recs = records();
  ASSERT_EQ(recs.size(), 4u);
  EXPECT_TRUE(recs[2].is_header);
  EXPECT_EQ(recs[2].header.len_prev, static_cast<s16>(recs[1].length));
  EXPECT_EQ(recs[3].drop.len_prev, 74);
  // The chain of lengths walks back from the end to the start.
  u32 at = static_cast<u32>(read_bytes("V26342_1.hyd").size());
  s16 back = reader::read_hd(read_bytes("V26342_1.hd")).oldlen;
  for (std::size_t i = recs.size(); i-- > 0;) {
    at -= static_cast<u32>(back);
    EXPECT_EQ(recs[i].offset, at);
    back = recs[i].is_header ? recs[i].header.len_prev : recs[i].drop.len_prev;
  }
  EXPECT_EQ(at, 0u);
}

TEST_F(writer, a_pair_too_long_for_a_record_changes_nothing) {
  pair(minute + 1);
  const u32 indx = wr.pix_indx;
  const s16 oldlen = wr.oldlen;
  const f64 last_y = wr.last_y;
  pair(2 * minute, 600, 100);  // 600 lines at 7 bits per value cannot be packed
  EXPECT_EQ(wr.pix_indx, indx);
  EXPECT_EQ(wr.oldlen, oldlen);
  EXPECT_EQ(wr.last_y, last_y);
  EXPECT_NE(err_text().find("transf_1: max. len exceeded !!! \n"), std::string::npos);
}

TEST_F(writer, a_line_count_beyond_two_to_the_32_is_stored_as_the_largest_value) {
  pair(4294967296.0 + 7);
  flush_request(wr, timing.pos, host, diag);
  EXPECT_EQ(wr.lastpix_y, 0xFFFFFFFFu);
  EXPECT_EQ(reader::read_abh(read_bytes("V26342_1.abh")).lastpix_y, 0xFFFFFFFFu);
}

}  // namespace
}  // namespace dropix
