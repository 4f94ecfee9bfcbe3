#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "products/timefmt.h"
#include "products/writers.h"

namespace dropix::products {

namespace {

// The column heads: the per-drop netCDF variable's name and its units.
constexpr const char* header =
    "record_offset [byte],time [UTC],equivolumetric_sphere_diameter [mm],fall_speed [m s-1],oblateness [1],"
    "drop_width_a [mm],drop_width_b [mm],drop_height_a [mm],drop_height_b [mm],x_position [mm],y_position [mm],"
    "effective_area [mm2],qc_flag [1]\n";

struct closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// count 10^-places as a decimal: "-12.345". Returns the end; writes at most 22 characters.
char* decimal(char* p, long long count, int places) {
  if (count < 0) *p++ = '-';
  unsigned long long c = count < 0 ? 0ull - static_cast<unsigned long long>(count) : static_cast<unsigned long long>(count);
  char digits[24];  // least significant first
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + c % 10);
    c /= 10;
  } while (c != 0);
  while (n <= places) digits[n++] = '0';  // at least one digit before the point
  for (int i = n - 1; i >= places; --i) *p++ = digits[i];
  if (places > 0) {
    *p++ = '.';
    for (int i = places - 1; i >= 0; --i) *p++ = digits[i];
  }
  return p;
}

}  // namespace

void write_drops_csv(const std::string& path, const drop_columns& c) {
  std::unique_ptr<std::FILE, closer> fp(std::fopen(path.c_str(), "wb"));
  if (!fp) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
  // Rows are formatted into a buffer and written in large pieces. Each value is the decimal
  // the netCDF file holds as its nearest single-precision number.
  std::string buf;
  constexpr std::size_t piece = 1 << 20;
  buf.reserve(piece + 1024);
  buf += header;
  bool ok = true;
  char row[512];
  for (std::size_t i = 0; i < c.size() && ok; ++i) {
    char* p = row;
    char* const end = row + sizeof row;
    p = std::to_chars(p, end, c.offset[i]).ptr;
    *p++ = ',';
    p += iso_ms(c.time_ms[i], p);
    for (int k = 0; k < n_float; ++k) {
      *p++ = ',';
      const float v = c.floats[static_cast<std::size_t>(k)][i];
      const int places = places_of[k];
      if (std::isfinite(v))
        p = decimal(p, scaled(v, places), places);
      else
        p = std::to_chars(p, end, v).ptr;
    }
    *p++ = ',';
    p = std::to_chars(p, end, static_cast<unsigned>(c.qc[i])).ptr;
    *p++ = '\n';
    buf.append(row, p);
    if (buf.size() >= piece) {
      ok = std::fwrite(buf.data(), 1, buf.size(), fp.get()) == buf.size();
      buf.clear();
    }
  }
  if (ok) ok = std::fwrite(buf.data(), 1, buf.size(), fp.get()) == buf.size();
  const int e = errno;
  std::FILE* f = fp.release();
  if (std::fclose(f) != 0 || !ok) throw std::runtime_error("cannot write " + path + ": " + std::strerror(ok ? errno : e));
}

}  // namespace dropix::products
