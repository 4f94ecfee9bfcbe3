#include "tests/support/fixture.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/fake_console.h"

namespace dropix::testing {

namespace {
void throwing_hook(int status) { throw quit_thrown{status}; }
}  // namespace

void dropix_test::SetUp() {
  char tmpl[] = "/tmp/dropix-test-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  dir_ = tmpl;
  old_cwd_ = std::filesystem::current_path().string();
  std::filesystem::current_path(dir_);
  reset_all_state();
  fake_console::reset();
  diag.trace_flag = 0;
  diag.obj_trace_flag = 0;
  diag.err = std::tmpfile();
  set_quit_hook(throwing_hook);
}

void dropix_test::TearDown() {
  clean_up();
  if (diag.err) std::fclose(diag.err);
  diag.err = nullptr;
  reset_all_state();
  set_quit_hook(nullptr);
  std::filesystem::current_path(old_cwd_);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string dropix_test::err_text() const {
  std::FILE* fp = diag.err;
  if (!fp) return {};
  std::fflush(fp);
  const long at = std::ftell(fp);
  std::rewind(fp);
  std::string out;
  int c;
  while ((c = std::fgetc(fp)) != EOF) out.push_back(static_cast<char>(c));
  std::fseek(fp, at, SEEK_SET);
  return out;
}

void write_file(const std::string& name, const std::string& text) {
  std::ofstream(name, std::ios::binary) << text;
}

void write_bytes(const std::string& name, const std::vector<u8>& bytes) {
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<u8> read_bytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string read_text(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_default_config() {
  write_file("DROPIX.SET", settings_text("", ""));
  write_file("corrfact.dat", corrfact_text(0.0));
}

}  // namespace dropix::testing
