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

// The name and extension of a path (what follows its last separator).
std::string base_name(const std::string& path);

// `name` as seen from the directory `dir`: unchanged when it is absolute or `dir` is empty
// (the current directory), else dir/name.
std::string in_dir(const std::string& dir, const std::string& name);

int seek64(std::FILE* fp, s64 offset, int whence);  // 0 on success
s64 tell64(std::FILE* fp);                           // -1 on failure

// Failure injection for tests: the output operation numbered `fail_at` (counted from 0 over
// write_all, flush_file, sync_file and cut_file) fails with `error`, as a full disk or a
// failing device would make it fail.
struct io_faults {
  long fail_at = -1;  // -1: nothing fails
  int error = 28;     // ENOSPC
  long count = 0;     // operations so far
  bool partial = false;  // a failing write writes the first half of its bytes first
  // Counts one operation; true (with errno set) when it is to fail.
  bool fail_now();
};

// The output operations. Each returns true on success; on failure errno tells why.
bool write_all(std::FILE* fp, const void* data, std::size_t n, io_faults* faults);
bool flush_file(std::FILE* fp, io_faults* faults);
bool sync_file(std::FILE* fp, io_faults* faults);  // flushes, then syncs to the device
bool cut_file(std::FILE* fp, s64 length, io_faults* faults);  // truncates to `length`

// A file size, or -1 (errno set).
s64 file_size(std::FILE* fp);

// True when `path` is a regular file (following links); false with errno set otherwise.
bool is_regular_file(const std::string& path);

// Opens a regular file for binary reading without ever blocking: a FIFO, a device or a
// directory is refused (`not_regular` true, or errno EISDIR for a directory). Null when the
// file cannot be opened (errno tells why).
std::FILE* open_regular_for_reading(const std::string& path, bool* not_regular);

// Takes an exclusive lock on the open file, without waiting. False when another open
// description of the file holds it (errno EWOULDBLOCK) or locking failed. The kernel drops the
// lock when the file is closed or the process ends.
bool lock_file(std::FILE* fp);

// An open stream that is closed when its owner goes, on every path. Orderly ends close
// their files themselves first, so that failures of fclose can be reported.
struct file_closer {
  void operator()(std::FILE* fp) const noexcept { std::fclose(fp); }
};
using unique_file = std::unique_ptr<std::FILE, file_closer>;

}  // namespace dropix
