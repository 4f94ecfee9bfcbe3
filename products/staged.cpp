#include "products/staged.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace dropix::products {

void temp_registry::add(const std::string& path) {
  if (path.size() >= path_max) return;
  for (int i = 0; i < capacity; ++i) {
    if (used_[i]) continue;
    std::memcpy(paths_[i], path.c_str(), path.size() + 1);
    used_[i] = 1;
    return;
  }
}

void temp_registry::remove(const std::string& path) {
  for (int i = 0; i < capacity; ++i)
    if (used_[i] && path == paths_[i]) used_[i] = 0;
}

void temp_registry::unlink_all() const noexcept {
  for (int i = 0; i < capacity; ++i)
    if (used_[i]) ::unlink(paths_[i]);
}

staged_file::staged_file(const std::string& final_path, temp_registry* registry)
    : final_(final_path), registry_(registry) {
  const std::size_t slash = final_.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : final_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? final_ : final_.substr(slash + 1);
  std::string pattern = dir + "." + name + ".part-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("cannot write " + final_ + ": " + std::strerror(errno));
  ::close(fd);
  temp_ = pattern;
  if (registry_) registry_->add(temp_);
}

staged_file::~staged_file() {
  if (committed_) return;
  ::unlink(temp_.c_str());
  if (registry_) registry_->remove(temp_);
}

void staged_file::commit() {
  // mkstemp made the file private (0600); products are for everyone who may read the directory.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::chmod(temp_.c_str(), 0666 & ~mask);
  if (std::rename(temp_.c_str(), final_.c_str()) != 0)
    throw std::runtime_error("cannot write " + final_ + ": " + std::strerror(errno));
  committed_ = true;
  if (registry_) registry_->remove(temp_);
}

}  // namespace dropix::products
