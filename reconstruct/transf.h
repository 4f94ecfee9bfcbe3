// Drop record packing: a matched pair into its 30-byte head and bit-packed data words.
#pragma once

#include "common/diag.h"
#include "common/records.h"

namespace dropix {

// Builds the record of the pair: `head` receives the 30-byte record head, `data` the data
// words (room for max_packed_values words). Returns 1 when built, 0 when the record would
// reach 2048 bytes (nothing is to be written then). Evaluates the pair with eval_dr, which
// ends the run when no main header fits. `len_prev` is the length of the record written
// before it.
s16 transf_1(const header_list& headers, const corr_tables_rec& corr_tables, const drop_rec* drop_a,
             const drop_rec* drop_b, s16 len_prev, u16* data, u8* head, diagnostics& d);

// What the pair's record will be, known before it is built: whether it can be a record at
// all (both objects within MAXLIN pieces, the record shorter than 2048 bytes), its bits per
// value, data words and length.
struct record_plan {
  bool fits = false;
  int bits = 0;
  int words = 0;
  u32 len = 0;
};
record_plan plan_record(const drop_rec* drop_a, const drop_rec* drop_b);

// The same as the first transf_1 with the main header in force at camera A's first line
// already found (header_at) and the pair's plan already made (plan_record): never ends the
// run.
s16 transf_1(const main_rec& header, const corr_tables_rec& corr_tables, const drop_rec* drop_a,
             const drop_rec* drop_b, const record_plan& plan, s16 len_prev, u16* data, u8* head, diagnostics& d);

// True when an equivalent diameter is implausibly small: below 0.01 mm in single precision,
// a negative zero or a not-a-number with its sign bit set included; 0.01f itself is not.
bool eq_diam_too_small(f32 eq_diam);

}  // namespace dropix
