// Main headers: the instrument's measuring parameters. Each new header is kept in maint and
// in the header list and appended as a 74-byte record to the .hd and .hyd files.
#pragma once

#include "common/dropix.h"
#include "input/raw_reader.h"

namespace dropix {

// Reads the 56-byte main header body at `body` (the block's body) and processes it: sets
// line_fr, recognises a header already known by its valid_since, and otherwise records the
// header, enters it in the header list and appends its record to .hd and .hyd.
void main_hr(raw_cursor& body);

// Enters the current main header record (hdr.cur) into the header list. A header that is not
// later than the stored one it meets, and differs from it, ends the run ("neg. time jump").
void main_tim();

// The record hdr.cur would become for header `h`, with len_prev and the .hyd file name.
main_rec make_main_rec(const hd_par& h, s16 len_prev, const std::string& pix_nam);

}  // namespace dropix
