// Shared set-up of the end-to-end tests: a fresh directory per test with a settings file and
// a correction file, and the real executable run in it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/formats.h"
#include "kit/config.h"
#include "kit/rawbuild.h"
#include "tests/support/run_program.h"

namespace dropix::e2e {

class e2e_test : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const;
  void write(const std::string& name, const std::vector<u8>& bytes) const;
  std::string text(const std::string& name) const;
  std::vector<u8> bytes(const std::string& name) const;
  bool exists(const std::string& name) const;

  testing::run_result run(const std::vector<std::string>& args) const {
    return testing::run_dropix(args, dir_);
  }

  std::string dir_;
};

// The settings and correction files of the kit.
inline std::string settings(const std::string& hyd_path, const std::string& raw_path) {
  return rawkit::settings_text(hyd_path, raw_path);
}
inline std::string corrfact(double pct) { return rawkit::corrfact_text(pct); }

}  // namespace dropix::e2e
