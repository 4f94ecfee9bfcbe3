// The block stream of a raw file and its two camera readers. The logger interleaves camera A
// line blocks, camera B line blocks and main header blocks in one file; each camera's reader
// walks the file with a position of its own and steps over the other camera's blocks.
#pragma once

#include <optional>

#include "common/diag.h"
#include "input/rawfil.h"
#include "platform/raw_reader.h"

namespace dropix {

// The state of the processing pass: both readers' positions and what they last decoded,
// the matching counters and the end flags.
struct mp_state {
  s64 pos_a = 0;        // next block camera A's reader examines
  s64 pos_b = 0;        // the same for camera B
  s64 prev_a = 0;       // block camera A's reader read last
  s64 prev_b = 0;
  s64 rawend = 0;       // raw file length, measured whenever a reader needs bytes beyond it
  f64 last_a = 0;       // line count of camera A's last decoded line
  f64 last_b = 0;
  s64 cnt_a = 0;        // lines decoded (trace only)
  s64 cnt_b = 0;
  s32 total = 0;        // matched pairs
  u64 horizon_base = 0; // last_a truncated, for the matching horizon
  s16 first_pass = 1;
  s16 eof_a = 0;
  s16 eof_b = 0;
  s64 last_flush = 0;   // clock second of the last periodic flush request
  s64 cut_a = -1;       // offset of a block cut short by the file end (reported once), or -1
  s64 cut_b = -1;
  s64 raw_limit = 0xFFFFFFFFLL;  // the last raw position the 32-bit resume tables can hold
  s64 raw_beyond = 0;   // the raw file's length when it reaches beyond raw_limit, else 0
};

// One camera reader: its fields in the pass state, its window and the tags of its reports.
struct camera_reader {
  char name;            // 'A' or 'B'
  s16 ident;            // the line blocks it takes
  s64& pos;
  s64& prev;
  f64& last;
  s64& cnt;
  s64& cut;             // offset of a block cut short by the file end, reported once
  raw_window& win;
  const char* seek_tag;
  const char* ident_tag;
  const char* cmpr_tag;
  const char* end_seek_tag;  // measuring the file's length
  const char* end_tell_tag;
};

camera_reader reader_a(mp_state& mp, raw_state& raw);
camera_reader reader_b(mp_state& mp, raw_state& raw);

enum class block_read {
  ok,       // a whole block: its framing is read and the reader stands after it
  end,      // the reader has reached the end of the data (the file's end, or a block cut by it)
  corrupt,  // the framing cannot be read or is impossible; reported, the run must end
};

// Reads the framing of the reader's next block into `ident` and `cmpr_n` and moves the
// reader past the block. The file's length is measured anew whenever the reader needs bytes
// beyond the length measured last, so a growing file is read on.
block_read next_block(camera_reader& r, mp_state& mp, std::FILE* raw_fp, s16& ident, s16& cmpr_n,
                      diagnostics& d);

// The body of the block the reader read last.
raw_cursor body_of(const camera_reader& r);

// valid_since of the raw file's first main header that has a usable line frequency, looked
// for among the file's first blocks; nothing when there is none there. Outputs continued from
// an earlier run must begin with this header.
std::optional<u32> first_header_time(raw_state& raw, s64 raw_length);

}  // namespace dropix
