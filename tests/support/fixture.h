// The unit-test fixture: each test has a session of its own on a scripted host, working in a
// fresh temporary directory (the settings file, the correction file and the error log live in
// the run's directory), with its error stream captured. The fixture's references name the
// session's state as the stages know it (`dec`, `store`, `wr`, ...).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kit/config.h"
#include "session/session.h"
#include "tests/support/fake_host.h"

namespace dropix::testing {

class dropix_test : public ::testing::Test {
 public:
  dropix_test();
  ~dropix_test() override;

  // Everything written to the error stream so far.
  std::string err_text() const;
  std::string dir() const { return dir_; }
  // The test's directory joined with a relative name.
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Brings the session back to its start-up state for a run on `raw_file` (the error stream,
  // the trace switches and the clock are kept).
  void new_run(const std::string& raw_file, bool calib = false, bool physical = false);

  std::string dir_;
  fake_host host;
  std::unique_ptr<session> sess;
  session& ses;
  diagnostics& diag;
  settings_state& settings;
  raw_state& raw;
  mp_state& mp;
  header_state& hdr;
  decode_state& dec;
  timing_state& timing;
  store_state& store;
  corr_tables_rec& corr_tables;
  writer_state& wr;

 private:
  std::FILE* err_ = nullptr;  // the captured error stream
};

// The fixture of the test that runs now.
dropix_test& current_test();

// Files in the current test's directory (or at an absolute path).
void write_file(const std::string& name, const std::string& text);
void write_bytes(const std::string& name, const std::vector<u8>& bytes);
std::vector<u8> read_bytes(const std::string& name);
std::string read_text(const std::string& name);
std::string test_path(const std::string& name);

// The three output files of a run on V26342_1.AB in the test's directory.
struct run_outputs {
  std::vector<u8> hyd, hd, abh;
  bool operator==(const run_outputs&) const = default;
};
run_outputs read_outputs();
void write_outputs(const run_outputs& o);
void remove_outputs();

using rawkit::corrfact_text;
using rawkit::settings_text;

// A settings file "DROPIX.SET" (both directories empty) and a flat "corrfact.dat".
void write_default_config();

// After a run_end caught in a test: ends the run as the session would (closes the files,
// and says on the screen when it failed).
void end_caught_run(int status);

}  // namespace dropix::testing

// Runs `stmt`, which must end the run with `expected_status`; the run is then finished as the
// session finishes it.
#define EXPECT_QUITS(stmt, expected_status)                                      \
  do {                                                                           \
    try {                                                                        \
      stmt;                                                                      \
      ADD_FAILURE() << #stmt " returned instead of ending the run";              \
    } catch (const ::dropix::run_end& q_) {                                      \
      EXPECT_EQ(static_cast<int>(q_.status), static_cast<int>(expected_status)) << #stmt; \
      ::dropix::testing::end_caught_run(static_cast<int>(q_.status));            \
    }                                                                            \
  } while (0)
