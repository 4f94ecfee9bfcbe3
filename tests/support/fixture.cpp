#include "tests/support/fixture.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace dropix::testing {

namespace {
// The fixture of the test that runs now: the file helpers resolve names in its directory.
dropix_test* g_current = nullptr;
std::string g_dir;

std::string make_dir() {
  char tmpl[] = "/tmp/dropix-test-XXXXXX";
  const char* d = ::mkdtemp(tmpl);
  return d ? std::string(d) : std::string("/tmp");
}
}  // namespace

std::string test_path(const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  return g_dir + "/" + name;
}

run_outputs read_outputs() {
  return {read_bytes("V26342_1.hyd"), read_bytes("V26342_1.hd"), read_bytes("V26342_1.abh")};
}

void write_outputs(const run_outputs& o) {
  write_bytes("V26342_1.hyd", o.hyd);
  write_bytes("V26342_1.hd", o.hd);
  write_bytes("V26342_1.abh", o.abh);
}

void remove_outputs() {
  for (const char* f : {"V26342_1.hyd", "V26342_1.hd", "V26342_1.abh"}) std::filesystem::remove(test_path(f));
}

dropix_test::dropix_test()
    : dir_(make_dir()),
      sess(std::make_unique<session>(host, run_options{false, false, "", dir_})),
      ses(*sess),
      diag(ses.diag),
      settings(ses.settings),
      raw(ses.raw),
      mp(ses.mp),
      hdr(ses.hdr),
      dec(ses.dec),
      timing(ses.timing),
      store(ses.store),
      corr_tables(ses.corr_tables),
      wr(ses.wr) {
  g_current = this;
  g_dir = dir_;
  err_ = std::tmpfile();
  diag.err = err_;
  diag.trace_flag = 0;
  diag.obj_trace_flag = 0;
}

dropix_test::~dropix_test() {
  ses.clean_up();
  if (err_) std::fclose(err_);
  g_current = nullptr;
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void dropix_test::new_run(const std::string& raw_file, bool calib, bool physical) {
  const s16 trace = diag.trace_flag, obj_trace = diag.obj_trace_flag;
  ses.reset(run_options{false, calib, raw_file, dir_, physical});
  diag.err = err_;
  diag.trace_flag = trace;
  diag.obj_trace_flag = obj_trace;
}

std::string dropix_test::err_text() const {
  std::FILE* fp = err_;
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

dropix_test& current_test() { return *g_current; }

void end_caught_run(int status) {
  if (g_current) g_current->ses.finish(static_cast<exit_status>(status));
}

void write_file(const std::string& name, const std::string& text) {
  std::ofstream(test_path(name), std::ios::binary) << text;
}

void write_bytes(const std::string& name, const std::vector<u8>& bytes) {
  std::ofstream(test_path(name), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<u8> read_bytes(const std::string& name) {
  std::ifstream in(test_path(name), std::ios::binary);
  return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string read_text(const std::string& name) {
  std::ifstream in(test_path(name), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_default_config() {
  write_file("DROPIX.SET", settings_text("", ""));
  write_file("corrfact.dat", corrfact_text(0.0));
}

}  // namespace dropix::testing
