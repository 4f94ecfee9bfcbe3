// Times as text: ISO 8601 in UTC.
#pragma once

#include <string>

#include "common/formats.h"

namespace dropix::products {

// "2026-12-08T14:00:03.071Z" for milliseconds since 1970-01-01 00:00:00 UTC, for times in
// the years 0 to 9999. Writes 24 characters and a NUL into buf (25 bytes); returns 24.
int iso_ms(s64 ms, char* buf);
// "2026-12-08T14:00:00Z" for seconds since 1970.
std::string iso_s(s64 s);
// "2026-12-08" for the day holding second s.
std::string iso_day(s64 s);

// Civil date of a day number since 1970-01-01 (proleptic Gregorian); H. Hinnant's
// algorithm "civil_from_days".
void civil_from_days(s64 days, int* year, int* month, int* day);

}  // namespace dropix::products
