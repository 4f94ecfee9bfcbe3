// The processing pass: the run loop's one step, above the stages. It drives the two camera
// readers, hands decoded blocks to reconstruction, pairs the cameras' objects and gives the
// writer its records, headers and flush requests.
#include <csignal>

#include "common/numeric.h"
#include "control/banner.h"
#include "control/tables.h"
#include "input/line_time.h"
#include "output/pixfil.h"
#include "output/resume.h"
#include "platform/files.h"
#include "reconstruct/assign.h"
#include "reconstruct/eval_dr.h"
#include "reconstruct/transf.h"
#include "session/session.h"

namespace dropix {

void session::operator_stop() {
  switch (h.stop_signal()) {
    case SIGINT:
      quit(exit_status::interrupted);
    case SIGTERM:
      quit(exit_status::terminated);
    default:
      quit(exit_status::done);
  }
}

bool session::poll_status() { return show_status(status, h, view(), diag.trace_flag == 1) != 0; }

void session::pair(const drop_rec* drop_a, const drop_rec* drop_b) {
  // The header in force is found here, where a missing one ends the run; its line frequency
  // counts the record's minute.
  const main_rec& header = header_at(hdr.list, drop_a->y_first, diag);
  const record_plan plan = plan_record(drop_a, drop_b);
  if (!pipe_) {
    u8 head[drop_fmt::head_size];
    if (transf_1(header, corr_tables, drop_a, drop_b, plan, wr.oldlen, pack_data_, head, diag) == 0) return;
    net_wr(wr, timing.pos, header.line_fr, head, pack_data_, h, diag);
    return;
  }
  // The writer's thread evaluates and writes the pair. What it needs of this thread goes
  // with it: the header, the plan, and the clock, read only where net_wr reads it: for a
  // record it writes.
  s64 now = 0;
  if (plan.fits && !(wr.disk_y >= drop_a->y_first)) {  // disk_y is fixed for the run
    now = h.clock_seconds();
    oldlen_ahead_ = static_cast<s16>(plan.len);
  }
  pipe_->pair(header, plan, now, minutes_filled(), *drop_a, *drop_b);
}

void session::writer_flush_request() {
  if (pipe_)
    pipe_->flush_request(h.clock_seconds(), minutes_filled());
  else
    flush_request(wr, timing.pos, h, diag);
}

void session::writer_header(const main_rec& rec) {
  if (pipe_) {
    oldlen_ahead_ = static_cast<s16>(main_rec_fmt::size);
    pipe_->header(rec);
  } else {
    append_header(wr, rec, diag);
  }
}

void session::writer_final_flush() {
  if (pipe_)
    pipe_->final_flush(h.clock_seconds(), minutes_filled());
  else
    final_flush(wr, timing.pos, h, diag);
}

void session::hand_over_header(camera_reader& r) {
  writer_flush_request();
  raw_cursor body = body_of(r);
  if (const auto rec = main_hr(hdr, body, r.prev, pipe_ ? oldlen_ahead_ : wr.oldlen, wr.pix_nam, diag))
    writer_header(*rec);
}

// Decodes a line block of the reader's camera and hands it on. True when lines came out.
bool session::take_line_block(camera_reader& r, queue_pair& qp) {
  raw_cursor body = body_of(r);
  s16 n = 0;
  if (decmpr(dec, body, &n, diag) == 0 || n <= 0) return false;
  const line_blk_rec& blk = dec.line_blk;
  assign_pieces(store, blk, qp, diag);
  chain_queues(store, qp, diag);
  r.last = blk.line[n - 1].y_count;
  // Time is counted at the line frequency of the header in force for the block's lines, so
  // that the minute tables do not depend on the order in which the readers met the headers
  // (nor on the headers a resumed run knows from the start); lines before every header have
  // no minute.
  line_time(timing, blk, r.ident, r.prev, hdr.list.line_fr_at(blk.line[0].y_count, 0.0), mp, diag);
  r.cnt += n;
  return true;
}

void session::first_pass() {
  mp.first_pass = 0;
  banner(h);
  if (h.stop_signal()) operator_stop();
  tables(corr_tables, opt.calib, in_dir(opt.dir, "corrfact.dat"), diag);
  const std::string settings_file = in_dir(opt.dir, "DROPIX.SET");
  get_hyd_path(settings, settings_file, diag);
  init_queues(store.qa, store.qb);
  get_raw_path(settings, settings_file, diag);
  rawfil(raw, opt.raw_arg, raw_base_, in_dir(opt.dir, opt.raw_arg), diag);
  if (!poll_status()) operator_stop();
  hprintf(diag, "\n mp_nam=%s \n", raw.mp_nam);
  open_outputs();
}

void session::open_outputs() {
  raw.pix_day = raw.raw_day;
  pixfil_request req;
  req.hyd_path = settings.hyd_path;
  req.raw_path = settings.raw_path;
  req.mp_nam = raw.mp_nam;
  if (raw.raw_fp) {
    const s64 length = file_size(raw.raw_fp.get());
    if (length >= 0) {
      req.raw_length = length;
      req.raw_first_header = first_header_time(raw, length);
    }
  }
  const pixfil_result files = pixfil(wr, timing.pos, req, diag);
  for (const main_rec& r : files.stored) {
    if (hdr.maincnt >= max_headers) fail(diag, " more than 100 mainheaders ! \n");
    hdr.maint[hdr.maincnt++] = r.main_time;
    hprintf(diag, "maincnt=%d maint=%lu \n", hdr.maincnt - 1, r.main_time);
    main_tim(hdr.list, r, diag);
  }
  hprintf(diag, "maincnt=%d \n", hdr.maincnt);
  if (!files.stored.empty()) hdr.line_fr = files.stored.back().line_fr;
  if (files.resume_tables) {
    const resume_point p =
        resume_positions(timing.pos, wr.disk_y, hdr.list.line_fr_at(wr.disk_y, hdr.line_fr), wr.lastpix_y, diag);
    mp.pos_a = p.pos_a;
    mp.pos_b = p.pos_b;
  }
  hprintf(diag, "pixfil: lastpix_y=%lu, pos_a=%ld, pos_b=%ld\n", wr.lastpix_y, mp.pos_a, mp.pos_b);
}

void session::camera_a_step() {
  camera_reader r = reader_a(mp, raw);
  s16 ident = 0, cmpr_n = 0;
  for (;;) {
    const block_read got = next_block(r, mp, raw.raw_fp.get(), ident, cmpr_n, diag);
    if (got == block_read::corrupt) quit(exit_status::failure);  // what is buffered is written first
    if (got == block_read::end) break;
    hprintf(diag, "pos_a=%ld prev_a=%ld last_a=%lf pos_b=%ld last_b=%lf \n", mp.pos_a, mp.prev_a, mp.last_a,
            mp.prev_b, mp.last_b);
    hprintf(diag, "A_B_ident=%d \n", ident);
    hprintf(diag, "cmpr_n=%d \n", cmpr_n);
    if (ident == ident_main_header) {
      hand_over_header(r);
    } else if (ident == ident_camera_a) {
      take_line_block(r, store.qa);
      break;  // one camera A line block per pass, decoded or not
    }
  }
  if (mp.pos_a >= mp.rawend || mp.cut_a == mp.pos_a) mp.eof_a = 1;
}

// Camera B catches up with camera A in time. False when camera B has run out of data while
// camera A has not: the pass then ends without matching.
bool session::camera_b_catch_up() {
  camera_reader r = reader_b(mp, raw);
  while (mp.last_b < mp.last_a || mp.eof_a) {
    if (!poll_status()) operator_stop();
    s16 ident = 0, cmpr_n = 0;
    const block_read got = next_block(r, mp, raw.raw_fp.get(), ident, cmpr_n, diag);
    if (got == block_read::corrupt) quit(exit_status::failure);  // what is buffered is written first
    if (got == block_read::end) {
      hprintf(diag, "B: EOF found at %ld\n", mp.rawend);
      if (mp.eof_a) {
        mp.eof_b = 1;
        return true;
      }
      hprintf(diag, "feof found reading B\n");
      return false;
    }
    hprintf(diag, "A_B_ident=%d \n", ident);
    hprintf(diag, "cmpr_n=%d \n", cmpr_n);
    hprintf(diag, "hd_nam=%s pos_b=%ld last_b=%lf pos_a=%ld last_a=%lf \n", wr.hd_nam, mp.prev_b, mp.last_b,
            mp.prev_a, mp.last_a);
    if (ident == ident_main_header)
      hand_over_header(r);
    else if (ident == ident_camera_b)
      take_line_block(r, store.qb);
  }
  return true;
}

pass_outcome session::makepix() {
  hprintf(diag, "makepix enc.: hd_nam=%s \n", wr.hd_nam);
  if (mp.first_pass) first_pass();

  const s64 now = h.clock_seconds();
  if (now > mp.last_flush + 3) {
    mp.last_flush = now;
    writer_flush_request();
  }
  hprintf(diag, "cnt_a=%ld cnt_b=%ld \n", mp.cnt_a, mp.cnt_b);

  if (!poll_status()) operator_stop();
  hprintf(diag, "pos_a=%ld rawend=%ld maincnt=%d \n", mp.pos_a, mp.rawend, hdr.maincnt);

  camera_a_step();
  hprintf(diag, "hd_nam=%s pos_a=%ld, rawend=%ld, raw_day=%ld, pix_day=%ld \n", wr.hd_nam, mp.pos_a, mp.rawend,
          raw.raw_day, raw.pix_day);

  if (!camera_b_catch_up()) return pass_outcome::camera_b_behind;

  // A camera A object is paired only once camera B's lines reach 1200 lines past it: then no
  // camera B object that could be its partner is still to come, and a pair once written is
  // final. At the end of the data camera B's reader may stand behind camera A's (a file still
  // being written): the horizon then follows camera B's last line. Objects of the last 1200
  // lines stay unpaired; a run after the file has grown pairs them.
  mp.horizon_base = line_trunc(mp.eof_b && mp.last_b < mp.last_a ? mp.last_b : mp.last_a);
  if (store.qa.wait_last && store.qb.wait_last) {
    hprintf(diag, "calling findmatch\n");
    if (opt.physical_pairing)
      find_pairs(pairing, store, hdr.list, mp.horizon_base, &mp.total, *this, diag);
    else
      find_m(store, mp.horizon_base, &mp.total, *this, diag);
    hprintf(diag, "total=%ld pix_end=%ld\n", mp.total, wr.pix_end);
  }

  if (mp.eof_a && mp.eof_b) {
    writer_final_flush();
    if (mp.raw_beyond > 0)
      fail(diag,
           "%s is %lld bytes long, but the resume tables address %lld bytes at most: the data beyond are not "
           "read; everything before them is written\n",
           raw.mp_nam.c_str(), static_cast<long long>(mp.raw_beyond), static_cast<long long>(mp.raw_limit));
    return pass_outcome::data_used_up;
  }
  if (mp.pos_a == mp.rawend) hprintf(diag, "EOF reading A \n");
  return pass_outcome::matched;
}

}  // namespace dropix
