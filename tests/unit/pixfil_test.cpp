// The output files: creation, restoring an earlier run, and what the .hyd walk repairs.
#include <gtest/gtest.h>

#include <filesystem>

#include "input/main_hr.h"
#include "output/pixfil.h"
#include "output/resume.h"
#include "tests/support/fixture.h"
#include "reader/hyd_reader.h"
#include "kit/rawbuild.h"

namespace dropix {
namespace {

using testing::dropix_test;
using testing::read_bytes;
using testing::write_bytes;

constexpr u32 midnight = 20796u * 86400u;
constexpr f64 fr = 1000.0;  // 60000 lines per minute

class output_files : public dropix_test {
 protected:
  void SetUp() override {
    dropix_test::SetUp();
    raw.mp_nam = "rawdir/V26342_1.AB";
    raw.raw_day = 26342;
  }
  static main_rec header_at(u32 second, s16 len_prev) {
    return make_main_rec(rawkit::sample_header(midnight + second, fr), len_prev, "V26342_1.hyd");
  }
  static std::vector<u8> rec_bytes(const main_rec& r) {
    std::vector<u8> b(main_rec_fmt::size);
    encode_main_rec(r, b.data());
    return b;
  }
  // A drop record of `len` bytes (head and zero data words) starting at line y.
  static std::vector<u8> drop_bytes(f64 y, u32 len, s16 len_prev) {
    std::vector<u8> b(len, 0);
    drop_head h;
    h.len_bits = static_cast<u16>((1u << 11) | len);
    h.len_prev = len_prev;
    h.y_first = y;
    h.lines_a = 2;  // two scan lines per camera, one bit per value: fits any length from 32 on
    encode_drop_head(h, b.data());
    return b;
  }
  static std::vector<u8> hd_with(const std::vector<main_rec>& headers, s16 oldlen,
                                 const std::vector<std::pair<int, u32>>& entries = {}) {
    std::vector<u8> b(hd_fmt::head_size);
    for (int k = 0; k < minutes_per_day_table; ++k) put_u32(b.data() + 4 * k, k == 0 ? 0 : pos_unset);
    for (auto [k, v] : entries) put_u32(b.data() + 4 * k, v);
    put_s16(b.data() + hd_fmt::oldlen, oldlen);
    for (const main_rec& r : headers) {
      const auto rb = rec_bytes(r);
      b.insert(b.end(), rb.begin(), rb.end());
    }
    return b;
  }
  static std::vector<u8> abh_with(const std::vector<std::pair<int, u32>>& a, const std::vector<std::pair<int, u32>>& b,
                                  u32 lastpix_y, bool flushed = true) {
    std::vector<u8> out(flushed ? abh_fmt::size : abh_fmt::created_size, 0);
    for (auto [k, v] : a) put_u32(out.data() + abh_fmt::posa_bf + 4 * k, v);
    for (auto [k, v] : b) put_u32(out.data() + abh_fmt::posb_bf + 4 * k, v);
    put_u32(out.data() + abh_fmt::lastpix_y, lastpix_y);
    return out;
  }
  static void append(std::vector<u8>& to, const std::vector<u8>& b) { to.insert(to.end(), b.begin(), b.end()); }
};

TEST_F(output_files, a_first_run_creates_all_three_with_their_fixed_heads) {
  settings.hyd_path = "";
  settings.raw_path = "";
  ses.open_outputs();
  ses.clean_up();
  EXPECT_EQ(read_bytes("V26342_1.hyd").size(), 0u);
  const auto hd = read_bytes("V26342_1.hd");
  ASSERT_EQ(hd.size(), hd_fmt::head_size);
  const auto h = reader::read_hd(hd);
  EXPECT_EQ(h.pos_pix[0], 0u);
  EXPECT_EQ(h.pos_pix[1], pos_unset);
  EXPECT_EQ(h.pos_pix[1441], pos_unset);
  EXPECT_EQ(h.oldlen, 0);
  const auto abh = read_bytes("V26342_1.abh");
  ASSERT_EQ(abh.size(), abh_fmt::created_size);
  for (u8 c : abh) ASSERT_EQ(c, 0);
  EXPECT_EQ(mp.pos_a, 0);
  EXPECT_EQ(mp.pos_b, 0);
  EXPECT_EQ(raw.pix_day, 26342);
}

TEST_F(output_files, names_come_from_both_directories_and_the_raw_stem) {
  std::filesystem::create_directories(testing::test_path("hyd"));
  std::filesystem::create_directories(testing::test_path("res"));
  settings.hyd_path = "hyd/";
  settings.raw_path = "res/";
  ses.open_outputs();
  EXPECT_EQ(wr.pix_nam, "hyd/V26342_1.hyd");
  EXPECT_EQ(wr.hd_nam, "hyd/V26342_1.hd");
  EXPECT_EQ(wr.abh_nam, "res/V26342_1.abh");
  EXPECT_TRUE(std::filesystem::exists(testing::test_path("res/V26342_1.abh")));
}

TEST_F(output_files, a_missing_output_directory_ends_the_run) {
  settings.hyd_path = "nowhere/";
  EXPECT_QUITS(ses.open_outputs(), exit_status::failure);
  EXPECT_EQ(err_text(), " pixfil01 : No such file or directory\n");
}

TEST_F(output_files, stored_headers_are_replayed_in_order) {
  write_bytes("V26342_1.hd", hd_with({header_at(100, 0), header_at(200, 74), header_at(300, 74)}, 74));
  ses.open_outputs();
  ASSERT_EQ(hdr.maincnt, 3);
  EXPECT_EQ(hdr.maint[0], midnight + 100);
  EXPECT_EQ(hdr.maint[1], midnight + 200);
  EXPECT_EQ(hdr.maint[2], midnight + 300);
  EXPECT_EQ(hdr.list.nodes.size(), 3u);
  EXPECT_EQ(hdr.list.tail->line, 300 * fr);
  EXPECT_EQ(hdr.line_fr, fr) << "the line frequency of the last stored header";
}

TEST_F(output_files, a_stored_header_cut_short_is_ignored_and_cut_off) {
  std::vector<u8> hd = hd_with({header_at(100, 0), header_at(200, 74)}, 74);
  hd.resize(hd.size() - 30);
  write_bytes("V26342_1.hd", hd);
  write_bytes("V26342_1.hyd", rec_bytes(header_at(100, 0)));
  ses.open_outputs();
  EXPECT_EQ(hdr.maincnt, 1);
  ses.clean_up();
  EXPECT_EQ(read_bytes("V26342_1.hd").size(), hd_fmt::head_size + main_rec_fmt::size);
  EXPECT_NE(err_text().find("ends inside a main header at offset 5844: cut off there"), std::string::npos);
}

TEST_F(output_files, the_last_minute_is_the_highest_entry_up_to_1440) {
  std::vector<std::pair<int, u32>> entries;
  for (int k = 1; k <= 600; ++k) entries.push_back({k, 0});
  entries.push_back({1441, 5});
  write_bytes("V26342_1.hd", hd_with({}, 0, entries));
  ses.open_outputs();
  EXPECT_EQ(wr.last_minute, 600);
}

TEST_F(output_files, a_flushed_abh_and_a_fresh_one_read_the_same) {
  for (bool flushed : {false, true}) {
    new_run("");
    raw.mp_nam = "V26342_1.AB";
    write_bytes("V26342_1.abh", abh_with({{3, 1234}}, {{3, 2345}}, 77, flushed));
    ses.open_outputs();
    EXPECT_EQ(timing.pos.posa_bf[3], 1234u);
    EXPECT_EQ(timing.pos.posb_bf[3], 2345u);
    EXPECT_EQ(wr.lastpix_y, 77u);
    ses.clean_up();
  }
}

TEST_F(output_files, the_resume_entry_is_that_of_the_minute_before_the_equal_run) {
  u32 bf[minutes_per_day_table] = {};
  bf[1] = 10, bf[2] = 10, bf[3] = 20, bf[4] = 20;  // p, p, q, q
  EXPECT_EQ(resume_entry(bf, 4), 10u);
  EXPECT_EQ(resume_entry(bf, 2), 0u) << "k falls to 0";
  bf[5] = 30;
  EXPECT_EQ(resume_entry(bf, 5), 20u);
  EXPECT_EQ(resume_entry(bf, 0), 0u);
}

TEST_F(output_files, a_resumed_run_restarts_from_the_minute_of_its_last_drop) {
  const u32 p = 500, q = 900, r = 1500;
  write_bytes("V26342_1.abh", abh_with({{1, p}, {2, p}, {3, q}, {4, q}}, {{1, p + 8}, {2, r}, {3, r}, {4, r}},
                                       static_cast<u32>(4 * 60000 + 10)));
  write_bytes("V26342_1.hd", hd_with({header_at(60, 0)}, 74));
  std::vector<u8> hyd = rec_bytes(header_at(60, 0));
  write_bytes("V26342_1.hyd", hyd);
  ses.open_outputs();
  EXPECT_EQ(mp.pos_a, p);
  EXPECT_EQ(mp.pos_b, p + 8);
}

TEST_F(output_files, without_a_stored_header_a_resumed_run_restarts_at_the_beginning) {
  write_bytes("V26342_1.abh", abh_with({{1, 40}, {2, 80}}, {{1, 60}}, 2 * 60000));
  ses.open_outputs();
  EXPECT_EQ(mp.pos_a, 0);
  EXPECT_EQ(mp.pos_b, 0);
}

TEST_F(output_files, the_hyd_walk_takes_the_truth_from_the_records) {
  // .hd and .abh lag behind: a run was killed after appending to .hyd.
  std::vector<u8> hyd = rec_bytes(header_at(60, 0));
  append(hyd, drop_bytes(2 * 60000 + 5.5, 40, 74));       // minute 2 at offset 74
  append(hyd, drop_bytes(5 * 60000 + 0.5, 50, 40));       // minute 5 at offset 114
  write_bytes("V26342_1.hyd", hyd);
  write_bytes("V26342_1.hd", hd_with({header_at(60, 0)}, 74, {{1, 74}, {2, 74}}));
  write_bytes("V26342_1.abh", abh_with({}, {}, 2 * 60000 + 5));
  ses.open_outputs();
  EXPECT_EQ(wr.disk_y, 5 * 60000 + 0.5);
  EXPECT_EQ(wr.oldlen, 50);
  EXPECT_EQ(wr.pos_pix[2], 74u) << "entries already set stay";
  for (int k = 3; k <= 5; ++k) EXPECT_EQ(wr.pos_pix[k], 114u) << k;
  EXPECT_EQ(wr.last_minute, 5);
  EXPECT_EQ(wr.pix_end, hyd.size());
  EXPECT_EQ(err_text(), "");
}

TEST_F(output_files, a_record_cut_short_at_the_end_is_cut_off) {
  std::vector<u8> hyd = rec_bytes(header_at(60, 0));
  append(hyd, drop_bytes(60000 + 3, 40, 74));
  std::vector<u8> cut = drop_bytes(60000 + 9, 60, 40);
  cut.resize(17);
  append(hyd, cut);
  write_bytes("V26342_1.hyd", hyd);
  write_bytes("V26342_1.hd", hd_with({header_at(60, 0)}, 74));
  ses.open_outputs();
  EXPECT_EQ(wr.pix_end, 114u);
  EXPECT_EQ(wr.oldlen, 40);
  EXPECT_EQ(wr.disk_y, 60000 + 3);
  ses.clean_up();
  EXPECT_EQ(read_bytes("V26342_1.hyd").size(), 114u);
  EXPECT_NE(err_text().find("V26342_1.hyd ends inside a record at offset 114 (131 bytes): cut off there"),
            std::string::npos);
}

TEST_F(output_files, a_header_stored_in_hd_but_missing_from_hyd_is_appended) {
  std::vector<u8> hyd = rec_bytes(header_at(60, 0));
  append(hyd, drop_bytes(60000 + 3, 40, 74));
  write_bytes("V26342_1.hyd", hyd);
  const main_rec second = header_at(300, 40);
  write_bytes("V26342_1.hd", hd_with({header_at(60, 0), second}, 40));
  ses.open_outputs();
  EXPECT_EQ(wr.oldlen, 74);
  EXPECT_EQ(wr.pix_end, hyd.size() + 74);
  ses.clean_up();
  const auto recs = reader::read_hyd(read_bytes("V26342_1.hyd"));
  ASSERT_EQ(recs.size(), 3u);
  ASSERT_TRUE(recs[2].is_header);
  EXPECT_EQ(recs[2].header.main_time, midnight + 300);
  EXPECT_EQ(recs[2].header.len_prev, 40);
}

TEST_F(output_files, a_hyd_that_holds_no_records_ends_the_run) {
  write_bytes("V26342_1.hyd", std::vector<u8>{0x05, 0x00, 1, 2, 3, 4, 5});
  EXPECT_QUITS(ses.open_outputs(), exit_status::failure);
  EXPECT_NE(err_text().find("V26342_1.hyd holds no record at offset 0"), std::string::npos);
}

TEST_F(output_files, lastpix_y_beyond_the_stored_range_keeps_the_exact_line_from_hyd) {
  const f64 late = 4294967296.0 + 12345.5;  // past 2^32 late in the day at a high line frequency
  std::vector<u8> hyd = rec_bytes(header_at(60, 0));
  append(hyd, drop_bytes(late, 40, 74));
  write_bytes("V26342_1.hyd", hyd);
  write_bytes("V26342_1.abh", abh_with({}, {}, 0xFFFFFFFFu));
  ses.open_outputs();
  EXPECT_EQ(wr.disk_y, late);
}

}  // namespace
}  // namespace dropix
