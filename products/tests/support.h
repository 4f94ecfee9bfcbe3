// Test support for the products: a builder of .hyd/.hd files with chosen drops, a fresh
// directory per test, and the real dropix-products executable run as a child process.
#pragma once

#include <string>
#include <vector>

#include "common/formats.h"
#include "reader/hyd_reader.h"

namespace dropix::products::test {

// A header like the simulated instrument's: 512-pixel lines, 55 kHz, valid from 14:00 UTC
// on 2026-12-08 (or from `valid_since`).
main_rec instrument(u32 valid_since = 1796738400u, double line_fr = 55000.0);

// A drop record's head and silhouettes, in absolute pixel columns.
struct drop_spec {
  double y_first = 0;
  s16 diam_100 = 150;
  s16 yscale_10k = 1200;
  s16 xscale_a_10k = 1904, xscale_b_10k = 1921;
  std::vector<reader::silhouette_piece> a, b;
};
// A round silhouette: `lines` scan lines of `width` + 1 pixels (last - first = width)
// starting at `first` pixel.
std::vector<reader::silhouette_piece> block(int first, int width, int lines);

// Builds a .hyd record by record, and the .hd dropix would write beside it.
class hyd_builder {
 public:
  hyd_builder& header(const main_rec& h);
  hyd_builder& drop(const drop_spec& d);
  const std::vector<u8>& hyd() const { return hyd_; }
  std::vector<u8> hd() const;
  std::size_t drops() const { return drop_offsets_.size(); }

 private:
  std::vector<u8> hyd_;
  std::vector<main_rec> headers_;
  std::vector<u32> drop_offsets_;
  std::vector<int> drop_minutes_;
  s16 last_len_ = 0;
  double line_fr_ = 0;
};

// A fresh directory, removed with everything in it at the end.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::vector<u8>& bytes) const;
  void write(const std::string& name, const std::string& text) const;
  // Names of the directory's entries (hidden ones too), sorted.
  std::vector<std::string> list() const;

 private:
  std::string path_;
};

struct run_result {
  int status = -1;  // exit status, or 128 + signal
  std::string out, err;
};
// Runs dropix-products with args in cwd.
run_result run_products(const std::vector<std::string>& args, const std::string& cwd);

std::vector<u8> read_bytes(const std::string& path);

}  // namespace dropix::products::test
