#include "tests/e2e/e2e_support.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace dropix::e2e {

void e2e_test::SetUp() {
  char tmpl[] = "/tmp/dropix-e2e-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  dir_ = tmpl;
  write("DROPIX.SET", settings("", ""));
  write("corrfact.dat", corrfact(0.0));
}

void e2e_test::TearDown() {
  std::error_code ec;
  if (!HasFailure()) std::filesystem::remove_all(dir_, ec);
}

void e2e_test::write(const std::string& name, const std::string& t) const {
  std::ofstream(path(name), std::ios::binary) << t;
}

void e2e_test::write(const std::string& name, const std::vector<u8>& b) const {
  std::ofstream(path(name), std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::string e2e_test::text(const std::string& name) const {
  std::ifstream in(path(name), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<u8> e2e_test::bytes(const std::string& name) const {
  std::ifstream in(path(name), std::ios::binary);
  return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool e2e_test::exists(const std::string& name) const { return std::filesystem::exists(path(name)); }

}  // namespace dropix::e2e
