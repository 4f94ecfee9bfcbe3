#include "input/makepix.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/numeric.h"
#include "control/diag.h"
#include "control/entry.h"
#include "control/quit.h"
#include "control/settings.h"
#include "control/status.h"
#include "input/decmpr.h"
#include "input/line_time.h"
#include "input/main_hr.h"
#include "input/raw_reader.h"
#include "output/net_wr.h"
#include "output/pixfil.h"
#include "output/tables.h"
#include "platform/platform.h"
#include "reconstruct/assign.h"
#include "reconstruct/match.h"
#include "reconstruct/store.h"

namespace dropix {

namespace {

// The largest raw position the per-minute tables (32 bits) can hold.
constexpr s64 max_raw_length = 0xFFFFFFFFLL;

// One camera reader: its position, its window and the tags of its reports.
struct camera_reader {
  char name;            // 'A' or 'B'
  s16 ident;            // the line blocks it takes
  s64& pos;
  s64& prev;
  f64& last;
  s64& cnt;
  s64& cut;             // offset of a block cut short by the file end, reported once
  raw_window& win;
  queue_pair& qp;
  const char* seek_tag;
  const char* ident_tag;
  const char* cmpr_tag;
};

camera_reader reader_a() {
  return {'A', ident_camera_a, mp.pos_a, mp.prev_a, mp.last_a, mp.cnt_a, mp.cut_a,
          raw.win_a, store.qa, "mp01", "mp02", "mp03"};
}
camera_reader reader_b() {
  return {'B', ident_camera_b, mp.pos_b, mp.prev_b, mp.last_b, mp.cnt_b, mp.cut_b,
          raw.win_b, store.qb, "mp31", "mp04", "mp05"};
}

// Measures the raw file anew; the file may grow while it is read.
void measure_raw(const char* seek_tag, const char* tell_tag) {
  if (platform::seek64(raw.raw_fp, 0, SEEK_END) != 0) report_errno(seek_tag);
  const s64 end = platform::tell64(raw.raw_fp);
  if (end < 0)
    report_errno(tell_tag);
  else
    mp.rawend = std::min(end, max_raw_length);
}

[[noreturn]] void corrupt_end() {
  final_flush();
  quit(exit_status::failure);
}

// Reads the framing of the reader's next block. False when the reader has reached the end
// of the data: its position is at the file's end, or the block there is cut short by it.
bool next_block(camera_reader& r, s16& ident, s16& cmpr_n) {
  if (r.pos >= mp.rawend) return false;
  const auto cut_short = [&](s64 need) {
    if (r.cut != r.pos)
      err_printf("block at offset %lld needs %lld bytes, but the raw file ends at %lld: "
                 "camera %c reader stops there\n",
                 static_cast<long long>(r.pos), static_cast<long long>(need),
                 static_cast<long long>(mp.rawend), r.name);
    r.cut = r.pos;
    return false;
  };
  if (mp.rawend - r.pos < static_cast<s64>(block_fmt::size)) return cut_short(block_fmt::size);
  raw_cursor cur{&r.win, r.pos, mp.rawend};
  u8 framing[block_fmt::size];
  switch (raw_read(cur, framing, sizeof framing)) {
    case raw_read_result::ok:
      break;
    case raw_read_result::seek_failed:
      report_errno(r.seek_tag);
      corrupt_end();
    case raw_read_result::short_read:
      report_errno(r.ident_tag);
      corrupt_end();
  }
  ident = get_s16(framing + block_fmt::ident);
  cmpr_n = get_s16(framing + block_fmt::cmpr_n);
  if (cmpr_n < 0) {
    err_printf("corrupt raw file: block at offset %lld has the negative length %d\n",
               static_cast<long long>(r.pos), cmpr_n);
    corrupt_end();
  }
  if (mp.rawend - r.pos < static_cast<s64>(block_fmt::size) + cmpr_n)
    return cut_short(static_cast<s64>(block_fmt::size) + cmpr_n);
  r.prev = r.pos;
  r.pos += static_cast<s64>(block_fmt::size) + cmpr_n;
  return true;
}

raw_cursor body_of(camera_reader& r) {
  return {&r.win, r.prev + static_cast<s64>(block_fmt::size), r.pos};
}

void hand_over_header(camera_reader& r) {
  flush_request();
  raw_cursor body = body_of(r);
  main_hr(body);
}

// Decodes a line block of the reader's camera and hands it on. True when lines came out.
bool take_line_block(camera_reader& r) {
  raw_cursor body = body_of(r);
  s16 n = 0;
  if (decmpr(body, &n) == 0 || n <= 0) return false;
  line_blk_rec& blk = dec.line_blk;
  blk.n_lin = n;
  std::memcpy(blk.line, dec.line_buf, sizeof(line_entry) * static_cast<std::size_t>(n));
  assign_pieces(blk, r.qp);
  chain_queues(r.qp);
  r.last = blk.line[n - 1].y_count;
  line_time(r.ident);
  r.cnt += n;
  return true;
}

void first_pass() {
  mp.first_pass = 0;
  banner();
  tables();
  get_hyd_path();
  init_queues(store.qa, store.qb);
  while (!raw.raw_fp) {
    if (show_status() == 0) operator_stop();
    if (!raw.raw_fp) hprintf(" no OEU files ? \n");
  }
  hprintf("\n mp_nam=%s \n", raw.mp_nam);
  pixfil();
}

void camera_a_step() {
  camera_reader r = reader_a();
  s16 ident = 0, cmpr_n = 0;
  while (next_block(r, ident, cmpr_n)) {
    hprintf("pos_a=%ld prev_a=%ld last_a=%lf pos_b=%ld last_b=%lf \n", mp.pos_a, mp.prev_a,
            mp.last_a, mp.prev_b, mp.last_b);
    hprintf("A_B_ident=%d \n", ident);
    hprintf("cmpr_n=%d \n", cmpr_n);
    if (ident == ident_main_header) {
      hand_over_header(r);
    } else if (ident == ident_camera_a) {
      take_line_block(r);
      break;  // one camera A line block per pass, decoded or not
    }
  }
  if (mp.pos_a >= mp.rawend || mp.cut_a == mp.pos_a) mp.eof_a = 1;
}

// Camera B catches up with camera A in time. False when camera B has run out of data while
// camera A has not: the pass then ends without matching.
bool camera_b_catch_up() {
  camera_reader r = reader_b();
  while (mp.last_b < mp.last_a || mp.eof_a) {
    if (show_status() == 0) operator_stop();
    measure_raw("mp72", "mp33");
    s16 ident = 0, cmpr_n = 0;
    if (!next_block(r, ident, cmpr_n)) {
      hprintf("B: EOF found at %ld\n", mp.rawend);
      if (mp.eof_a) {
        mp.eof_b = 1;
        return true;
      }
      hprintf("feof found reading B\n");
      return false;
    }
    hprintf("A_B_ident=%d \n", ident);
    hprintf("cmpr_n=%d \n", cmpr_n);
    hprintf("hd_nam=%s pos_b=%ld last_b=%lf pos_a=%ld last_a=%lf \n", wr.hd_nam, mp.prev_b,
            mp.last_b, mp.prev_a, mp.last_a);
    if (ident == ident_main_header)
      hand_over_header(r);
    else if (ident == ident_camera_b)
      take_line_block(r);
  }
  return true;
}

}  // namespace

s16 makepix() {
  hprintf("makepix enc.: hd_nam=%s \n", wr.hd_nam);
  if (mp.first_pass) first_pass();

  const s64 now = platform::clock_seconds();
  if (now > mp.last_flush + 3) {
    mp.last_flush = now;
    flush_request();
  }
  hprintf("cnt_a=%ld cnt_b=%ld \n", mp.cnt_a, mp.cnt_b);

  if (show_status() == 0) operator_stop();
  measure_raw("mp71", "mp32");
  hprintf("pos_a=%ld rawend=%ld maincnt=%d \n", mp.pos_a, mp.rawend, hdr.maincnt);

  camera_a_step();
  hprintf("hd_nam=%s pos_a=%ld, rawend=%ld, raw_day=%ld, pix_day=%ld \n", wr.hd_nam, mp.pos_a,
          mp.rawend, raw.raw_day, raw.pix_day);

  if (!camera_b_catch_up()) return 1;

  // Camera A objects of the last 1200 lines wait for camera B lines still to come; once both
  // readers are at the end of the data nothing more can come, and every object is examined.
  mp.horizon_base = mp.eof_a && mp.eof_b ? ~u64{0} : line_trunc(mp.last_a);
  if (store.qa.wait_last && store.qb.wait_last) {
    hprintf("calling findmatch\n");
    find_m(&mp.total);
  }

  if (mp.eof_a && mp.eof_b) {
    final_flush();
    quit(exit_status::done);
  }
  if (mp.pos_a == mp.rawend) hprintf("EOF reading A \n");
  return 1;
}

}  // namespace dropix
