// The hydrometeor record writer: drop records into a buffer, flushed to .hyd with the minute
// index of .hd and the resume file .abh; and the main header records appended to .hd and .hyd.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/diag.h"
#include "common/records.h"
#include "platform/files.h"
#include "platform/host.h"

namespace dropix {

// The writer and the three output files of a run.
struct writer_state {
  // Records not yet on disk: the first pix_indx bytes. Its pages are touched only as
  // records fill them, so a short run does not pay for clearing all of it.
  std::unique_ptr<u8[]> pix_buf = std::make_unique_for_overwrite<u8[]>(pix_buf_limit);
  u32 pix_indx = 0;       // bytes used in pix_buf
  s16 wr_force = 0;       // the next net_wr call flushes
  s64 wr_time = 0;        // clock second of the last flush
  f64 last_y = 0;         // y_first of the last record put into pix_buf
  u32 lastpix_y = 0;      // last_y at the last data flush (as stored in .abh)
  f64 disk_y = 0;         // line up to which drops were on disk when this run started
  u32 pix_end = 0;        // .hyd length after the last write
  u32 pos_pix[minutes_per_day_table] = {};  // .hyd position of each minute's first drop
  s16 last_minute = 0;    // highest minute with a pos_pix entry
  s16 oldlen = 0;         // length of the record appended to .hyd last
  unique_file pix_fp, hd_fp, abh_fp;
  std::string pix_nam, hd_nam, abh_nam;  // as messages name them
  std::string dir;        // the directory relative names are opened from
  io_faults* faults = nullptr;  // tests: makes output operations fail on purpose
  bool broken = false;    // a write failed: nothing more may be written in this run
};

// Buffers a drop record (its 30-byte head and data words, as transf_1 built them); flushes
// first when a flush is due. A flush that cannot write ends the run (write_failed). Drops that were on disk when the run started are not written
// again. `line_fr` is the line frequency of the header in force, for the minute index; the
// clock is read from `clock` when the flush rules need it.
void net_wr(writer_state& wr, const raw_positions& pos, f64 line_fr, const u8* head, const u16* data,
            clock_source& clock, diagnostics& d);

// wr_force = 1, then the flush rules without a record.
void flush_request(writer_state& wr, const raw_positions& pos, clock_source& clock, diagnostics& d);

// The flush before an orderly end: like flush_request, but the minute index of .hd and the
// resume file are rewritten even when no record is buffered, so that finished files do not
// depend on when the timed flushes fell.
void final_flush(writer_state& wr, const raw_positions& pos, clock_source& clock, diagnostics& d);

// Enters a drop record's .hyd position for its minute (at line frequency line_fr) and for
// every minute since the last one entered, where no entry is set yet.
void enter_pos_pix(writer_state& wr, f64 y, f64 line_fr, u32 position, diagnostics& d);

// Appends a new main header record to .hd (after the stored headers) and to .hyd (after the
// last record); the next record chains back to it and the next net_wr call flushes.
void append_header(writer_state& wr, const main_rec& r, diagnostics& d);

}  // namespace dropix
