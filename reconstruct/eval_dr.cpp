#include "reconstruct/eval_dr.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cmath>

#include "common/numeric.h"

namespace dropix {

namespace {

// The instrument's single-precision constants, by their bits: 3.14159 (not the nearest
// single-precision value of pi) and 0.31831014, the single-precision value of 1 / 3.14159.
constexpr f32 pi_f = std::bit_cast<f32>(0x40490FD0u);
constexpr f32 inv_pi_f = std::bit_cast<f32>(0x3EA2F98Cu);

// Every named quantity of the evaluation is single precision: its expression is evaluated
// in double and rounded once, here, when it is stored.
f32 stored(f64 v) { return static_cast<f32>(v); }

// Width of a piece in pixels: last - first, so a one-pixel piece has width 0.
int width_of(const piece& p) { return p.last - p.first; }

// The widest piece of an object, the first piece included.
int widest(const drop_rec* d) {
  const piece* p = d->pieces;
  const int n = d->line_no;
  int w = 0;
  for (int i = 0; i < n; ++i) {
    const int x = width_of(p[i]);
    w = x > w ? x : w;
  }
  return w;
}

// A camera's horizontal scale corrected for the size error at the object's width: the
// table index is the width in tenths of a millimetre, rounded half up; from 51.2 mm on
// (index 512 or more) no factor applies.
f32 width_corrected(f32 xscale, int width, const f32 (&fac)[n_corr]) {
  const f32 s = stored(width * f64{xscale} * 10.0);
  s64 k = trunc_s32(s);
  if (f64{s} - k >= 0.5) ++k;
  if (k < 0 || k >= n_corr) return xscale;
  return stored(xscale * f64{fac[k]});
}

}  // namespace

const main_rec& header_at(const header_list& hdr, f64 y_first, diagnostics& d) {
  const u64 t1 = line_trunc(y_first);
  const f64 t = static_cast<f64>(t1);
  if (!hdr.head) fail(d, "eval_dr 01: no main header in file ?!? \n");
  if (const hd_node* n = hdr.in_force(t)) return n->rec;
  if (hdr.head == hdr.tail) {
    err_printf(d, "t1=%" PRIu64 ", ptr->line=%" PRIu64 " \n", t1, line_trunc(hdr.head->line));
    fail(d, "eval_dr 02: no corresponding main header ? \n");
  }
  fail(d, "eval_dr 04: no corresponding main header ? \n");
}

void eval_dr(const header_list& headers, const corr_tables_rec& corr_tables, const drop_rec* drop_a,
             const drop_rec* drop_b, f32* eq_diam, f32* xscale_a, f32* xscale_b, f32* yscale, diagnostics& d) {
  eval_dr(header_at(headers, drop_a->y_first, d), corr_tables, drop_a, drop_b, eq_diam, xscale_a, xscale_b, yscale);
}

void eval_dr(const main_rec& h, const corr_tables_rec& corr_tables, const drop_rec* drop_a, const drop_rec* drop_b,
             f32* eq_diam, f32* xscale_a, f32* xscale_b, f32* yscale) {

  // Where the drop is. Both cameras' lines are 2 * gate1 pixels wide with gate1 in the
  // middle; camera A's position across its line tells the depth seen by camera B and vice
  // versa. The offsets are whole pixels, the centres half pixels.
  const f32 off_a = static_cast<f32>((drop_a->pix_min + drop_a->pix_max) / 2 - h.gate1);
  const f32 off_b = static_cast<f32>((drop_b->pix_min + drop_b->pix_max) / 2 - h.gate1);
  const f32 c_a = stored((drop_a->pix_min + drop_a->pix_max) * 0.5);
  const f32 c_b = stored((drop_b->pix_min + drop_b->pix_max) * 0.5);

  // Distance between the cameras' two viewing planes at the drop. It is known at three
  // corners of the measuring area; the fourth keeps the corners in one plane. Interpolate
  // along camera A's line at the front and at the back, then between them along camera B's.
  const f32 w = stored(h.gate1 * 2.0);
  const f32 hfl = stored(f64{h.HBL} + h.HFR - h.HBR);
  const f32 h_front = stored(hfl + (f64{h.HFR} - hfl) * c_a / w);
  const f32 h_back = stored(f64{h.HBL} + (f64{h.HBR} - h.HBL) * c_a / w);
  const f32 h_dist = stored(h_back + (f64{h_front} - h_back) * c_b / w);

  // Fall per scan line: the drop crosses the plane distance in the mean of the delays of
  // its first and of its last line between the two cameras (at least one line in all).
  f64 dt = (drop_b->y_first - drop_a->y_first) + (drop_b->y_last - drop_a->y_last);
  if (dt <= 1.0) dt = 1.0;
  f32 ys = stored(h_dist * 2.0 / dt);

  // The mean height of the drop in tenths of a millimetre selects the height correction,
  // the mean of both cameras' factors.
  const s32 k = trunc_s32((drop_a->line_no + drop_b->line_no) * f64{ys} * 5.0);
  if (k >= 0 && k < n_corr)
    ys = stored(ys * (f64{corr_tables.height_a_fac[k]} + corr_tables.height_b_fac[k]) * 0.5);

  // Perspective: a camera's scale at the drop depends on the drop's distance from that
  // camera, which is the offset the other camera sees. With the cameras' placement camera
  // A's scale falls as camera B's offset grows, and camera B's grows with camera A's offset.
  f32 xa = stored(f64{h.XSCALE0_1} * (f64{h.L0_1} - f64{h.XSCALE0_2} * off_b) / h.L0_1);
  f32 xb = stored(f64{h.XSCALE0_2} * (f64{h.L0_2} + f64{h.XSCALE0_1} * off_a) / h.L0_2);
  xa = width_corrected(xa, widest(drop_a), corr_tables.width_a_fac);
  xb = width_corrected(xb, widest(drop_b), corr_tables.width_b_fac);

  // Volume: one elliptic slice per scan line, axes a (camera A's width) and b (camera B's
  // width), one line of fall thick, over the lines both objects have; then scaled from
  // those n lines to the mean of the two line counts.
  const int n = std::min(drop_a->line_no, drop_b->line_no);
  const piece* pa = drop_a->pieces;
  const piece* pb = drop_b->pieces;
  f32 v = 0;
  for (int i = 0; i < n; ++i) {
    const f32 a = stored(width_of(pa[i]) * f64{xa});
    const f32 b = stored(width_of(pb[i]) * f64{xb});
    v = stored(f64{a} * b * pi_f * 0.25f * ys + v);
  }
  v = stored(f64{v} * (drop_a->line_no + drop_b->line_no) / (n * 2.0));

  // Diameter of the sphere of that volume: V = pi d^3 / 6.
  *eq_diam = stored(std::pow(f64{v} * 6.0f * inv_pi_f, 1.0 / 3.0));
  *xscale_a = xa;
  *xscale_b = xb;
  *yscale = ys;
}

}  // namespace dropix
