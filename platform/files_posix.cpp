#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"

namespace dropix {

char path_separator() { return '/'; }

bool is_separator(char c) { return c == '/'; }

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string base_name(const std::string& path) {
  std::size_t cut = 0;
  for (std::size_t i = 0; i < path.size(); ++i)
    if (is_separator(path[i])) cut = i + 1;
  return path.substr(cut);
}

std::string in_dir(const std::string& dir, const std::string& name) {
  if (dir.empty() || (!name.empty() && is_separator(name[0]))) return name;
  return is_separator(dir.back()) ? dir + name : dir + path_separator() + name;
}

int seek64(std::FILE* fp, s64 offset, int whence) {
  return ::fseeko(fp, static_cast<off_t>(offset), whence);
}

s64 tell64(std::FILE* fp) { return static_cast<s64>(::ftello(fp)); }

bool io_faults::fail_now() {
  if (count++ != fail_at) return false;
  errno = error;
  return true;
}

namespace {
bool faulted(io_faults* faults) { return faults && faults->fail_now(); }
}  // namespace

bool write_all(std::FILE* fp, const void* data, std::size_t n, io_faults* faults) {
  if (faulted(faults)) {
    if (faults->partial && n > 1) {
      std::fwrite(data, 1, n / 2, fp);
      std::fflush(fp);
      errno = faults->error;
    }
    return false;
  }
  errno = 0;
  return n == 0 || std::fwrite(data, 1, n, fp) == n;
}

bool flush_file(std::FILE* fp, io_faults* faults) {
  if (faulted(faults)) return false;
  return std::fflush(fp) == 0;
}

bool sync_file(std::FILE* fp, io_faults* faults) {
  if (faulted(faults)) return false;
  return std::fflush(fp) == 0 && ::fsync(::fileno(fp)) == 0;
}

bool cut_file(std::FILE* fp, s64 length, io_faults* faults) {
  if (faulted(faults)) return false;
  return std::fflush(fp) == 0 && ::ftruncate(::fileno(fp), static_cast<off_t>(length)) == 0;
}

s64 file_size(std::FILE* fp) {
  struct stat st;
  if (::fstat(::fileno(fp), &st) != 0) return -1;
  return static_cast<s64>(st.st_size);
}

bool is_regular_file(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  if (S_ISREG(st.st_mode)) return true;
  errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  return false;
}

std::FILE* open_regular_for_reading(const std::string& path, bool* not_regular) {
  *not_regular = false;
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const bool dir = S_ISDIR(st.st_mode);
    ::close(fd);
    errno = dir ? EISDIR : 0;
    *not_regular = !dir;
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* fp = ::fdopen(fd, "rb");
  if (!fp) ::close(fd);
  return fp;
}

bool lock_file(std::FILE* fp) { return ::flock(::fileno(fp), LOCK_EX | LOCK_NB) == 0; }

}  // namespace dropix
