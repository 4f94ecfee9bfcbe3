// A reference decoder for the tests: line blocks decoded one field at a time through
// get_bits, the way the decoder's code loop is defined, so that the code loop can be checked
// against it on any bytes (tests/unit/decmpr_test.cpp).
#pragma once

#include "common/diag.h"
#include "input/decmpr.h"
#include "platform/raw_reader.h"

namespace dropix::testing {

s16 reference_decmpr(decode_state& dec, raw_cursor& body, s16* n_lin_out, diagnostics& d);

}  // namespace dropix::testing
