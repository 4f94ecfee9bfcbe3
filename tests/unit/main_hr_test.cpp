// Main headers: recognition of known headers, the header list, the records appended.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

#include "input/main_hr.h"
#include "output/net_wr.h"
#include "platform/raw_reader.h"
#include "tests/support/fixture.h"
#include "kit/rawbuild.h"

namespace dropix {
namespace {

using testing::dropix_test;

constexpr u32 day = 20000 * 86400u;  // midnight of a day in 2024

class main_header : public dropix_test {
 protected:
  void SetUp() override {
    dropix_test::SetUp();
    wr.pix_nam = "out/V24300_1.hyd";
    hd = std::tmpfile();
    hyd = std::tmpfile();
    std::vector<u8> head(hd_fmt::head_size, 0);
    std::fwrite(head.data(), 1, head.size(), hd);
    wr.hd_fp.reset(hd);
    wr.pix_fp.reset(hyd);
  }
  // Offers the header's block body to main_hr, as either camera reader does; a new header's
  // record goes to the writer.
  void offer(const hd_par& h) {
    const std::vector<u8> body = rawkit::header_body(h);
    raw_window_over(win, body.data(), body.size());
    raw_cursor cur{&win, 0, static_cast<s64>(body.size())};
    if (const auto rec = main_hr(hdr, cur, 0, wr.oldlen, wr.pix_nam, diag)) append_header(wr, *rec, diag);
  }
  static long size_of(std::FILE* fp) {
    std::fseek(fp, 0, SEEK_END);
    return std::ftell(fp);
  }
  raw_window win;
  std::FILE* hd = nullptr;
  std::FILE* hyd = nullptr;
};

TEST_F(main_header, the_second_offer_of_a_header_is_recognised) {
  const hd_par h = rawkit::sample_header(day + 3600, 55000.0);
  offer(h);
  EXPECT_EQ(hdr.line_fr, 55000.0);
  hdr.line_fr = 34100.0;  // as a later header would have set it
  offer(h);
  EXPECT_EQ(hdr.line_fr, 34100.0) << "a repeated header changes nothing";
  EXPECT_EQ(err_text(), "");
  EXPECT_EQ(hdr.maincnt, 1);
  EXPECT_EQ(hdr.maint[0], day + 3600);
  ASSERT_NE(hdr.list.head, nullptr);
  EXPECT_EQ(hdr.list.head, hdr.list.tail);
  EXPECT_EQ(hdr.list.head->line, 3600 * 55000.0);
  EXPECT_EQ(size_of(hd), static_cast<long>(hd_fmt::head_size + main_rec_fmt::size));
  EXPECT_EQ(size_of(hyd), static_cast<long>(main_rec_fmt::size));
  EXPECT_EQ(wr.pix_end, main_rec_fmt::size);
  EXPECT_EQ(wr.oldlen, 74);
  EXPECT_EQ(wr.wr_force, 1);
}

TEST_F(main_header, record_carries_the_header_and_chains_back) {
  wr.oldlen = 122;
  hd_par h = rawkit::sample_header(day + 60, 34100.0);
  h.hd_word4 = 4;
  h.hd_word18 = 18;
  h.gate2 = 300;
  h.ratio_num = 1;
  h.ratio_den = 3;
  offer(h);
  std::rewind(hyd);
  u8 bytes[main_rec_fmt::size];
  ASSERT_EQ(std::fread(bytes, sizeof bytes, 1, hyd), 1u);
  const main_rec r = decode_main_rec(bytes);
  EXPECT_EQ(r.indic, -74);
  EXPECT_EQ(r.len_prev, 122);
  EXPECT_STREQ(r.file_name, "V24300_1.hyd");
  EXPECT_EQ(r.main_time, day + 60);
  EXPECT_EQ(r.line_fr, 34100.0);
  EXPECT_EQ(r.HBL, h.HBL);
  EXPECT_EQ(r.gate1, 256);
  EXPECT_EQ(r.gate2, 300);
  EXPECT_EQ(r.hd_word18, 18);
  EXPECT_EQ(r.hd_word4, 4);
  EXPECT_EQ(r.L0_2, h.L0_2);
  EXPECT_EQ(r.rec_mark, 0xE4A7);
  EXPECT_EQ(r.fixed_2, 2);
  EXPECT_EQ(r.fixed_0, 0);
  EXPECT_EQ(r.ratio, 33);
  // .hd says at once that .hyd ends with a 74-byte record.
  std::fseek(hd, hd_fmt::oldlen, SEEK_SET);
  u8 len[2];
  ASSERT_EQ(std::fread(len, 2, 1, hd), 1u);
  EXPECT_EQ(get_s16(len), 74);
}

TEST_F(main_header, ratio_of_a_zero_denominator_is_zero) {
  hd_par h = rawkit::sample_header(day);
  h.ratio_den = 0;
  h.ratio_num = 5;
  EXPECT_EQ(make_main_rec(h, 0, "x.hyd").ratio, 0);
  h.ratio_den = -4;
  h.ratio_num = 7;
  EXPECT_EQ(make_main_rec(h, 0, "x.hyd").ratio, -175);
}

TEST_F(main_header, file_name_keeps_13_characters_and_zero_fills) {
  const main_rec r = make_main_rec(rawkit::sample_header(day), 0, "/a/b/V24300_12345.hyd");
  EXPECT_EQ(std::string(r.file_name), "V24300_12345.");
  EXPECT_EQ(r.file_name[13], 0);
  const main_rec s = make_main_rec(rawkit::sample_header(day), 0, "V.hyd");
  for (std::size_t i = 5; i < file_name_len; ++i) EXPECT_EQ(s.file_name[i], 0) << i;
}

TEST_F(main_header, the_header_list_grows_at_its_tail_in_time_order) {
  offer(rawkit::sample_header(day + 100));
  offer(rawkit::sample_header(day + 200, 34100.0));
  offer(rawkit::sample_header(day + 300));
  ASSERT_EQ(hdr.maincnt, 3);
  ASSERT_EQ(hdr.list.nodes.size(), 3u);
  EXPECT_EQ(hdr.list.head->line, 100 * 55000.0);
  EXPECT_EQ(hdr.list.head->next->line, 200 * 34100.0) << "each header's line at its own frequency";
  EXPECT_EQ(hdr.list.tail->line, 300 * 55000.0);
  EXPECT_EQ(hdr.list.tail->prev->next, hdr.list.tail);
}

TEST_F(main_header, a_new_header_at_a_known_time_of_day_is_a_time_jump) {
  offer(rawkit::sample_header(day + 500));
  EXPECT_QUITS(offer(rawkit::sample_header(day + 86400 + 500)), exit_status::failure);
  EXPECT_EQ(err_text(),
            " indic    = -74 -74 \n"
            " len_prev = 0 74 \n"
            " L0_1     = 252.000000 252.000000 \n"
            " L0_2     = 248.000000 248.000000 \n"
            " main_time= 1728000500 1728086900 \n"
            " gate1    = 256 256 \n"
            " gate2    = 256 256 \n"
            " line_fr  = 55000.000000 55000.000000 \n"
            " XSCALE0_1= 0.191200 0.191200 \n"
            " XSCALE0_2= 0.189700 0.189700 \n"
            " HBL      = 6.500000 6.500000 \n"
            " HBR      = 6.620000 6.620000 \n"
            " HFR      = 6.710000 6.710000 \n"
            "\n\n neg. time jump ?!?!?! \n"
            "please rename or delete current set of data files");
  EXPECT_EQ(wr.pix_end, main_rec_fmt::size) << "nothing appended";
}

TEST_F(main_header, an_earlier_time_of_day_is_a_time_jump) {
  offer(rawkit::sample_header(day + 500));
  EXPECT_QUITS(offer(rawkit::sample_header(day + 400)), exit_status::failure);
  EXPECT_NE(err_text().find("neg. time jump ?!?!?!"), std::string::npos);
}

TEST_F(main_header, the_100th_header_is_taken_and_the_101st_ends_the_run) {
  for (u32 i = 0; i < 100; ++i) offer(rawkit::sample_header(day + 10 * (i + 1)));
  EXPECT_EQ(hdr.maincnt, 100);
  EXPECT_EQ(err_text(), "");
  EXPECT_QUITS(offer(rawkit::sample_header(day + 5000)), exit_status::failure);
  EXPECT_NE(host.out.find(" more than 100 mainheaders ! \n"), std::string::npos);
  EXPECT_EQ(err_text(), " more than 100 mainheaders ! \n");
}

TEST_F(main_header, a_repetition_with_other_parameters_is_reported_and_changes_nothing) {
  offer(rawkit::sample_header(day + 3600, 55000.0));
  const long hyd_size = size_of(hyd);
  hd_par other = rawkit::sample_header(day + 3600, 34100.0);
  other.HBL = 9.0f;
  offer(other);
  EXPECT_EQ(hdr.line_fr, 55000.0);
  EXPECT_EQ(hdr.maincnt, 1);
  EXPECT_EQ(size_of(hyd), hyd_size);
  EXPECT_EQ(err_text(), "main header at offset 0 repeats valid_since 1728003600 with other parameters: ignored\n");
}

TEST_F(main_header, a_line_frequency_that_counts_no_time_is_refused) {
  for (f64 bad : {0.0, -55000.0, std::numeric_limits<f64>::infinity(), std::numeric_limits<f64>::quiet_NaN()}) {
    offer(rawkit::sample_header(day + 3600, bad));
    EXPECT_EQ(hdr.maincnt, 0) << bad;
    EXPECT_EQ(hdr.line_fr, 0.0) << bad;
  }
  EXPECT_EQ(size_of(hyd), 0);
  EXPECT_NE(err_text().find("main header at offset 0 has the line frequency nan: ignored\n"), std::string::npos)
      << err_text();
  EXPECT_NE(err_text().find("has the line frequency 0: ignored"), std::string::npos);
}

TEST_F(main_header, a_body_too_short_for_a_header_is_refused) {
  const std::vector<u8> body = rawkit::header_body(rawkit::sample_header(day));
  raw_window_over(win, body.data(), 40);
  raw_cursor cur{&win, 0, 40};
  EXPECT_FALSE(main_hr(hdr, cur, 0, 0, wr.pix_nam, diag).has_value());
  EXPECT_EQ(hdr.maincnt, 0);
  EXPECT_EQ(hdr.line_fr, 0.0);
  EXPECT_EQ(err_text(), " main_hr01 : unexpected end of data\n");
}

TEST_F(main_header, stored_records_rebuild_the_list_without_a_jump) {
  // What a restart does: the records stored in .hd enter the list again in file order.
  main_tim(hdr.list, make_main_rec(rawkit::sample_header(day + 100), 0, "V.hyd"), diag);
  const main_rec second = make_main_rec(rawkit::sample_header(day + 200, 34100.0), 74, "V.hyd");
  main_tim(hdr.list, second, diag);
  main_tim(hdr.list, second, diag);  // the same record again changes nothing
  EXPECT_EQ(hdr.list.nodes.size(), 2u);
  EXPECT_EQ(err_text(), "");
}

}  // namespace
}  // namespace dropix
