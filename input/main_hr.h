// Main headers: the instrument's measuring parameters. Each new header is kept in maint and in
// the header list; its 74-byte record goes to the .hd and .hyd files through the writer.
#pragma once

#include <optional>
#include <string>

#include "common/diag.h"
#include "common/records.h"
#include "platform/raw_reader.h"

namespace dropix {

// The headers of a run.
struct header_state {
  u32 maint[max_headers] = {};  // main_time of every distinct header, in order of arrival
  s16 maincnt = 0;
  f64 line_fr = 0;              // line frequency of the header read last
  header_list list;             // the headers in force, ascending in line
};

// Reads the 56-byte main header body at `body` (the body of the block at raw offset `at`) and
// processes it. A header already known by its valid_since changes nothing (one that repeats
// it with other parameters is reported). A header whose line frequency is not a finite
// positive number is refused with a message. A new header sets line_fr, is recorded in maint,
// entered in the header list and returned as its record (len_prev = `oldlen`, the file name of
// `pix_nam`), for the writer to append to .hd and .hyd. Ends the run on a 101st header and on
// a header out of time order.
std::optional<main_rec> main_hr(header_state& hdr, raw_cursor& body, s64 at, s16 oldlen, const std::string& pix_nam,
                                diagnostics& d);

// Enters a main header record into the header list. A header that is not later than the
// stored one it meets, and differs from it, ends the run ("neg. time jump").
void main_tim(header_list& list, const main_rec& r, diagnostics& d);

// The record of header `h`, with len_prev and the .hyd file name.
main_rec make_main_rec(const hd_par& h, s16 len_prev, const std::string& pix_nam);

}  // namespace dropix
