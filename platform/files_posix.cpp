#include <sys/stat.h>
#include <unistd.h>

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

std::string in_dir(const std::string& dir, const std::string& name) {
  if (dir.empty() || (!name.empty() && is_separator(name[0]))) return name;
  return is_separator(dir.back()) ? dir + name : dir + path_separator() + name;
}

int seek64(std::FILE* fp, s64 offset, int whence) {
  return ::fseeko(fp, static_cast<off_t>(offset), whence);
}

s64 tell64(std::FILE* fp) { return static_cast<s64>(::ftello(fp)); }

int file_sync(std::FILE* fp) {
  if (std::fflush(fp) != 0) return -1;
  return ::fsync(::fileno(fp));
}

int truncate_file(std::FILE* fp, s64 length) {
  if (std::fflush(fp) != 0) return -1;
  return ::ftruncate(::fileno(fp), static_cast<off_t>(length));
}

}  // namespace dropix
