#include "input/decmpr.h"

namespace dropix {

// Stand-in until the decoder lands: every line block counts as failed to decode.
s16 decmpr(raw_cursor&, s16* n_lin_out) {
  *n_lin_out = 0;
  return 0;
}

bool get_bits(u16* value, int, u16* flag) {
  *value = 0;
  *flag = 0;
  return false;
}

}  // namespace dropix
