// Line-block decompression: the bit reader, round trips with the raw-file builder's encoder,
// and the blocks the decoder must refuse or cut short.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "input/decmpr.h"
#include "kit/rawbuild.h"
#include "tests/support/fixture.h"
#include "tests/unit/decmpr_reference.h"

namespace dropix {
namespace {

using rawkit::encode_line_block;
using rawkit::encode_options;
using rawkit::run;
using rawkit::scan_line;
using testing::dropix_test;

// The worked example: three lines at 100, 101, 102, each with one run 13..17, coded as a
// shaded line and a repetition of two in one frame with x_base 10, dark_bits 5, light_bits 4.
const std::vector<u8> worked_example = {0x03, 0x00, 0x10, 0x80, 0x02, 0x45, 0x00, 0x00, 0x00,
                                        0x00, 0x00, 0x00, 0x59, 0x40, 0x43, 0x15, 0x01, 0x00};

struct decoded {
  s16 result = -1;
  s16 n = -99;
  std::vector<scan_line> lines;  // the n lines handed on (result 1 only)
};

decoded decode(const std::vector<u8>& body) {
  raw_window win;
  raw_window_over(win, body.data(), body.size());
  raw_cursor cur{&win, 0, static_cast<s64>(body.size())};
  decoded d;
  testing::dropix_test& t = testing::current_test();
  d.result = decmpr(t.dec, cur, &d.n, t.diag);
  if (d.result != 1) return d;
  EXPECT_EQ(t.dec.line_blk.n_lin, d.n);
  for (int i = 0; i < d.n; ++i) {
    const line_entry& e = t.dec.line_blk.line[i];
    scan_line l{e.y_count, {}};
    for (int k = 0; k < e.n_seg; ++k) l.runs.push_back({e.seg[k][0], e.seg[k][1]});
    d.lines.push_back(l);
  }
  return d;
}

// Fields written least significant bit first into 16-bit little-endian words, for frames
// the encoder refuses to make.
class bits {
 public:
  bits& field(u32 value, int n, bool flag) {
    const u32 v = (value & ((1u << (n - 1)) - 1u)) | (static_cast<u32>(flag) << (n - 1));
    for (int i = 0; i < n; ++i) b_.push_back(((v >> i) & 1u) != 0);
    return *this;
  }
  std::vector<u8> words() const {
    std::vector<u8> out(2 * ((b_.size() + 15) / 16), 0);
    for (std::size_t i = 0; i < b_.size(); ++i)
      if (b_[i]) out[i / 8] |= static_cast<u8>(1u << (i % 8));
    return out;
  }

 private:
  std::vector<bool> b_;
};

struct head {
  int light_bits = 4;
  int dark_bits = 5;
  int x_base = 10;
  f64 y = 100.0;
  int frame_len = -1;  // -1: the head and the stream
};

std::vector<u8> frame(const head& h, const std::vector<u8>& stream) {
  std::vector<u8> out(12);
  const u32 len = h.frame_len >= 0 ? static_cast<u32>(h.frame_len) : static_cast<u32>(12 + stream.size());
  put_u32(out.data(), len | static_cast<u32>(h.x_base) << 14 | static_cast<u32>(h.dark_bits) << 24 |
                          static_cast<u32>(h.light_bits) << 28);
  put_f64(out.data() + 4, h.y);
  out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

std::vector<u8> block(s16 n_lin, const std::vector<std::vector<u8>>& frames) {
  std::vector<u8> out(2);
  put_s16(out.data(), n_lin);
  for (const auto& f : frames) out.insert(out.end(), f.begin(), f.end());
  return out;
}

// The frames of an encoded block, without its line count.
std::vector<u8> frames_of(const std::vector<u8>& body) { return {body.begin() + 2, body.end()}; }

std::vector<scan_line> same_lines(f64 y, int count, std::vector<run> runs) {
  std::vector<scan_line> out;
  for (int k = 0; k < count; ++k) out.push_back({y + k, runs});
  return out;
}

class bit_reader : public dropix_test {};
class decmpr_block : public dropix_test {};

// ---- the worked example ---------------------------------------------------------------

TEST_F(bit_reader, takes_the_worked_example_fields_with_one_word_look_ahead) {
  dec.frame_len = 16;
  for (std::size_t k = 0; k < 4; ++k) dec.frame[12 + k] = worked_example[14 + k];
  u16 v = 9, f = 9;
  ASSERT_TRUE(get_bits(dec, &v, 0, &f));
  EXPECT_EQ(dec.T, 12u);
  const int widths[] = {4, 5, 4, 4};
  const u16 values[] = {3, 4, 2, 0};
  const u16 flags[] = {0, 1, 1, 1};
  const std::size_t taken[] = {14, 16, 16, 16};
  for (int k = 0; k < 4; ++k) {
    ASSERT_TRUE(get_bits(dec, &v, widths[k], &f)) << k;
    EXPECT_EQ(v, values[k]) << k;
    EXPECT_EQ(f, flags[k]) << k;
    EXPECT_EQ(dec.T, taken[k]) << k;
  }
  // The frame's last bits 17..31 are a field still; bit 32 lies past the frame's 16 bytes.
  EXPECT_TRUE(get_bits(dec, &v, 15, &f));
  EXPECT_EQ(dec.T, 18u);
  EXPECT_FALSE(get_bits(dec, &v, 1, &f));
}

TEST_F(bit_reader, a_one_bit_field_is_all_flag) {
  dec.frame_len = 14;
  dec.frame[12] = 0x02;
  dec.frame[13] = 0x00;
  u16 v, f;
  get_bits(dec, &v, 0, &f);
  ASSERT_TRUE(get_bits(dec, &v, 1, &f));
  EXPECT_EQ(v, 0);
  EXPECT_EQ(f, 0);
  ASSERT_TRUE(get_bits(dec, &v, 1, &f));
  EXPECT_EQ(v, 0);
  EXPECT_EQ(f, 1);
}

TEST_F(decmpr_block, worked_example_encodes_byte_for_byte) {
  encode_options opt;
  opt.x_base = 10;
  opt.light_bits = 4;
  opt.dark_bits = 5;
  EXPECT_EQ(encode_line_block(same_lines(100.0, 3, {{13, 17}}), opt), worked_example);
}

TEST_F(decmpr_block, worked_example_decodes_to_three_lines) {
  std::memset(static_cast<void*>(dec.line_blk.line), 0x5A, sizeof dec.line_blk.line);
  const decoded d = decode(worked_example);
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.n, 3);
  EXPECT_EQ(d.lines, same_lines(100.0, 3, {{13, 17}}));
  EXPECT_EQ(dec.T, 16u);
  EXPECT_EQ(err_text(), "");
  // Absent runs are cleared, also in repeated lines.
  for (int i = 0; i < 3; ++i)
    for (int k = 1; k < max_runs; ++k) EXPECT_EQ(dec.line_blk.line[i].seg[k][0] | dec.line_blk.line[i].seg[k][1], 0);
}

// ---- round trips ----------------------------------------------------------------------

// A value for a field of at most `max`, never taking the column past 32767: now and then
// the largest that fits, so the top value bits are exercised.
int pick(std::mt19937& rng, int max, int room) {
  const int hi = std::min(max, room);
  if (rng() % 4 == 0) return hi;
  return std::uniform_int_distribution<int>(0, hi)(rng);
}

scan_line random_line(std::mt19937& rng, f64 y, int light_max, int dark_max, int x_base) {
  scan_line l{y, {}};
  const int n_runs = 1 + static_cast<int>(rng() % 6);
  int at = x_base;
  for (int k = 0; k < n_runs; ++k) {
    const s16 first = static_cast<s16>(at + pick(rng, light_max, 32767 - at));
    const s16 last = static_cast<s16>(first + pick(rng, dark_max, 32767 - first));
    l.runs.push_back({first, last});
    at = last;
  }
  return l;
}

// A few stretches of consecutive lines with gaps between them; about a third of the lines
// repeat the line before, also as the first line after a gap.
std::vector<scan_line> random_lines(std::mt19937& rng, int light_bits, int dark_bits, int x_base) {
  const int light_max = (1 << (light_bits - 1)) - 1;
  const int dark_max = (1 << (dark_bits - 1)) - 1;
  std::vector<scan_line> out;
  f64 y = 4.0e6 + static_cast<f64>(rng() % 100000);
  const int stretches = 1 + static_cast<int>(rng() % 4);
  for (int s = 0; s < stretches; ++s) {
    const int count = 1 + static_cast<int>(rng() % 25);
    for (int k = 0; k < count; ++k, y += 1.0) {
      if (!out.empty() && rng() % 3 == 0)
        out.push_back({y, out.back().runs});
      else
        out.push_back(random_line(rng, y, light_max, dark_max, x_base));
    }
    y += static_cast<f64>(1 + rng() % 50);
  }
  return out;
}

TEST_F(decmpr_block, random_lines_survive_every_field_width) {
  for (int light_bits = 2; light_bits <= 15; ++light_bits) {
    for (int dark_bits = 2; dark_bits <= 15; ++dark_bits) {
      std::mt19937 rng(static_cast<u32>(light_bits * 100 + dark_bits));
      for (const bool pad : {true, false}) {
        encode_options opt;
        opt.light_bits = light_bits;
        opt.dark_bits = dark_bits;
        opt.x_base = static_cast<int>(rng() % 1024);
        opt.pad_words = pad;
        opt.max_frame_lines = 1 + static_cast<int>(rng() % 12);
        const auto lines = random_lines(rng, light_bits, dark_bits, opt.x_base);
        const decoded d = decode(encode_line_block(lines, opt));
        ASSERT_EQ(d.result, 1) << light_bits << "/" << dark_bits << " pad " << pad << "\n" << err_text();
        ASSERT_EQ(d.n, static_cast<s16>(lines.size()));
        ASSERT_EQ(d.lines, lines) << light_bits << "/" << dark_bits << " pad " << pad;
      }
    }
  }
  EXPECT_EQ(err_text(), "");
}

TEST_F(decmpr_block, random_lines_survive_widths_chosen_per_frame) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 50; ++round) {
    encode_options opt;
    opt.pad_words = round % 2 == 0;
    opt.max_frame_lines = 1 + static_cast<int>(rng() % 30);
    const auto lines = random_lines(rng, 15, 2 + static_cast<int>(rng() % 14), static_cast<int>(rng() % 1024));
    const decoded d = decode(encode_line_block(lines, opt));
    ASSERT_EQ(d.result, 1) << round << "\n" << err_text();
    ASSERT_EQ(d.lines, lines) << round;
  }
}

TEST_F(decmpr_block, a_frame_ending_inside_a_word_reads_its_look_ahead_as_zero) {
  // light 3, dark 4 and the end mark take 12 bits: the decoder stands at T = 16 when it
  // meets the mark, two bytes past an unpadded frame of 14.
  encode_options opt;
  opt.x_base = 10;
  opt.light_bits = 4;
  opt.dark_bits = 4;
  opt.pad_words = false;
  const auto lines = same_lines(7.0, 1, {{13, 17}});
  const auto body = encode_line_block(lines, opt);
  ASSERT_EQ(get_u32(body.data() + 2) & 0x3FFFu, 14u);
  // Whatever an earlier frame left in the buffer behind this one does not matter.
  std::fill(std::begin(dec.frame), std::end(dec.frame), u8{0xFF});
  const decoded d = decode(body);
  EXPECT_EQ(d.result, 1) << err_text();
  EXPECT_EQ(d.lines, lines);
  EXPECT_EQ(dec.T, dec.frame_len + 2);
}

TEST_F(decmpr_block, light_bits_1_starts_every_run_at_the_one_before) {
  encode_options opt;
  opt.x_base = 40;
  opt.light_bits = 1;
  opt.dark_bits = 6;
  std::vector<scan_line> lines = {{50.0, {{40, 45}, {45, 45}, {45, 70}}}, {51.0, {{40, 45}, {45, 45}, {45, 70}}},
                                  {52.0, {{40, 40}}}};
  const decoded d = decode(encode_line_block(lines, opt));
  EXPECT_EQ(d.result, 1) << err_text();
  EXPECT_EQ(d.lines, lines);
}

TEST_F(decmpr_block, repetition_first_in_the_second_frame_repeats_the_first_frames_line) {
  std::vector<scan_line> lines = {{100.0, {{5, 9}, {12, 30}}}, {101.0, {{200, 201}}}};
  for (const auto& l : same_lines(300.0, 3, {{200, 201}})) lines.push_back(l);
  const auto body = encode_line_block(lines);
  // The second frame codes nothing but a repetition of three and its end mark.
  const std::size_t second = 2 + (get_u32(body.data() + 2) & 0x3FFFu);
  const u32 head2 = get_u32(body.data() + second);
  const int light_bits = static_cast<int>(head2 >> 28);
  EXPECT_EQ(get_u16(body.data() + second + 12) & ((1u << light_bits) - 1u), (1u << (light_bits - 1)) | 3u);
  const decoded d = decode(body);
  EXPECT_EQ(d.result, 1) << err_text();
  EXPECT_EQ(d.lines, lines);
}

// ---- the end mark -----------------------------------------------------------------------

TEST_F(decmpr_block, end_mark_first_in_a_frame_stands_at_T_14) {
  const auto mark_only = [](int frame_len) {
    return frame({.light_bits = 4, .frame_len = frame_len}, bits().field(0, 4, true).words());
  };
  const auto next = frames_of(encode_line_block(same_lines(500.0, 1, {{20, 22}})));
  const decoded ok = decode(block(1, {mark_only(14), next}));
  EXPECT_EQ(ok.result, 1) << err_text();
  EXPECT_EQ(ok.lines, same_lines(500.0, 1, {{20, 22}}));

  auto longer = mark_only(16);
  longer.insert(longer.end(), {0, 0});
  const decoded bad = decode(block(1, {longer, next}));
  EXPECT_EQ(bad.result, 0);
  EXPECT_EQ(err_text(), "wrong end of frame: diff =-2 y_count=100.000000 !!!\n");
}

TEST_F(decmpr_block, wrong_end_of_frame_gives_the_running_line_count) {
  // A shaded line, then the end mark while a whole word of the frame is left.
  auto stream = bits().field(3, 4, false).field(4, 5, true).field(0, 4, true).words();
  stream.insert(stream.end(), {0, 0, 0, 0});
  const decoded d = decode(block(1, {frame({}, stream)}));
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(err_text(), "wrong end of frame: diff =-2 y_count=101.000000 !!!\n");
}

TEST_F(decmpr_block, an_odd_frame_len_ends_inside_the_last_word) {
  // The worked example's end mark ends at bit 0 of the frame's byte 14.
  auto body = worked_example;
  body[2] = 15;  // frame_len 15: the mark's last bit is inside, the byte after it is not
  body.pop_back();
  const decoded d = decode(body);
  EXPECT_EQ(d.result, 1) << err_text();
  EXPECT_EQ(d.n, 3);

  body[2] = 14;  // frame_len 14: the mark's flag bit lies past the frame
  body.pop_back();
  EXPECT_EQ(decode(body).result, 0);
}

// ---- more codes than lines --------------------------------------------------------------

TEST_F(decmpr_block, more_codes_than_n_lin_hand_on_n_lin_lines) {
  std::vector<scan_line> lines;
  for (int k = 0; k < 5; ++k) lines.push_back({10.0 + k, {{static_cast<s16>(k), static_cast<s16>(k + 3)}}});
  const decoded d = decode(encode_line_block(lines, {.n_lin = 3}));
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.n, 3);
  EXPECT_EQ(d.lines, std::vector<scan_line>(lines.begin(), lines.begin() + 3));
  EXPECT_EQ(err_text(), "decmpr: i=3 n_lin=3 \n");
}

TEST_F(decmpr_block, a_repetition_past_n_lin_stops_inside_the_repetition) {
  const auto lines = same_lines(10.0, 4, {{1, 2}});  // a shaded line and a repetition of 3
  const decoded d = decode(encode_line_block(lines, {.n_lin = 2}));
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.n, 2);
  EXPECT_EQ(d.lines, same_lines(10.0, 2, {{1, 2}}));
  EXPECT_EQ(err_text(), "i=2 k=1 light=3 n_lin=2 \ndecmpr: i=2 \n");
}

TEST_F(decmpr_block, at_most_2000_lines_are_handed_on) {
  std::vector<scan_line> lines;
  for (int k = 0; k < 2100; ++k) lines.push_back({1000.0 + k, {{static_cast<s16>(k % 500), 600}}});
  const decoded d = decode(encode_line_block(lines, {.n_lin = 2500}));
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.n, 2000);
  EXPECT_EQ(d.lines, std::vector<scan_line>(lines.begin(), lines.begin() + 2000));
  EXPECT_EQ(err_text(), "decmpr: i=2000 n_lin=2500 \n");
}

TEST_F(decmpr_block, a_repetition_across_line_2000_stops_at_2000) {
  std::vector<scan_line> lines;
  for (int k = 0; k < 1990; ++k) lines.push_back({1000.0 + k, {{static_cast<s16>(k % 500), 600}}});
  for (int k = 1990; k < 2010; ++k) lines.push_back({1000.0 + k, {{7, 8}}});
  const decoded d = decode(encode_line_block(lines, {.n_lin = 2500}));
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.n, 2000);
  EXPECT_EQ(d.lines, std::vector<scan_line>(lines.begin(), lines.begin() + 2000));
  EXPECT_EQ(err_text(), "i=2000 k=9 light=19 n_lin=2500 \ndecmpr: i=2000 \n");
}

// ---- refused blocks ---------------------------------------------------------------------

TEST_F(decmpr_block, n_lin_0_or_negative_is_refused_at_once) {
  for (const s16 n : {s16{0}, s16{-1}, s16{-32768}}) {
    auto body = worked_example;
    put_s16(body.data(), n);
    const decoded d = decode(body);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.n, 0);
  }
  EXPECT_EQ(err_text(),
            " decmpr failed, block skipped \n decmpr failed, block skipped \n decmpr failed, block skipped \n");
}

TEST_F(decmpr_block, a_body_cut_short_is_refused_with_the_tag_of_the_read) {
  for (std::size_t len = 0; len < worked_example.size(); ++len) {
    const std::vector<u8> body(worked_example.begin(), worked_example.begin() + static_cast<long>(len));
    const char* tag = len < 2 ? "decmpr01" : len < 6 ? "decmpr02" : len < 14 ? "decmpr03" : "decmpr04";
    const std::string before = err_text();
    const decoded d = decode(body);
    EXPECT_EQ(d.result, 0) << len;
    EXPECT_EQ(d.n, len < 2 ? 0 : 3) << len;
    EXPECT_EQ(err_text().substr(before.size()), std::string(tag) + ": unexpected end of data\n") << len;
  }
}

TEST_F(decmpr_block, a_frame_len_below_12_is_refused) {
  const decoded d = decode(block(1, {frame({.frame_len = 11}, {})}));
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(err_text(), "decmpr: frame_len=11 is shorter than the frame head, block skipped \n");
}

TEST_F(decmpr_block, field_widths_of_0_are_refused) {
  const auto stream = bits().field(3, 4, false).field(4, 5, true).field(0, 4, true).words();
  EXPECT_EQ(decode(block(1, {frame({.light_bits = 0}, stream)})).result, 0);
  EXPECT_EQ(decode(block(1, {frame({.dark_bits = 0}, stream)})).result, 0);
  EXPECT_EQ(err_text(),
            "decmpr: light_bits=0 dark_bits=5: a field of no bits, block skipped \n"
            "decmpr: light_bits=4 dark_bits=0: a field of no bits, block skipped \n");
}

TEST_F(decmpr_block, codes_past_the_frame_are_refused_not_read_from_stale_memory) {
  // A long frame leaves a valid code stream in the buffer behind the short frame after it.
  std::vector<scan_line> lines;
  for (int k = 0; k < 40; ++k) lines.push_back({1.0 + k, {{static_cast<s16>(k), 90}}});
  ASSERT_EQ(decode(encode_line_block(lines, {.light_bits = 8, .dark_bits = 8, .x_base = 0})).result, 1);
  const decoded d = decode(block(1, {frame({}, bits().field(3, 4, false).words())}));
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(err_text(),
            "decmpr: codes run past frame_len=14 without an end mark, y_count=100.000000, block skipped \n");
}

TEST_F(decmpr_block, a_frame_of_only_its_head_has_no_codes) {
  EXPECT_EQ(decode(block(1, {frame({.frame_len = 12}, {})})).result, 0);
  EXPECT_NE(err_text().find("codes run past frame_len=12"), std::string::npos);
}

TEST_F(decmpr_block, a_repetition_before_any_line_is_refused) {
  const auto stream = bits().field(2, 4, true).field(0, 4, true).words();
  const decoded d = decode(block(3, {frame({}, stream)}));
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(err_text(), "y_count=100.000000\nrepet found : i=0 light=2 n_lin=3 \nerror 02 \n");
}

TEST_F(decmpr_block, a_seventh_run_is_refused) {
  bits b;
  for (int k = 0; k < 6; ++k) b.field(1, 4, false).field(1, 5, false);
  b.field(1, 4, false).field(1, 5, true).field(0, 4, true);
  const decoded d = decode(block(1, {frame({}, b.words())}));
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(err_text(), "j=6\n");

  // Six runs are the most a line holds, and fine.
  bits six;
  for (int k = 0; k < 5; ++k) six.field(1, 4, false).field(1, 5, false);
  six.field(1, 4, false).field(1, 5, true).field(0, 4, true);
  const decoded ok = decode(block(1, {frame({}, six.words())}));
  ASSERT_EQ(ok.result, 1);
  EXPECT_EQ(ok.lines.at(0).runs, (std::vector<run>{{11, 12}, {13, 14}, {15, 16}, {17, 18}, {19, 20}, {21, 22}}));
}

TEST_F(decmpr_block, a_flagged_light_field_inside_a_line_is_refused) {
  const auto stream = bits().field(3, 4, false).field(4, 5, false).field(1, 4, true).field(0, 4, true).words();
  const decoded d = decode(block(1, {frame({}, stream)}));
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(err_text(), "y_count=100.000000\n  13- 17\nerr.01: n_lin=1 i=0 j=1 \n");
}

// ---- the code loop against the field-at-a-time reference -------------------------------

// What a decoder made of a body: its result, every decoded line entry, its bit reader and
// its messages.
struct full_outcome {
  s16 result = -1;
  s16 n = -99;
  s16 n_lin = -99;
  std::size_t T = 0;
  int P = 0;
  u32 W = 0;
  std::string messages;
};

template <class Decoder>
full_outcome run_decoder(Decoder decoder, decode_state& st, const std::vector<u8>& body) {
  raw_window win;
  raw_window_over(win, body.data(), body.size());
  raw_cursor cur{&win, 0, static_cast<s64>(body.size())};
  char* text = nullptr;
  std::size_t size = 0;
  diagnostics d;
  d.err = open_memstream(&text, &size);
  d.trace_flag = 0;
  d.obj_trace_flag = 0;
  full_outcome o;
  o.result = decoder(st, cur, &o.n, d);
  std::fclose(d.err);
  o.messages.assign(text, size);
  std::free(text);
  o.n_lin = st.line_blk.n_lin;
  o.T = st.T;
  o.P = st.P;
  o.W = st.W;
  return o;
}

// Blocks of random lines coded with random options, some of them damaged afterwards: a bit
// flipped, a byte changed, the end cut off, or the line count changed.
std::vector<u8> random_body(std::mt19937& rng) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<scan_line> lines;
  f64 y = pick(0, 3) == 0 ? pick(0, 5) + 0.5 : 4.0e9 + pick(0, 1000);
  const int count = pick(1, pick(0, 5) == 0 ? 700 : 40);
  for (int i = 0; i < count; ++i) {
    y += pick(0, 3) == 0 ? pick(2, 50) : 1;
    scan_line l{y, {}};
    const int runs = pick(1, 6);
    int x = pick(0, 60);
    for (int k = 0; k < runs; ++k) {
      const int first = x + pick(k == 0 ? 0 : 1, 60);
      const int last = first + pick(0, 90);
      l.runs.push_back({static_cast<s16>(first), static_cast<s16>(last)});
      x = last;
    }
    const int repeats = pick(0, 2) == 0 ? pick(1, 6) : 0;
    lines.push_back(l);
    for (int r = 0; r < repeats && i + 1 < count; ++r, ++i) {
      y += 1;
      lines.push_back({y, l.runs});
    }
  }
  encode_options opt;
  if (pick(0, 1) == 0) {
    opt.light_bits = 11;
    opt.dark_bits = 8;
  }
  opt.pad_words = pick(0, 3) != 0;
  opt.repetitions = pick(0, 4) != 0;
  opt.max_frame_lines = pick(0, 2) == 0 ? pick(1, 8) : 512;
  if (pick(0, 5) == 0) opt.n_lin = pick(-2, count + 3);
  std::vector<u8> body = encode_line_block(lines, opt);
  switch (pick(0, 5)) {
    case 0:
      body[static_cast<std::size_t>(pick(0, static_cast<int>(body.size()) - 1))] ^= static_cast<u8>(1u << pick(0, 7));
      break;
    case 1:
      body[static_cast<std::size_t>(pick(0, static_cast<int>(body.size()) - 1))] = static_cast<u8>(pick(0, 255));
      break;
    case 2:
      body.resize(static_cast<std::size_t>(pick(0, static_cast<int>(body.size()))));
      break;
    default:
      break;
  }
  return body;
}

TEST_F(decmpr_block, the_code_loop_decodes_every_body_as_the_field_at_a_time_reference_does) {
  // Both decoders keep their state from block to block, as a run keeps it.
  auto fast = std::make_unique<decode_state>();
  auto reference = std::make_unique<decode_state>();
  std::mt19937 rng(20261208);
  int decoded_blocks = 0, refused_blocks = 0;
  for (int k = 0; k < 3000; ++k) {
    const std::vector<u8> body = random_body(rng);
    const full_outcome f = run_decoder(decmpr, *fast, body);
    const full_outcome r = run_decoder(testing::reference_decmpr, *reference, body);
    SCOPED_TRACE("block " + std::to_string(k));
    ASSERT_EQ(f.result, r.result);
    ASSERT_EQ(f.n, r.n);
    ASSERT_EQ(f.n_lin, r.n_lin);
    ASSERT_EQ(f.messages, r.messages);
    ASSERT_EQ(f.T, r.T);
    ASSERT_EQ(f.P, r.P);
    ASSERT_EQ(f.W, r.W);
    ASSERT_EQ(std::memcmp(fast->line_blk.line, reference->line_blk.line, sizeof fast->line_blk.line), 0);
    ASSERT_EQ(std::memcmp(&fast->remembered, &reference->remembered, sizeof fast->remembered), 0);
    (f.result == 1 ? decoded_blocks : refused_blocks)++;
  }
  // Both kinds of ending are exercised.
  EXPECT_GT(decoded_blocks, 1000);
  EXPECT_GT(refused_blocks, 300);
}

TEST_F(decmpr_block, says_a_block_grows_exactly_when_every_line_lies_above_the_one_before) {
  // Frames whose first line count steps forward, stays, steps back by whole and fractional
  // lines, or lies where adding a line no longer moves it.
  std::mt19937 rng(99);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int growing = 0, not_growing = 0;
  for (int k = 0; k < 2000; ++k) {
    std::vector<scan_line> lines;
    f64 y = pick(0, 9) == 0 ? 9007199254740990.0 : 1000.0 + pick(0, 100000);
    const int frames = pick(1, 6);
    for (int f = 0; f < frames; ++f) {
      if (f > 0) {
        const int step = pick(0, 9);
        y += step < 6 ? pick(2, 40) : step == 6 ? 0.0 : step == 7 ? -pick(1, 30) : step == 8 ? 0.5 : -0.5;
      }
      const int n = pick(1, 5);
      for (int i = 0; i < n; ++i, y += 1.0) lines.push_back({y, {{10, static_cast<s16>(12 + i)}}});
      y -= 1.0;
    }
    encode_options opt;
    opt.repetitions = false;
    const std::vector<u8> body = encode_line_block(lines, opt);
    auto st = std::make_unique<decode_state>();
    const full_outcome o = run_decoder(decmpr, *st, body);
    ASSERT_EQ(o.result, 1);
    const line_blk_rec& blk = st->line_blk;
    bool strictly = true, small = true;
    for (int i = 0; i < blk.n_lin; ++i) {
      if (i > 0 && !(blk.line[i].y_count > blk.line[i - 1].y_count)) strictly = false;
      if (!(std::fabs(blk.line[i].y_count) < 4503599627370496.0)) small = false;
    }
    SCOPED_TRACE("block " + std::to_string(k));
    if (blk.growing) {
      ASSERT_TRUE(strictly);
    } else {
      ASSERT_TRUE(!strictly || !small) << "a growing block of small counts not seen as growing";
    }
    (blk.growing ? growing : not_growing)++;
  }
  EXPECT_GT(growing, 300);
  EXPECT_GT(not_growing, 300);
}

}  // namespace
}  // namespace dropix
