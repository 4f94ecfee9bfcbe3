// The unit-test fixture: each test runs in a fresh temporary directory (the settings file,
// the correction file and the error log live in the current directory), with every module
// reset, the error stream captured, and a quit hook that throws instead of ending the process.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/dropix.h"
#include "control/quit.h"
#include "kit/config.h"

namespace dropix::testing {

// Thrown by the test quit hook.
struct quit_thrown {
  int status;
};

class dropix_test : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Everything written to the error stream so far.
  std::string err_text() const;
  std::string dir() const { return dir_; }

 private:
  std::string dir_;
  std::string old_cwd_;
};

// Files in the current (temporary) directory.
void write_file(const std::string& name, const std::string& text);
void write_bytes(const std::string& name, const std::vector<u8>& bytes);
std::vector<u8> read_bytes(const std::string& name);
std::string read_text(const std::string& name);

using rawkit::corrfact_text;
using rawkit::settings_text;

// A settings file "DROPIX.SET" (both directories empty) and a flat "corrfact.dat".
void write_default_config();

}  // namespace dropix::testing

// Runs `stmt`, which must end the program through quit() with `expected_status`.
#define EXPECT_QUITS(stmt, expected_status)                                              \
  do {                                                                          \
    try {                                                                       \
      stmt;                                                                     \
      ADD_FAILURE() << #stmt " returned instead of ending the program";         \
    } catch (const ::dropix::testing::quit_thrown& q_) {                        \
      EXPECT_EQ(q_.status, static_cast<int>(expected_status)) << #stmt;                  \
    }                                                                           \
  } while (0)
