// The products of one drop record: time, size, speed, shape, position, effective sampling
// area and quality flags, from the record and the main header in force.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "common/formats.h"
#include "products/fall_speed.h"
#include "products/geometry.h"
#include "reader/hyd_reader.h"

namespace dropix::products {

// Bits of qc_flag. A drop passes when none is set.
enum qc_bit : u8 {
  qc_fall_speed = 1,  // fall speed outside the band around the terminal-speed law, or >= 12 m/s
  qc_splash = 2,      // D <= 6 mm and v <= 0.6 m/s: probably a splash
  qc_edge = 4,        // silhouette within the edge margin of a line end: not seen whole
  qc_diameter = 8,    // D outside 0.1 .. 10 mm
};
struct qc_bit_info {
  u8 mask;
  const char* meaning;  // flag_meanings word
  const char* text;     // for the console
};
inline constexpr qc_bit_info qc_bits[] = {
    {qc_fall_speed, "fall_speed_outside_band", "fall speed outside the band"},
    {qc_splash, "probable_splash", "probable splash"},
    {qc_edge, "near_edge", "near the edge"},
    {qc_diameter, "diameter_out_of_range", "diameter outside 0.1-10 mm"},
};

struct qc_options {
  speed_law law = speed_law::atlas_1973;
  double altitude_m = 0;      // for Beard's law
  double tolerance = 0.5;     // band: |v - vt| <= tolerance vt
  int edge_margin = 1;        // pixels at each line end a silhouette must keep off
  double d_min = 0.1, d_max = 10.0;         // mm
  double splash_d = 6.0, splash_v = 0.6;    // mm, m/s
  double v_max = 12.0;                      // m/s: the top of the velocity bins
};

// One drop's values, in double precision; the files store them as single precision.
struct drop_values {
  u64 offset = 0;     // of the drop record in the .hyd
  s64 time_ms = 0;    // ms since 1970-01-01 00:00:00 UTC
  double d = 0;       // equivalent-volume diameter, mm
  double v = 0;       // fall speed, m/s
  double w_a = 0, w_b = 0;  // width seen by camera A / B, mm
  double h_a = 0, h_b = 0;  // height seen by camera A / B, mm
  double ratio = 0;   // axis ratio: mean height over mean width (NaN for a zero width)
  double x = 0, y = 0;  // position from the centre of the area, mm (x along camera A's line)
  double area = 0;    // effective sampling area, mm^2
  u8 qc = 0;
};

// Decimal places the products keep of each value: below the resolution of the record (0.01 mm
// for the diameter, 1e-4 mm for the scales), so no information is lost, and the same decimal
// goes into the CSV as text and into the netCDF file as the nearest single-precision number.
namespace decimals {
constexpr int diameter = 3, speed = 4, ratio = 4, size = 4, position = 3, area = 2;
}
// value rounded to `places` decimals, as an integer count of 10^-places.
long long scaled(double value, int places);
// That count back as the nearest single-precision number.
float unscaled(long long count, int places);

// A column of fixed capacity whose storage never moves, so that one thread may read the
// rows another has published while it appends more. Rows beyond those written are
// uninitialised.
template <class T>
class column {
 public:
  explicit column(std::size_t capacity) : data_(new T[capacity]) {}
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  const T* data() const { return data_.get(); }

 private:
  std::unique_ptr<T[]> data_;
};

// The float columns, in file order.
enum float_column { col_d, col_v, col_ratio, col_w_a, col_w_b, col_h_a, col_h_b, col_x, col_y, col_area, n_float };
inline constexpr int places_of[n_float] = {decimals::diameter, decimals::speed, decimals::ratio, decimals::size,
                                           decimals::size, decimals::size, decimals::size, decimals::position,
                                           decimals::position, decimals::area};

// All drops of a file as columns, the layout the writers want. The float columns hold the
// values rounded to their decimals (at most 7 significant digits, so scaled() of the float
// gives the decimal back exactly).
class drop_columns {
 public:
  explicit drop_columns(std::size_t capacity);
  std::size_t size() const { return n_; }
  std::size_t capacity() const { return capacity_; }
  // Appends a row; the caller keeps size() below capacity().
  void push(const drop_values& p);

  column<u32> offset;    // of the record in the .hyd (whose minute index is 32-bit)
  column<s64> time_ms;
  std::vector<column<float>> floats;  // n_float columns, indexed by float_column
  column<u8> qc;
  const float* col(float_column k) const { return floats[k].data(); }

 private:
  std::size_t n_ = 0, capacity_;
};

// Refused header or record; the message names the offset and the cause.
struct bad_record {
  std::string why;
};

// Turns drop records into drop values. Keeps one area table per distinct header geometry.
class drop_deriver {
 public:
  explicit drop_deriver(const qc_options& o);
  ~drop_deriver();

  // Checks a main header before drops are evaluated with it; throws bad_record.
  void accept_header(const main_rec& h, u64 offset);

  // The values of drop record r under header h (accepted before). Throws bad_record for a
  // record whose line count lies outside two days from midnight. The silhouettes of r must
  // be unpacked.
  drop_values derive(const reader::hyd_record& r, const main_rec& h);

  // The terminal speed of the law in use.
  const terminal_speed& law() const { return law_; }
  const qc_options& options() const { return opt_; }
  // Measuring area (mm^2) of a header: the effective area of a drop of no width.
  double measuring_area(const main_rec& h);

 private:
  area_table& table_for(const geometry& g);
  qc_options opt_;
  terminal_speed law_;
  std::vector<std::unique_ptr<area_table>> tables_;
  area_table* last_ = nullptr;
};

// The QC bits of a drop of diameter d (mm) and speed v (m/s); the edge bit is the caller's.
u8 speed_and_size_flags(double d, double v, const terminal_speed& law, const qc_options& o);

}  // namespace dropix::products
