// DROPIX chief header: shared records, limits and the global state of every subsystem.
//
// The program keeps its state in static globals, grouped in one plain struct per module.
// Every field has a default initialiser, so `x = {}` (or reset_all_state()) brings a module
// back to its start-up state; tests rely on that to run many passes in one process.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/formats.h"

#ifndef DROPIX_TRACE
#define DROPIX_TRACE 0
#endif

namespace dropix {

// ---- limits ------------------------------------------------------------------------------
constexpr int MAXLIN = 600;          // most scan lines (pieces) per object
constexpr int n_slots = 900;         // object store
constexpr int line_buf_max = 2000;   // decoded lines per block
constexpr int max_headers = 100;     // distinct main headers per raw file
constexpr int frame_buf_size = 16384;
constexpr int max_runs = 6;          // shaded runs per scan line
constexpr int n_corr = 512;          // factor table entries, 0.1 mm apart
constexpr u32 pix_buf_limit = 200000;
constexpr int max_packed_values = 4 * MAXLIN;

// ---- decoded scan lines ------------------------------------------------------------------
// One scan line of a line block: its line count and up to six shaded runs {first, last}.
// The entry is 34 bytes as the logger's software lays it out; it never reaches a file.
#pragma pack(push, 2)
struct line_entry {
  f64 y_count = 0;  // line count since midnight
  s16 n_seg = 0;    // number of runs, 1..6
  s16 seg[max_runs][2] = {};  // first and last pixel of each run, left to right; absent runs 0
};
#pragma pack(pop)
static_assert(sizeof(line_entry) == 34);

struct line_blk_rec {
  s16 n_lin = 0;
  line_entry line[line_buf_max];
};

// ---- objects -----------------------------------------------------------------------------
struct piece {
  s16 first;  // first shaded pixel
  s16 last;   // last shaded pixel (inclusive)
};
static_assert(sizeof(piece) == 4);

struct piece_free {
  void operator()(piece* p) const noexcept { std::free(p); }
};
// Taken with a slot (room for MAXLIN pieces), cut to line_no pieces once the object is
// complete, released with the slot.
using piece_array = std::unique_ptr<piece[], piece_free>;

// One silhouette seen by one camera.
struct drop_rec {
  s16 pix_min = 0;   // left edge: smallest first pixel
  s16 pix_max = 0;   // right edge: largest last pixel
  s16 max_wid = 0;   // widest piece (last - first) among the pieces after the first
  s16 line_no = 0;   // pieces stored, one per scan line
  f64 y_last = 0;    // line count of the latest piece
  f64 y_first = 0;   // line count of the first piece
  drop_rec* next = nullptr;  // towards the older end of its queue
  drop_rec* prev = nullptr;  // towards the newer end
  s16 status = 0;    // 0 free, 1 just allocated, else the tag of its queue
  s16 overflow = 0;  // a piece arrived after MAXLIN lines
  piece_array pieces;
};

// The two queues of one camera: Assign (objects still growing) and Wait (complete objects
// waiting for their partner). "first" is the newest end, "last" the oldest.
struct queue_pair {
  char assign_tag = 0;
  char wait_tag = 0;
  drop_rec* assign_first = nullptr;
  drop_rec* assign_last = nullptr;
  drop_rec* wait_first = nullptr;
  drop_rec* wait_last = nullptr;
};

// ---- header list -------------------------------------------------------------------------
struct hd_node {
  main_rec rec;        // the header's own record
  f64 line = 0;        // line count from which it holds: (main_time mod 86400) * line_fr
  s16 index = 0;
  hd_node* next = nullptr;
  hd_node* prev = nullptr;
};

// ---- module state ------------------------------------------------------------------------

// Program control: command line and start-up.
struct control_state {
  s16 stderr_to_screen = 0;  // /e: the error stream stays on the screen
  s16 calib = 0;             // /c: no correction factors
  std::string raw_arg;       // raw file path as given
  std::string raw_base;      // its name and extension
  s16 status_first = 1;      // 1 until the first status display
  s64 status_second = -1;    // clock second of the last status print off a terminal
  u64 status_ms = 0;         // monotonic time of the last redraw on a terminal
  bool status_shown = false; // the status block has been printed at least once
};

// Diagnostics: trace switches and the error stream.
struct diag_state {
  s16 trace_flag = DROPIX_TRACE;      // hprintf prints
  s16 obj_trace_flag = DROPIX_TRACE;  // hprintf2 and the slot map print
  std::FILE* err = nullptr;           // error stream; null means stderr
};

// Settings from "DROPIX.SET".
struct settings_state {
  std::string hyd_path;  // directory of .hyd and .hd, with separator unless empty
  std::string raw_path;  // directory of .abh, with separator unless empty
};

// A read-ahead window into a file: each camera reader has one into the raw file.
struct raw_window {
  std::FILE* fp = nullptr;  // the file behind the window; null: bytes in memory only
  std::vector<u8> buf;
  s64 base = 0;          // file offset of buf[0]
  std::size_t len = 0;   // valid bytes in buf
};

// The raw file.
struct raw_state {
  std::FILE* raw_fp = nullptr;
  std::string mp_nam;  // path as given on the command line
  s32 raw_day = 0;     // year * 1000 + day of year, from the file name
  s32 pix_day = 0;     // the day as the output side knows it (trace only)
  raw_window win_a;    // camera A reader
  raw_window win_b;    // camera B reader
};

// The processing pass.
struct mp_state {
  s64 pos_a = 0;        // next block camera A's reader examines
  s64 pos_b = 0;        // the same for camera B
  s64 prev_a = 0;       // block camera A's reader read last
  s64 prev_b = 0;
  s64 rawend = 0;       // raw file length, measured before every reading step
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
};

// Main headers.
struct header_state {
  u32 maint[max_headers] = {};  // main_time of every distinct header, in order of arrival
  s16 maincnt = 0;
  f64 line_fr = 0;              // line frequency of the header read last
  main_rec cur;                 // the current main header record
  hd_node* head = nullptr;      // header list, ascending in line
  hd_node* tail = nullptr;
  std::vector<std::unique_ptr<hd_node>> nodes;  // owns the list's nodes
};

// Line-block decompression.
struct decode_state {
  line_entry line_buf[line_buf_max];
  line_blk_rec line_blk;       // the decoded block handed to piece assembly
  u8 frame[frame_buf_size] = {};
  std::size_t frame_len = 0;   // bytes of the current frame (head included)
  line_entry remembered;       // last shaded line, for repetitions
  u32 W = 0;                   // bit window
  int P = 32;                  // bit position in W
  std::size_t T = 12;          // frame bytes taken
};

// Line timing.
struct timing_state {
  u32 posa_bf[minutes_per_day_table] = {};  // raw offset of camera A's first block per minute
  u32 posb_bf[minutes_per_day_table] = {};
  s16 minut_a = -1;
  s16 minut_b = -1;
  f64 old_a = 0;  // highest line count seen per camera
  f64 old_b = 0;
};

// Object store, queues and matching.
struct store_state {
  drop_rec slots[n_slots];
  s16 slot_cursor = 0;
  queue_pair qa;           // camera A ('1' / 'V')
  queue_pair qb;           // camera B ('2' / 'W')
  f64 last_match_y = 0;    // camera A y_first of the last pair written
};

// Calibration tables.
struct corr_tables_rec {
  f32 diameter[10] = {};
  f32 height_a_pct[10] = {};
  f32 height_b_pct[10] = {};
  f32 width_a_pct[10] = {};
  f32 width_b_pct[10] = {};
  f32 height_a_fac[n_corr] = {};
  f32 height_b_fac[n_corr] = {};
  f32 width_a_fac[n_corr] = {};
  f32 width_b_fac[n_corr] = {};
};

// Hydrometeor record writer and the three output files.
struct writer_state {
  std::vector<u8> pix_buf = std::vector<u8>(pix_buf_limit);  // records not yet on disk
  u32 pix_indx = 0;       // bytes used in pix_buf
  s16 wr_force = 0;       // the next net_wr call flushes
  s64 wr_time = 0;        // clock second of the last flush
  f64 last_y = 0;         // y_first of the last record put into pix_buf
  u32 lastpix_y = 0;      // last_y at the last data flush (as stored in .abh)
  f64 disk_y = 0;         // line up to which drops were on disk when this run started
  u32 drop_written = 0;   // drop bytes flushed by this run
  u32 pix_end = 0;        // .hyd length after the last write
  u32 pos_pix[minutes_per_day_table] = {};  // .hyd position of each minute's first drop
  s16 last_minute = 0;    // highest minute with a pos_pix entry
  s16 oldlen = 0;         // length of the record appended to .hyd last
  std::FILE* pix_fp = nullptr;
  std::FILE* hd_fp = nullptr;
  std::FILE* abh_fp = nullptr;
  std::string pix_nam, hd_nam, abh_nam;
};

inline control_state ctl;
inline diag_state diag;
inline settings_state settings;
inline raw_state raw;
inline mp_state mp;
inline header_state hdr;
inline decode_state dec;
inline timing_state timing;
inline store_state store;
inline corr_tables_rec corr_tables;
inline writer_state wr;

// Closes whatever files are still open and brings every module back to its start-up state.
void reset_all_state();

}  // namespace dropix
