#include "products/netcdf.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace dropix::products::nc {

namespace {

std::string var_name(int ncid, int varid) {
  char name[NC_MAX_NAME + 1] = {};
  if (nc_inq_varname(ncid, varid, name) != NC_NOERR) return "variable " + std::to_string(varid);
  return name;
}

}  // namespace

void file::check(int status, const std::string& what) const {
  if (status != NC_NOERR) throw error(path_ + ": " + what + ": " + nc_strerror(status));
}

file::file(const std::string& path) : path_(path) {
  check(nc_create(path.c_str(), NC_CLOBBER | NC_NETCDF4, &id_), "cannot create");
}

file::~file() {
  if (id_ >= 0) nc_close(id_);
}

void file::close() {
  const int id = id_;
  id_ = -1;
  check(nc_close(id), "cannot complete the file");
}

int file::dim(const char* name, std::size_t length) {
  int d = -1;
  check(nc_def_dim(id_, name, length, &d), std::string("dimension ") + name);
  return d;
}

variable file::var(const char* name, nc_type type, const std::vector<int>& dims) {
  int v = -1;
  check(nc_def_var(id_, name, type, static_cast<int>(dims.size()), dims.data(), &v), std::string("variable ") + name);
  return variable(this, v);
}

void file::text(const char* name, const std::string& value) {
  check(nc_put_att_text(id_, NC_GLOBAL, name, value.size(), value.c_str()), std::string("attribute ") + name);
}

void file::number(const char* name, double value) {
  check(nc_put_att_double(id_, NC_GLOBAL, name, NC_DOUBLE, 1, &value), std::string("attribute ") + name);
}

void file::end_define() { check(nc_enddef(id_), "cannot leave define mode"); }

void file::no_prefill() {
  int old = 0;
  check(nc_set_fill(id_, NC_NOFILL, &old), "fill mode");
}

void file::redefine() { check(nc_redef(id_), "cannot enter define mode"); }

variable& variable::chunks(const std::vector<std::size_t>& shape) {
  f_->check(nc_def_var_chunking(f_->id(), id_, NC_CHUNKED, shape.data()), "chunks of " + var_name(f_->id(), id_));
  return *this;
}

variable& variable::deflate(int level) {
  f_->check(nc_def_var_deflate(f_->id(), id_, 1, 1, level), "deflate of " + var_name(f_->id(), id_));
  return *this;
}

variable& variable::text(const char* name, const std::string& value) {
  f_->check(nc_put_att_text(f_->id(), id_, name, value.size(), value.c_str()),
            std::string("attribute ") + name + " of " + var_name(f_->id(), id_));
  return *this;
}

variable& variable::number(const char* name, double value) {
  f_->check(nc_put_att_double(f_->id(), id_, name, NC_DOUBLE, 1, &value),
            std::string("attribute ") + name + " of " + var_name(f_->id(), id_));
  return *this;
}

variable& variable::number_f(const char* name, float value) {
  f_->check(nc_put_att_float(f_->id(), id_, name, NC_FLOAT, 1, &value),
            std::string("attribute ") + name + " of " + var_name(f_->id(), id_));
  return *this;
}

variable& variable::masks_u8(const char* name, const std::vector<u8>& values) {
  f_->check(nc_put_att_uchar(f_->id(), id_, name, NC_UBYTE, values.size(), values.data()),
            std::string("attribute ") + name + " of " + var_name(f_->id(), id_));
  return *this;
}

variable& variable::fill_nan() {
  const float v = std::numeric_limits<float>::quiet_NaN();
  f_->check(nc_def_var_fill(f_->id(), id_, NC_FILL, &v), "fill value of " + var_name(f_->id(), id_));
  return *this;
}

#define DROPIX_NC_PUT(T, FN)                                                                           \
  void variable::put(const std::vector<std::size_t>& start, const std::vector<std::size_t>& count,     \
                     const T* v) const {                                                               \
    f_->check(FN(f_->id(), id_, start.data(), count.data(), v), "data of " + var_name(f_->id(), id_)); \
  }
DROPIX_NC_PUT(float, nc_put_vara_float)
DROPIX_NC_PUT(double, nc_put_vara_double)
DROPIX_NC_PUT(u32, nc_put_vara_uint)
DROPIX_NC_PUT(u8, nc_put_vara_uchar)
DROPIX_NC_PUT(long long, nc_put_vara_longlong)
#undef DROPIX_NC_PUT

void variable::put_scalar(double v) const {
  f_->check(nc_put_var_double(f_->id(), id_, &v), "data of " + var_name(f_->id(), id_));
}

void variable::put_scalar(int v) const {
  f_->check(nc_put_var_int(f_->id(), id_, &v), "data of " + var_name(f_->id(), id_));
}

}  // namespace dropix::products::nc
