// The product files: per-drop CSV, per-drop netCDF-4 and the DSD time series netCDF-4.
// Each writes a complete file at the path it is given (a temporary name: the caller renames
// it) and throws std::runtime_error naming the file when anything fails.
#pragma once

#include <memory>
#include <string>

#include "products/drops.h"
#include "products/dsd.h"
#include "products/station.h"

namespace dropix::products {

// What the files say about themselves.
struct product_metadata {
  std::string version;       // of the program
  std::string history;       // "<ISO time> dropix-products <arguments>"
  std::string date_created;  // ISO 8601
  std::string source_file;   // the .hyd's name
  const station* site = nullptr;  // station metadata, when given
  qc_options qc;
  double measuring_area_mm2 = 0;  // of the first header
  s64 first_ms = 0, last_ms = 0;  // first and last drop (or the header's time), for the coverage
};

// Deflate level of every netCDF variable (with the shuffle filter): on per-drop data level 1
// gives files 2 % larger than level 4 in 60 % of its time (docs/products.md).
inline constexpr int deflate_level = 1;
// Chunk length of the per-drop variables along the drop dimension.
inline constexpr std::size_t drop_chunk = 131072;

void write_drops_csv(const std::string& path, const drop_columns& c);

// The per-drop netCDF file, written a slab of drops at a time while the drops are still
// being derived; its global attributes come last, when the whole file is known.
class drops_nc_writer {
 public:
  drops_nc_writer(const std::string& path, const station* site);
  ~drops_nc_writer();
  // Writes rows [from, to) of c.
  void append(const drop_columns& c, std::size_t from, std::size_t to);
  // Global attributes, then the file is closed.
  void finish(const product_metadata& m);

 private:
  struct parts;
  std::unique_ptr<parts> p_;
};

void write_dsd_nc(const std::string& path, const dsd_series& s, const product_metadata& m, const terminal_speed& law);

}  // namespace dropix::products
