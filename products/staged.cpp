#include "products/staged.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace dropix::products {

void temp_registry::add(const std::string& path) {
  if (path.size() >= path_max) return;
  for (int i = 0; i < capacity; ++i) {
    if (used_[i].load(std::memory_order_acquire)) continue;
    std::memcpy(paths_[i], path.c_str(), path.size() + 1);
    used_[i].store(true, std::memory_order_release);  // the path is whole before it counts
    return;
  }
}

void temp_registry::remove(const std::string& path) {
  for (int i = 0; i < capacity; ++i)
    if (used_[i].load(std::memory_order_acquire) && path == paths_[i]) used_[i].store(false, std::memory_order_release);
}

void temp_registry::unlink_all() const noexcept {
  for (int i = 0; i < capacity; ++i)
    if (used_[i].load(std::memory_order_acquire)) ::unlink(paths_[i]);
}

staged_file::staged_file(const std::string& final_path, temp_registry* registry)
    : final_(final_path), registry_(registry) {
  const std::size_t slash = final_.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : final_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? final_ : final_.substr(slash + 1);
  std::string pattern = dir + "." + name + ".part-XXXXXX";
  sigset_t all, old;
  sigfillset(&all);
  ::pthread_sigmask(SIG_BLOCK, &all, &old);
  const int fd = ::mkstemp(pattern.data());
  const int e = errno;
  if (fd >= 0 && registry_) registry_->add(pattern);
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (fd < 0) throw std::runtime_error("cannot write " + final_ + ": " + std::strerror(e));
  ::close(fd);
  temp_ = pattern;
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
