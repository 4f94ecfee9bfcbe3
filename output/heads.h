// The fixed heads that the writer rewrites in place: the minute index of .hd and the whole
// resume file .abh. Each has one writer; its callers name their own report tags.
#pragma once

#include <cstdio>

#include "common/diag.h"
#include "common/records.h"
#include "platform/files.h"

namespace dropix {

// Report tags of one caller, for each step of a head write.
struct head_tags {
  const char* seek;    // positioning at the start
  const char* first;   // pos_pix, or posa_bf
  const char* second;  // oldlen, or posb_bf
  const char* third;   // lastpix_y (unused for .hd)
  const char* flush;
};

// Writes the .hd head from its start: pos_pix (1442 entries) and oldlen, then flushes.
// Stops at the first step that fails and returns its tag (errno tells why); null when all
// went well.
const char* write_hd_head(std::FILE* fp, const u32* pos_pix, s16 oldlen, const head_tags& tags, io_faults* faults);

// Writes the .abh file from its start: posa_bf, posb_bf, lastpix_y and, with `zero_word`, the
// four zero bytes that every data flush writes; then flushes. Returns the tag of the step that
// failed, or null.
const char* write_abh(std::FILE* fp, const raw_positions& pos, u32 lastpix_y, bool zero_word, const head_tags& tags,
                      io_faults* faults);

struct writer_state;

// A failed write, flush, sync or truncate of the output file `file`: reported under `tag`,
// then the run ends with a message naming the file and the cause, the writer marked broken so
// that nothing more is written. Nothing of the resume state has moved past what is on disk, so
// a later run goes on from there.
[[noreturn]] void write_failed(writer_state& wr, diagnostics& d, const char* tag, const std::string& file);

}  // namespace dropix
