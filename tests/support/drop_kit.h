// Hand-built objects and header nodes for the evaluation and packing tests.
#pragma once

#include <algorithm>
#include <deque>
#include <memory>
#include <vector>

#include "common/records.h"
#include "tests/support/fixture.h"

namespace dropix::testing {

// The pieces of objects made outside the store, held for the rest of the test program:
// exactly line_no of them each, so that reading past them is caught by the sanitizers.
inline std::deque<std::vector<piece>>& held_pieces() {
  static std::deque<std::vector<piece>> held;
  return held;
}

// A complete object as matching receives it: one piece per scan line, the first at line
// count y_first and the last at y_last. Needs no test fixture.
inline drop_rec make_drop(const std::vector<piece>& pieces, f64 y_first, f64 y_last) {
  drop_rec d;
  d.pieces = held_pieces().emplace_back(pieces).data();
  d.pix_min = pieces.front().first;
  d.pix_max = pieces.front().last;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    d.pix_min = std::min(d.pix_min, pieces[i].first);
    d.pix_max = std::max(d.pix_max, pieces[i].last);
    if (i > 0) d.max_wid = std::max<s16>(d.max_wid, static_cast<s16>(pieces[i].last - pieces[i].first));
  }
  d.line_no = static_cast<s16>(pieces.size());
  d.y_first = y_first;
  d.y_last = y_last;
  return d;
}

// n copies of one piece.
inline std::vector<piece> same_pieces(int n, piece p) { return std::vector<piece>(n, p); }

// Appends a node holding `rec` from line `line` on to the tail of the current test's header
// list.
inline void add_header(f64 line, const main_rec& rec) { current_test().hdr.list.append(rec, line); }

// A header with a flat plane distance h (all corners equal), scan lines of 2 * gate1
// pixels, both nominal scales 1 mm per pixel and cameras far away.
inline main_rec flat_header(f32 h = 40.0f, s16 gate1 = 100) {
  main_rec r;
  r.gate1 = gate1;
  r.HBL = r.HBR = r.HFR = h;
  r.XSCALE0_1 = r.XSCALE0_2 = 1.0f;
  r.L0_1 = r.L0_2 = 1000.0f;
  return r;
}

// Every correction factor 1.0, as with /c.
inline void flat_factors() {
  corr_tables_rec& corr_tables = current_test().corr_tables;
  for (int i = 0; i < n_corr; ++i) {
    corr_tables.height_a_fac[i] = corr_tables.height_b_fac[i] = 1.0f;
    corr_tables.width_a_fac[i] = corr_tables.width_b_fac[i] = 1.0f;
  }
}

}  // namespace dropix::testing
