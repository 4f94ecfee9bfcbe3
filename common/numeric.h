// Conversions of floating-point values to integers that are defined for every input.
#pragma once

#include <cmath>

#include "common/formats.h"

namespace dropix {

// A float or double converted to a 32-bit integer the way the instrument's x86 platform
// converts it: truncation toward zero, and 0x80000000 for NaN, infinities and values out of
// the 32-bit range. Stored records keep their bits through this one conversion.
inline s32 trunc_s32(f64 v) {
  if (!(v > -2147483649.0 && v < 2147483648.0)) return static_cast<s32>(0x80000000u);
  return static_cast<s32>(v);
}

// A line count truncated toward zero into 64 bits (line counts pass 2^32 late in the day at
// high line frequencies). Negative values and NaN give 0.
inline u64 line_trunc(f64 y) {
  if (!(y > 0)) return 0;
  if (y >= 18446744073709551616.0) return ~u64{0};
  return static_cast<u64>(y);
}

// A line count as the resume file stores it (lastpix_y): truncated, and line counts beyond 32
// bits kept as the largest value.
inline u32 stored_line(f64 y) {
  const u64 t = line_trunc(y);
  return t > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(t);
}

// A line frequency the program can count time with: a finite number above zero.
inline bool usable_line_fr(f64 line_fr) { return std::isfinite(line_fr) && line_fr > 0; }

// The minute of the day of a line count, or -1 when it has none: no line frequency yet, or
// a minute outside the per-minute tables.
inline int minute_of(f64 y, f64 line_fr) {
  if (!(line_fr > 0)) return -1;
  const f64 m = y / (line_fr * 60.0);
  if (!(m >= 0) || m >= minutes_per_day_table) return -1;
  return static_cast<int>(m);
}

}  // namespace dropix
