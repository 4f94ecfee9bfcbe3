// File-system helpers: paths, positions beyond 2 GiB, syncing and truncating. Real
// everywhere: tests run in temporary directories of their own.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "common/formats.h"

namespace dropix {

char path_separator();
bool is_separator(char c);
bool file_exists(const std::string& path);
bool is_directory(const std::string& path);

// `name` as seen from the directory `dir`: unchanged when it is absolute or `dir` is empty
// (the current directory), else dir/name.
std::string in_dir(const std::string& dir, const std::string& name);

int seek64(std::FILE* fp, s64 offset, int whence);  // 0 on success
s64 tell64(std::FILE* fp);                           // -1 on failure
int file_sync(std::FILE* fp);                        // flushes and syncs; 0 on success
int truncate_file(std::FILE* fp, s64 length);        // 0 on success

// An open stream that is closed when its owner goes, on every path. Orderly ends close
// their files themselves first, so that failures of fclose can be reported.
struct file_closer {
  void operator()(std::FILE* fp) const noexcept { std::fclose(fp); }
};
using unique_file = std::unique_ptr<std::FILE, file_closer>;

}  // namespace dropix
