#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "platform/platform.h"

namespace dropix::platform {

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

void use_utc() {
  ::unsetenv("TZ");
  ::setenv("TZ", "UTC0", 1);
  ::tzset();
}

}  // namespace dropix::platform
