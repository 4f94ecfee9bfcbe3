#include "output/tables.h"

namespace dropix {

// Stand-in until the calibration tables land: no correction.
void tables() {
  for (int i = 0; i < n_corr; ++i) {
    corr_tables.height_a_fac[i] = corr_tables.height_b_fac[i] = 1.0f;
    corr_tables.width_a_fac[i] = corr_tables.width_b_fac[i] = 1.0f;
  }
}

}  // namespace dropix
