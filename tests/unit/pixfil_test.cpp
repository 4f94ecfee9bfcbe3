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
  EXPECT_EQ(err_text(),
            " pixfil01 : No such file or directory\n"
            "nowhere/V26342_1.hyd cannot be opened or created (No such file or directory)\n");
}

TEST_F(output_files, a_failed_start_removes_the_files_it_created) {
  settings.raw_path = "nowhere/";
  EXPECT_QUITS(ses.open_outputs(), exit_status::failure);
  EXPECT_NE(err_text().find("nowhere/V26342_1.abh cannot be opened or created"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(testing::test_path("V26342_1.hyd"))) << "no empty .hyd is left behind";
}

TEST_F(output_files, stored_headers_are_replayed_in_order) {
  const std::vector<main_rec> headers = {header_at(100, 0), header_at(200, 74), header_at(300, 74)};
  std::vector<u8> hyd;
  for (const main_rec& r : headers) append(hyd, rec_bytes(r));
  write_bytes("V26342_1.hyd", hyd);
  write_bytes("V26342_1.hd", hd_with(headers, 74));
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
  std::vector<u8> hyd = rec_bytes(header_at(60, 0));
  append(hyd, drop_bytes(600 * 60000 + 2, 40, 74));
  write_bytes("V26342_1.hyd", hyd);
  std::vector<std::pair<int, u32>> entries;
  for (int k = 1; k <= 600; ++k) entries.push_back({k, 74});
  entries.push_back({1441, 5});
  write_bytes("V26342_1.hd", hd_with({header_at(60, 0)}, 40, entries));
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
    EXPECT_EQ(wr.lastpix_y, 0u) << "the line of the drops on disk comes from .hyd, which holds none";
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
  append(hyd, drop_bytes(4 * 60000 + 10, 40, 74));
  write_bytes("V26342_1.hyd", hyd);
  ses.open_outputs();
  EXPECT_EQ(mp.pos_a, p);
  EXPECT_EQ(mp.pos_b, p + 8);
  EXPECT_EQ(wr.lastpix_y, 4u * 60000 + 10);
}

TEST_F(output_files, without_a_drop_on_disk_a_run_starts_at_the_beginning_whatever_abh_says) {
  // .hyd was deleted after a run: .hd and .abh still tell of drops up to minute 4.
  write_bytes("V26342_1.abh", abh_with({{1, 500}, {2, 500}, {3, 900}, {4, 900}}, {{1, 508}}, 4 * 60000 + 10));
  write_bytes("V26342_1.hd", hd_with({header_at(60, 0)}, 40, {{1, 74}, {2, 74}, {3, 114}, {4, 114}}));
  ses.open_outputs();
  EXPECT_EQ(mp.pos_a, 0);
  EXPECT_EQ(mp.pos_b, 0);
  EXPECT_EQ(wr.disk_y, 0.0);
  EXPECT_EQ(wr.lastpix_y, 0u);
  EXPECT_EQ(hdr.maincnt, 0) << "the header is read again from the raw file, and written again";
  EXPECT_EQ(wr.last_minute, 0);
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(wr.pos_pix[k], pos_unset) << "entries past the end of .hyd go: " << k;
  ses.clean_up();
  EXPECT_EQ(read_bytes("V26342_1.hd").size(), hd_fmt::head_size);
  EXPECT_NE(err_text().find("V26342_1.hd holds 1 main headers that V26342_1.hyd does not: cut off"), std::string::npos);
}

TEST_F(output_files, an_abh_whose_tables_cannot_hold_is_rebuilt_from_the_beginning) {
  std::vector<u8> hyd = rec_bytes(header_at(60, 0));
  append(hyd, drop_bytes(4 * 60000 + 10, 40, 74));
  write_bytes("V26342_1.hyd", hyd);
  write_bytes("V26342_1.hd", hd_with({header_at(60, 0)}, 40, {{1, 74}, {2, 74}, {3, 74}, {4, 74}}));
  // Garbage: entries that fall back.
  write_bytes("V26342_1.abh", abh_with({{1, 900}, {2, 500}, {3, 900}, {4, 900}}, {{1, 508}}, 7));
  ses.open_outputs();
  EXPECT_EQ(mp.pos_a, 0);
  EXPECT_EQ(mp.pos_b, 0);
  EXPECT_EQ(timing.pos.posa_bf[3], 0u) << "tables cleared, to be filled again";
  EXPECT_EQ(wr.lastpix_y, 4u * 60000 + 10);
  EXPECT_NE(err_text().find("V26342_1.abh holds positions out of order: rebuilt from the start of the raw file"),
            std::string::npos);
  // Cut short.
  ses.clean_up();
  write_bytes("V26342_1.abh", std::vector<u8>(100, 0));
  new_run("");
  raw.mp_nam = "rawdir/V26342_1.AB";
  ses.open_outputs();
  EXPECT_NE(err_text().find("V26342_1.abh is cut short (100 bytes): rebuilt"), std::string::npos);
}

TEST_F(output_files, abh_positions_beyond_the_raw_file_are_refused) {
  raw_positions pos;
  pos.posa_bf[2] = 1000;
  EXPECT_EQ(abh_fault(pos, 999), std::string("positions beyond the end of the raw file"));
  EXPECT_EQ(abh_fault(pos, 1000), nullptr);
  pos.posb_bf[0] = 10;
  pos.posb_bf[1] = 10;
  pos.posb_bf[2] = 0;
  pos.posb_bf[3] = 20;
  EXPECT_EQ(abh_fault(pos, 1000), std::string("positions out of order"));
  raw_positions from_zero;  // a first block at offset 0 leaves the first entries at 0
  from_zero.posa_bf[3] = 50;
  EXPECT_EQ(abh_fault(from_zero, 1000), nullptr);
}

TEST_F(output_files, a_missing_hd_is_rebuilt_from_the_headers_in_hyd) {
  std::vector<u8> hyd = rec_bytes(header_at(60, 0));
  append(hyd, drop_bytes(2 * 60000 + 1, 40, 74));
  append(hyd, rec_bytes(header_at(300, 40)));
  write_bytes("V26342_1.hyd", hyd);
  ses.open_outputs();
  EXPECT_EQ(hdr.maincnt, 2);
  EXPECT_EQ(wr.oldlen, 74);
  ses.clean_up();
  const auto hd = reader::read_hd(read_bytes("V26342_1.hd"));
  ASSERT_EQ(hd.headers.size(), 2u);
  EXPECT_EQ(hd.headers[1].main_time, midnight + 300);
  EXPECT_EQ(hd.oldlen, 74);
  EXPECT_EQ(hd.pos_pix[2], 74u);
  EXPECT_EQ(read_bytes("V26342_1.hyd"), hyd) << ".hyd is not touched";
}

TEST_F(output_files, outputs_of_another_recording_are_refused) {
  // Records naming another .hyd.
  std::vector<u8> hyd = rec_bytes(make_main_rec(rawkit::sample_header(midnight + 60, fr), 0, "V26343_1.hyd"));
  write_bytes("V26342_1.hyd", hyd);
  EXPECT_QUITS(ses.open_outputs(), exit_status::failure);
  EXPECT_NE(err_text().find("V26342_1.hyd belongs to another output set (its records name V26343_1.hyd)"),
            std::string::npos);
  // .hd and .hyd of different runs.
  write_bytes("V26342_1.hyd", rec_bytes(header_at(60, 0)));
  write_bytes("V26342_1.hd", hd_with({header_at(61, 0)}, 74));
  new_run("");
  raw.mp_nam = "rawdir/V26342_1.AB";
  EXPECT_QUITS(ses.open_outputs(), exit_status::failure);
  EXPECT_NE(err_text().find("hold different main headers (the 1. differs)"), std::string::npos);
  EXPECT_EQ(read_bytes("V26342_1.hyd"), rec_bytes(header_at(60, 0))) << "nothing is touched";
}

TEST_F(output_files, a_second_run_on_the_same_outputs_is_refused_and_touches_nothing) {
  std::vector<u8> hyd = rec_bytes(header_at(60, 0));
  append(hyd, drop_bytes(2 * 60000 + 1, 40, 74));
  write_bytes("V26342_1.hyd", hyd);
  ses.open_outputs();  // this run holds the lock
  const auto hd_before = read_bytes("V26342_1.hd");
  testing::fake_host other_host;
  session other(other_host, run_options{false, false, "rawdir/V26342_1.AB", dir()});
  std::FILE* other_err = std::tmpfile();
  other.diag.err = other_err;
  other.raw.mp_nam = "rawdir/V26342_1.AB";
  try {
    other.open_outputs();
    ADD_FAILURE() << "the second run was let in";
  } catch (const run_end& e) {
    EXPECT_EQ(e.status, exit_status::failure);
    EXPECT_EQ(e.message, "V26342_1.hyd is being written by another DROPIX run\n");
  }
  other.clean_up();
  std::fclose(other_err);
  EXPECT_EQ(read_bytes("V26342_1.hyd"), hyd);
  EXPECT_EQ(read_bytes("V26342_1.hd"), hd_before);
  // Once the first run has closed its files, the lock is gone.
  ses.clean_up();
  session third(other_host, run_options{false, false, "rawdir/V26342_1.AB", dir()});
  third.raw.mp_nam = "rawdir/V26342_1.AB";
  third.diag.err = std::tmpfile();
  EXPECT_NO_THROW(third.open_outputs());
  third.clean_up();
  std::fclose(third.diag.err);
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

TEST_F(output_files, a_header_stored_in_hd_but_missing_from_hyd_is_cut_off_to_come_again_in_order) {
  // A run killed between the two appends of a header: the pass meets the header block again
  // and appends it to both files after the drops that came before it.
  std::vector<u8> hyd = rec_bytes(header_at(60, 0));
  append(hyd, drop_bytes(60000 + 3, 40, 74));
  write_bytes("V26342_1.hyd", hyd);
  write_bytes("V26342_1.hd", hd_with({header_at(60, 0), header_at(300, 40)}, 40));
  ses.open_outputs();
  EXPECT_EQ(wr.oldlen, 40);
  EXPECT_EQ(wr.pix_end, hyd.size());
  EXPECT_EQ(hdr.maincnt, 1);
  ses.clean_up();
  EXPECT_EQ(reader::read_hd(read_bytes("V26342_1.hd")).headers.size(), 1u);
  EXPECT_EQ(read_bytes("V26342_1.hyd"), hyd);
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
