// The raw file the simulated logger writes: its block framing, headers and line blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "tools/sim/logger.h"
#include "tools/sim/optics.h"
#include "tools/sim/simulate.h"

namespace dropix::sim {
namespace {

struct framed {
  s16 ident;
  std::size_t at;  // offset of the body
  int length;
};

// Walks the block framing; fails the test when a block reaches past the end.
std::vector<framed> blocks_of(const std::vector<u8>& raw) {
  std::vector<framed> out;
  std::size_t pos = 0;
  while (pos < raw.size()) {
    EXPECT_LE(pos + block_fmt::size, raw.size());
    const s16 ident = get_s16(raw.data() + pos + block_fmt::ident);
    const s16 len = get_s16(raw.data() + pos + block_fmt::cmpr_n);
    EXPECT_GE(len, 0);
    out.push_back({ident, pos + block_fmt::size, len});
    pos += block_fmt::size + static_cast<std::size_t>(len);
  }
  EXPECT_EQ(pos, raw.size());
  return out;
}

void check_recording(const sim_options& o) {
  const sim_output s = simulate(o);
  const std::vector<framed> blocks = blocks_of(s.raw);
  ASSERT_FALSE(blocks.empty());
  ASSERT_EQ(blocks.front().ident, ident_main_header);
  const hd_par head = decode_hd_par(s.raw.data() + blocks.front().at);
  EXPECT_EQ(head.line_fr, o.line_fr);
  EXPECT_EQ(head.gate1, 256);
  const long day = days_from_civil(o.year, o.month, o.day);
  EXPECT_EQ(head.valid_since / 86400, static_cast<u32>(day));
  const double header_line = static_cast<double>(head.valid_since % 86400) * head.line_fr;

  std::map<s16, int> count;
  std::map<s16, f64> last_first_line;
  int switches = 0;
  s16 prev_line_ident = 0;
  for (const framed& b : blocks) {
    ++count[b.ident];
    ASSERT_TRUE(b.ident == 0 || b.ident == 1 || b.ident == 2 || b.ident == 3 || b.ident == 7) << b.ident;
    if (b.ident == ident_main_header) {
      ASSERT_EQ(b.length, static_cast<int>(hd_par_fmt::size));
      // Every repetition is the same header.
      EXPECT_TRUE(std::equal(s.raw.begin() + static_cast<std::ptrdiff_t>(b.at),
                             s.raw.begin() + static_cast<std::ptrdiff_t>(b.at + hd_par_fmt::size),
                             s.raw.begin() + static_cast<std::ptrdiff_t>(blocks.front().at)));
    }
    if (b.ident != ident_camera_a && b.ident != ident_camera_b) continue;
    const s16 n_lin = get_s16(s.raw.data() + b.at);
    EXPECT_GT(n_lin, 0);
    EXPECT_LE(n_lin, max_block_lines);
    // Frames fill the body; their first line counts grow strictly per camera, across blocks.
    std::size_t at = 2;
    while (at < static_cast<std::size_t>(b.length)) {
      const u32 frame_len = get_u32(s.raw.data() + b.at + at) & 0x3FFFu;
      const f64 first = get_f64(s.raw.data() + b.at + at + 4);
      ASSERT_GE(frame_len, 14u);
      EXPECT_GE(first, header_line);
      EXPECT_EQ(first, std::floor(first));
      if (last_first_line.count(b.ident)) {
        EXPECT_GT(first, last_first_line[b.ident]);
      }
      last_first_line[b.ident] = first;
      at += frame_len;
    }
    EXPECT_EQ(at, static_cast<std::size_t>(b.length));
    switches += prev_line_ident != 0 && prev_line_ident != b.ident;
    prev_line_ident = b.ident;
  }
  EXPECT_GT(count[ident_camera_a], 10);
  EXPECT_GT(count[ident_camera_b], 10);
  EXPECT_GE(count[ident_main_header], 2);
  EXPECT_GE(count[0] + count[7], 1);
  // The cameras' blocks are interleaved in time, not one camera after the other.
  EXPECT_GT(switches, count[ident_camera_a] / 4);
}

TEST(sim_logger, raw_file_frames_a_recording_at_55_khz) {
  sim_options o;
  o.event.minutes = 4.0;
  o.logger.header_every = 60.0;
  o.logger.foreign_per_min = 2.0;
  check_recording(o);
}

TEST(sim_logger, raw_file_at_34_khz_late_in_the_day_passes_two_to_the_32) {
  sim_options o;
  o.line_fr = 34100.0;
  o.event.start = 86000.0;
  o.event.minutes = 3.0;
  o.logger.header_every = 60.0;
  o.logger.foreign_per_min = 2.0;
  check_recording(o);
  o.line_fr = 55000.0;
  o.event.start = 80000.0;
  const sim_output s = simulate(o);
  ASSERT_FALSE(s.truth.empty());
  EXPECT_GT(static_cast<double>(s.truth.front().first_a), 4294967296.0);
}

rawkit::scan_line line_at(double y, s16 first = 100) { return {y, {{first, static_cast<s16>(first + 4)}}}; }

TEST(sim_logger, blocks_are_cut_at_gaps_and_at_the_line_buffer) {
  logger_options o;
  o.block_lines = 3;
  std::vector<rawkit::scan_line> lines;
  for (double y : {10.0, 11.0, 12.0, 13.0, 20.0, 21.0, 30.0}) lines.push_back(line_at(y));
  std::vector<planned_block> b = camera_blocks(ident_camera_a, lines, 55000.0, o);
  ASSERT_EQ(b.size(), 2u);  // a silhouette is never cut at a line without a gap
  EXPECT_EQ(b[0].lines.size(), 4u);
  EXPECT_EQ(b[1].lines.size(), 3u);
  EXPECT_EQ(b[0].close, 13.0);
  EXPECT_EQ(get_s16(b[0].body.data()), 4);
  // A block also ends at the first gap after its time slice.
  o.block_seconds = 5.0 / 55000.0;
  b = camera_blocks(ident_camera_a, lines, 55000.0, o);
  ASSERT_EQ(b.size(), 3u);
  EXPECT_EQ(b[1].lines.size(), 2u);
  EXPECT_EQ(b[2].close, 30.0);
  // A shadow without gaps fills the logger's buffer and goes on in the next block.
  lines.clear();
  for (int i = 0; i < 2500; ++i) lines.push_back(line_at(1000.0 + i, static_cast<s16>(i % 500)));
  b = camera_blocks(ident_camera_b, lines, 55000.0, o);
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(b[0].lines.size(), 2000u);
  EXPECT_EQ(b[1].lines.front().y_count, 3000.0);
  // Lines far apart each need a frame: a body too long for the framing is split.
  lines.clear();
  for (int i = 0; i < 2000; ++i) {
    const auto k = static_cast<s16>(i % 2);  // no two lines alike: no repetition codes
    lines.push_back({10.0 * i, {{10, 12}, {100, static_cast<s16>(104 + k)}, {300, 310}}});
  }
  o.block_lines = 2000;
  o.block_seconds = 1e9;
  b = camera_blocks(ident_camera_a, lines, 55000.0, o);
  ASSERT_GT(b.size(), 1u);
  std::size_t total = 0;
  for (const planned_block& k : b) {
    EXPECT_LE(k.body.size(), static_cast<std::size_t>(max_block_body));
    total += k.lines.size();
  }
  EXPECT_EQ(total, 2000u);
}

TEST(sim_logger, fixed_fields_code_from_pixel_zero) {
  logger_options o;
  const std::vector<rawkit::scan_line> lines = {line_at(50.0, 300), line_at(51.0, 301)};
  const std::vector<planned_block> b = camera_blocks(ident_camera_a, lines, 55000.0, o);
  ASSERT_EQ(b.size(), 1u);
  const u32 head = get_u32(b[0].body.data() + 2);
  EXPECT_EQ((head >> 14) & 0x3FFu, 0u);   // x_base
  EXPECT_EQ((head >> 24) & 0xFu, 8u);     // dark_bits
  EXPECT_EQ((head >> 28) & 0xFu, 11u);    // light_bits
  EXPECT_EQ(head & 0x3FFFu, b[0].body.size() - 2);  // one frame fills the body
}

}  // namespace
}  // namespace dropix::sim
