// The raw-file builder: composes raw files block by block, as the instrument's logger writes
// them, for tests, the fuzz corpus and the simulator.
#pragma once

#include <string>
#include <vector>

#include "common/formats.h"

namespace dropix::rawkit {

struct run {
  s16 first;  // first shaded pixel
  s16 last;   // last shaded pixel (inclusive)
  bool operator==(const run&) const = default;
};

// One shaded scan line: its line count and 1..6 runs, left to right, not overlapping.
struct scan_line {
  f64 y_count = 0;
  std::vector<run> runs;
  bool operator==(const scan_line&) const = default;
};

struct encode_options {
  int light_bits = 0;   // 1..15; 0 chooses per frame the fewest bits (at least 2) that hold every value
  int dark_bits = 0;    // 1..15; 0 chooses per frame
  int x_base = -1;      // 0..1023; -1 takes the frame's leftmost first pixel
  bool repetitions = true;   // code runs of identical lines as repetitions (not with light_bits 1)
  // The decoder reads one word ahead. Padded frames end where the decoder stands at the end
  // mark (T = frame_len); unpadded ones end with the word holding the mark's last bit, so the
  // decoder's look-ahead lies past the frame when the mark ends inside a word (T = frame_len + 2).
  bool pad_words = true;
  int max_frame_lines = 512; // a frame covers at most this many lines
  int n_lin = -1;            // line count written in the block; -1 = the true count
};

// A line block body: n_lin, then frames split at gaps in the line count, each with its head
// word (frame_len, x_base, dark_bits, light_bits), its first line count and the bit stream
// of light/dark fields ending with the end mark. Lines must have strictly growing line
// counts and their values must fit the chosen widths.
std::vector<u8> encode_line_block(const std::vector<scan_line>& lines, const encode_options& opt = {});

// The 56-byte main header block body.
std::vector<u8> header_body(const hd_par& h);

// A plausible instrument header: 512-pixel cameras centred on gate1 256, scales near
// 0.19 mm per pixel, cameras some 250 mm from the centre, planes some 6.5 mm apart.
hd_par sample_header(u32 valid_since, f64 line_fr = 55000.0);

class raw_builder {
 public:
  // A block with the given framing and body (the length word is the body's size unless
  // `cmpr_n` overrides it).
  raw_builder& block(s16 ident, const std::vector<u8>& body);
  raw_builder& block(s16 ident, s16 cmpr_n, const std::vector<u8>& body);
  raw_builder& header(const hd_par& h);
  raw_builder& lines(s16 ident, const std::vector<scan_line>& lines, const encode_options& opt = {});
  raw_builder& bytes(const std::vector<u8>& b);  // anything at all, e.g. a cut tail
  // A camera A and a camera B block of a one-line speck each, at line y: both cameras' data
  // reach y, so every drop that starts more than 1200 lines before y can be paired. A speck
  // makes no object.
  raw_builder& reach(f64 y);

  const std::vector<u8>& data() const { return data_; }
  std::size_t size() const { return data_.size(); }
  void write(const std::string& path) const;

 private:
  std::vector<u8> data_;
};

}  // namespace dropix::rawkit
