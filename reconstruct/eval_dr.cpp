#include "reconstruct/eval_dr.h"

namespace dropix {

// Stand-in until drop evaluation lands.
void eval_dr(const drop_rec*, const drop_rec*, f32* eq_diam, f32* xscale_a, f32* xscale_b,
             f32* yscale) {
  *eq_diam = *xscale_a = *xscale_b = *yscale = 0;
}

}  // namespace dropix
