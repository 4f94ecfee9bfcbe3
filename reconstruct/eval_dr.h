// Drop evaluation: a matched pair of silhouettes into physical quantities.
#pragma once

#include "common/diag.h"
#include "common/records.h"

namespace dropix {

// The main header in force at a drop's first line y_first, truncated to a whole line t1: the
// first node whose interval [line, next line] holds t1, else the last node from its line on.
// A drop starting exactly on the line from which a newer header holds is still evaluated
// with the older one. No such node ends the run.
const main_rec& header_at(const header_list& headers, f64 y_first, diagnostics& d);

// Evaluates the pair with the main header of `headers` in force at camera A's first line and
// the correction factors: equivalent-volume diameter (mm), both horizontal scales (mm per
// pixel) and the fall per scan line (mm). Ends the run when no main header fits.
void eval_dr(const header_list& headers, const corr_tables_rec& corr_tables, const drop_rec* drop_a,
             const drop_rec* drop_b, f32* eq_diam, f32* xscale_a, f32* xscale_b, f32* yscale, diagnostics& d);

// The same with the main header in force already found (header_at): never ends the run.
void eval_dr(const main_rec& h, const corr_tables_rec& corr_tables, const drop_rec* drop_a, const drop_rec* drop_b,
             f32* eq_diam, f32* xscale_a, f32* xscale_b, f32* yscale);

}  // namespace dropix
