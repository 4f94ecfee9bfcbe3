// The raw block stream through the real executable: the walk of both readers, foreign and
// empty blocks, a cut tail, corrupt framing, and one drop evaluated by hand.
#include "tests/e2e/e2e_support.h"
#include "reader/hyd_reader.h"

namespace dropix::e2e {
namespace {

using rawkit::raw_builder;
using rawkit::scan_line;

constexpr u32 midnight = 20796u * 86400u;

// `n` lines of one run {first, last}, from line y on.
std::vector<scan_line> block_of(f64 y, int n, s16 first, s16 last) {
  std::vector<scan_line> out;
  for (int i = 0; i < n; ++i) out.push_back({y + i, {{first, last}}});
  return out;
}

class raw_stream : public e2e_test {
 protected:
  std::vector<reader::hyd_record> records() { return reader::read_hyd(bytes("V26342_1.hyd")); }
  std::string log_after_start() {
    const std::string log = text("DROPIX.ERR");
    return log.substr(log.find('\n', 1) + 1);
  }
};

TEST_F(raw_stream, the_six_block_example_writes_its_header_once_and_both_drops) {
  raw_builder()
      .header(rawkit::sample_header(midnight, 1000.0))
      .lines(ident_camera_a, block_of(98, 3, 100, 104))
      .lines(ident_camera_b, block_of(88, 3, 100, 104))
      .lines(ident_camera_b, block_of(118, 3, 100, 104))
      .lines(ident_camera_a, block_of(198, 3, 100, 104))
      .lines(ident_camera_b, block_of(208, 3, 100, 104))
      .write(path("V26342_1.AB"));
  ASSERT_EQ(run({"V26342_1.AB"}).status, 0);
  const auto recs = records();
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_TRUE(recs[0].is_header);
  EXPECT_EQ(recs[1].drop.y_first, 98.0);
  EXPECT_EQ(recs[1].drop.diff_lins, 40) << "paired with the block ending at 120, not at 90";
  EXPECT_EQ(recs[2].drop.y_first, 198.0);
  EXPECT_EQ(log_after_start(), "");
}

TEST_F(raw_stream, camera_a_blocks_alone_give_no_drops_and_end_normally) {
  raw_builder()
      .header(rawkit::sample_header(midnight, 1000.0))
      .lines(ident_camera_a, block_of(100, 4, 10, 20))
      .lines(ident_camera_a, block_of(200, 4, 10, 20))
      .write(path("V26342_1.AB"));
  ASSERT_EQ(run({"V26342_1.AB"}).status, 0);
  EXPECT_EQ(records().size(), 1u);
  // Camera A's minute entry reached the resume file at the last flush.
  EXPECT_EQ(bytes("V26342_1.abh").size(), abh_fmt::size);
}

TEST_F(raw_stream, foreign_types_and_empty_bodies_are_stepped_over) {
  raw_builder()
      .header(rawkit::sample_header(midnight, 1000.0))
      .block(0, {1, 2, 3, 4, 5, 6})
      .lines(ident_camera_a, block_of(100, 4, 10, 20))
      .block(7, {})
      .block(ident_camera_b, {})
      .lines(ident_camera_b, block_of(150, 5, 30, 40))
      .block(7, {9})
      .write(path("V26342_1.AB"));
  ASSERT_EQ(run({"V26342_1.AB"}).status, 0);
  ASSERT_EQ(records().size(), 2u);
  // The empty camera B block is refused by the decoder, nothing else is reported.
  EXPECT_EQ(log_after_start(), "decmpr01: unexpected end of data\n");
}

TEST_F(raw_stream, a_cut_tail_is_reported_and_the_data_before_it_kept) {
  raw_builder b;
  b.header(rawkit::sample_header(midnight, 1000.0))
      .lines(ident_camera_a, block_of(100, 4, 10, 20))
      .lines(ident_camera_b, block_of(150, 5, 30, 40));
  const std::size_t cut_at = b.size();
  b.bytes({2, 0});  // half of a framing
  b.write(path("V26342_1.AB"));
  ASSERT_EQ(run({"V26342_1.AB"}).status, 0);
  EXPECT_EQ(records().size(), 2u);
  const std::string msg = "block at offset " + std::to_string(cut_at) + " needs 4 bytes, but the raw file ends at " +
                          std::to_string(cut_at + 2) + ": camera ";
  EXPECT_EQ(log_after_start(), msg + "A reader stops there\n" + msg + "B reader stops there\n");
}

TEST_F(raw_stream, a_negative_length_ends_the_run_with_status_1_after_writing_what_came_before) {
  raw_builder b;
  b.header(rawkit::sample_header(midnight, 1000.0))
      .lines(ident_camera_a, block_of(100, 4, 10, 20))
      .lines(ident_camera_b, block_of(150, 5, 30, 40));
  const std::size_t bad_at = b.size();
  b.block(7, -4, {0, 0, 0, 0});
  b.lines(ident_camera_a, block_of(400, 4, 10, 20));
  b.write(path("V26342_1.AB"));
  const auto r = run({"V26342_1.AB"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("DROPIX stopped with an error: see DROPIX.ERR"), std::string::npos);
  EXPECT_EQ(log_after_start(),
            "corrupt raw file: block at offset " + std::to_string(bad_at) + " has the negative length -4\n");
  EXPECT_EQ(records().size(), 2u) << "the drop matched before the corrupt block is written";
}

TEST_F(raw_stream, one_drop_evaluates_to_the_hand_computed_values) {
  // Header: gate1 256, HBL 6.50, HBR 6.62, HFR 6.71 mm, XSCALE0_1 0.1912, XSCALE0_2 0.1897,
  // L0_1 252, L0_2 248 mm; correction factors all 1.0 (every percentage 0).
  // Camera A: 4 lines {100, 110}; camera B: 5 lines {200, 209}, 80 lines later.
  //   offA = 105 - 256 = -151, offB = 204 - 256 = -52; cA = 105.0, cB = 204.5, W = 512
  //   HFL = 6.59; H_front = 6.6146094, H_back = 6.5246094, H = 6.5605569
  //   dt = 80 + 81 = 161, yscale = 2 H / dt = 0.0814976 mm per line
  //   height index (4 + 5) * 0.0814976 * 5 = 3: factor 1.0
  //   xscale_a = 0.1912 (252 + 0.1897 * 52) / 252 = 0.1986844
  //   xscale_b = 0.1897 (248 - 0.1912 * 151) / 248 = 0.1676159
  //   slices: 4 x (10 * 0.1986844)(9 * 0.1676159) * 3.14159 / 4 * 0.0814976, then * 9 / 8
  //   V = 0.8633131 mm^3, eq_diam = (6 V / 3.14159)^(1/3) = 1.1813811 mm
  raw_builder()
      .header(rawkit::sample_header(midnight, 55000.0))
      .lines(ident_camera_a, block_of(55000.0 * 600, 4, 100, 110))
      .lines(ident_camera_b, block_of(55000.0 * 600 + 80, 5, 200, 209))
      .reach(55000.0 * 600 + 2500)
      .write(path("V26342_1.AB"));
  ASSERT_EQ(run({"V26342_1.AB"}).status, 0);
  const auto recs = records();
  ASSERT_EQ(recs.size(), 2u);
  const drop_head& d = recs[1].drop;
  EXPECT_EQ(d.diam_100, 118);
  EXPECT_EQ(d.yscale_10k, 814);
  EXPECT_EQ(d.xscale_a_10k, 1986);
  EXPECT_EQ(d.xscale_b_10k, 1676);
  EXPECT_EQ(d.lines_a, 4);
  EXPECT_EQ(d.lines_diff, 1);
  EXPECT_EQ(d.diff_lins, 161);
  EXPECT_EQ(d.pix_min_a, 100);
  EXPECT_EQ(d.pix_min_b, 200);
  EXPECT_EQ(recs[1].bits, 4u) << "widths 10 and 9 need 4 bits";
}

}  // namespace
}  // namespace dropix::e2e
