#include "products/timefmt.h"

namespace dropix::products {

namespace {

s64 floor_div(s64 a, s64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

void two(char* p, int v) {
  p[0] = static_cast<char>('0' + v / 10);
  p[1] = static_cast<char>('0' + v % 10);
}

}  // namespace

void civil_from_days(s64 z, int* year, int* month, int* day) {
  z += 719468;
  const s64 era = floor_div(z, 146097);
  const s64 doe = z - era * 146097;
  const s64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const s64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const s64 mp = (5 * doy + 2) / 153;
  const s64 d = doy - (153 * mp + 2) / 5 + 1;
  const s64 m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(yoe + era * 400 + (m <= 2));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

int iso_ms(s64 ms, char* buf) {
  const s64 days = floor_div(ms, 86400000);
  s64 rest = ms - days * 86400000;
  int y = 0, mo = 0, d = 0;
  civil_from_days(days, &y, &mo, &d);
  const int msec = static_cast<int>(rest % 1000);
  rest /= 1000;
  // Fixed layout, filled by hand: this runs once per drop.
  char* p = buf;
  p[0] = static_cast<char>('0' + y / 1000);
  p[1] = static_cast<char>('0' + y / 100 % 10);
  two(p + 2, y % 100);
  p[4] = '-';
  two(p + 5, mo);
  p[7] = '-';
  two(p + 8, d);
  p[10] = 'T';
  two(p + 11, static_cast<int>(rest / 3600));
  p[13] = ':';
  two(p + 14, static_cast<int>(rest / 60 % 60));
  p[16] = ':';
  two(p + 17, static_cast<int>(rest % 60));
  p[19] = '.';
  p[20] = static_cast<char>('0' + msec / 100);
  two(p + 21, msec % 100);
  p[23] = 'Z';
  p[24] = '\0';
  return 24;
}

std::string iso_s(s64 s) {
  char buf[25];
  iso_ms(s * 1000, buf);
  return std::string(buf, 19) + "Z";
}

std::string iso_day(s64 s) {
  char buf[25];
  iso_ms(s * 1000, buf);
  return std::string(buf, 10);
}

}  // namespace dropix::products
