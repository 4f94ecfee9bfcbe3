// A thin owner of the netCDF C library's handles: a file that closes itself, variables that
// know their file, and every failure turned into an exception naming the file, the object
// and the library's reason.
#pragma once

#include <netcdf.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/formats.h"

namespace dropix::products::nc {

struct error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class file;

// A variable of an open file. Setters are for define mode, put() for data mode.
class variable {
 public:
  variable(const file* f, int id) : f_(f), id_(id) {}
  int id() const { return id_; }

  // Chunk shape (one entry per dimension) and deflate level 1..9 with the shuffle filter.
  variable& chunks(const std::vector<std::size_t>& shape);
  variable& deflate(int level);
  variable& text(const char* name, const std::string& value);
  variable& number(const char* name, double value);       // as NC_DOUBLE
  variable& number_f(const char* name, float value);      // as NC_FLOAT
  variable& masks_u8(const char* name, const std::vector<u8>& values);  // as NC_UBYTE
  // Sets _FillValue to NaN (float variables).
  variable& fill_nan();

  // Writes count elements from start along each dimension.
  void put(const std::vector<std::size_t>& start, const std::vector<std::size_t>& count, const float* v) const;
  void put(const std::vector<std::size_t>& start, const std::vector<std::size_t>& count, const double* v) const;
  void put(const std::vector<std::size_t>& start, const std::vector<std::size_t>& count, const long long* v) const;
  void put(const std::vector<std::size_t>& start, const std::vector<std::size_t>& count, const u32* v) const;
  void put(const std::vector<std::size_t>& start, const std::vector<std::size_t>& count, const u8* v) const;
  // A scalar variable.
  void put_scalar(double v) const;
  void put_scalar(int v) const;

 private:
  const file* f_;
  int id_;
};

// A netCDF-4 file created for writing; closed by its destructor (errors then ignored: call
// close() to learn of them).
class file {
 public:
  explicit file(const std::string& path);  // created, clobbering what is there
  ~file();
  file(const file&) = delete;
  file& operator=(const file&) = delete;

  int dim(const char* name, std::size_t length);  // NC_UNLIMITED (0) for unlimited
  variable var(const char* name, nc_type type, const std::vector<int>& dims);
  void text(const char* name, const std::string& value);  // global attribute
  void number(const char* name, double value);
  void end_define();
  // Variables defined from now on are not filled with fill values before their data are
  // written (for variables that get every value).
  void no_prefill();
  void redefine();  // back into define mode, for attributes after the data
  void close();

  int id() const { return id_; }
  const std::string& path() const { return path_; }
  // Throws error when status is not NC_NOERR.
  void check(int status, const std::string& what) const;

 private:
  std::string path_;
  int id_ = -1;
};

}  // namespace dropix::products::nc
