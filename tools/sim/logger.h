// The instrument's data logger: cuts each camera's shaded lines into line blocks and writes
// them, with the main header blocks and now and then a foreign block, into one raw file in
// the order in which it would write them.
#pragma once

#include <vector>

#include "common/formats.h"
#include "kit/rawbuild.h"
#include "tools/sim/rng.h"

namespace dropix::sim {

struct logger_options {
  int block_lines = 300;        // a block is closed at the first gap after this many lines
  double block_seconds = 0.25;  // ... or at the first gap this long after its first line
  double header_every = 180.0;  // s between repetitions of the main header block
  double foreign_per_min = 1.0; // foreign blocks (types 0 and 7) per minute
  // The logger codes every frame with the same field widths from pixel 0: light fields of
  // 11 bits (any column of the line), dark fields of 8 bits (runs up to 128 pixels). False
  // lets the encoder choose the narrowest widths per frame.
  bool fixed_fields = true;
};

constexpr int max_block_lines = 2000;   // the logger's line buffer
constexpr int max_block_body = 32767;   // the framing's s16 length word

struct planned_block {
  s16 ident = 0;
  double close = 0;  // line count at which the logger writes the block
  std::vector<rawkit::scan_line> lines;  // line blocks: the lines the body codes
  std::vector<u8> body;
};

// Cuts one camera's lines (strictly growing line counts) into blocks. A block is cut only
// at a gap in the line counts, unless it reaches the 2000 lines of the logger's buffer; a
// block whose coded body would exceed the framing's length limit is split further.
// The encoder settings of the logger.
rawkit::encode_options coding(const logger_options& o);

std::vector<planned_block> camera_blocks(s16 ident, const std::vector<rawkit::scan_line>& lines,
                                         f64 line_fr, const logger_options& o);

// The whole file: a main header block first, repeated unchanged (same valid_since) every
// `header_every` seconds; the line blocks of both cameras ordered by the line at which they
// are closed (camera A first on a tie), and foreign blocks with random bodies in between.
// `start` and `end` are the recording's first and last second of the day.
std::vector<planned_block> plan_file(const hd_par& h, const std::vector<rawkit::scan_line>& lines_a,
                                     const std::vector<rawkit::scan_line>& lines_b, double start,
                                     double end, const logger_options& o, rng& r);

rawkit::raw_builder build_file(const std::vector<planned_block>& plan);

}  // namespace dropix::sim
