// Output files that appear whole or not at all: each is written under a hidden temporary
// name in its destination directory and renamed to its own name once complete.
#pragma once

#include <atomic>
#include <string>

namespace dropix::products {

// The temporary names in use, so that a signal handler can remove them. Fixed capacity and
// plain character arrays: the handler may only call async-signal-safe functions.
class temp_registry {
 public:
  static constexpr int capacity = 16;
  static constexpr int path_max = 4096;
  void add(const std::string& path);
  void remove(const std::string& path);
  // Unlinks every registered file; async-signal-safe.
  void unlink_all() const noexcept;

 private:
  char paths_[capacity][path_max] = {};
  std::atomic<bool> used_[capacity] = {};  // lock-free: safe to read in a signal handler
};

// One output file in the making. The constructor creates the temporary file (".NAME.part-XXXXXX"
// beside NAME), so an unwritable directory fails here, and registers it with signals
// blocked, so that no signal finds it created but not registered; commit() renames it to
// NAME; the destructor removes it unless committed.
class staged_file {
 public:
  staged_file(const std::string& final_path, temp_registry* registry);
  ~staged_file();
  staged_file(const staged_file&) = delete;
  staged_file& operator=(const staged_file&) = delete;

  const std::string& temp_path() const { return temp_; }
  const std::string& final_path() const { return final_; }
  void commit();  // throws std::runtime_error naming the file when the rename fails

 private:
  std::string final_, temp_;
  temp_registry* registry_;
  bool committed_ = false;
};

}  // namespace dropix::products
