// Fuzz target of a whole run: arbitrary bytes as a raw file, processed by a session in a
// directory of its own, with the kit's settings and correction file.
//
// Properties, in either matching mode: nothing crashes or reads outside its buffers (the
// sanitizers); the run ends with status 0 or 1; and a second run on the same raw file leaves
// the three output files as the first left them. The last property is checked for recordings
// as a logger writes them: one line frequency, and every main header block before the line
// blocks whose lines it governs. Otherwise a resumed run, which knows the stored headers from
// its start, times and evaluates some blocks with a header the first run met only after them.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "kit/config.h"
#include "session/session.h"

namespace {

using namespace dropix;
namespace fs = std::filesystem;

// A host without a terminal: nothing is shown, no key is pressed, and the clock moves on a
// second every few readings so that timed flushes happen.
class quiet_host final : public host {
 public:
  void write(std::string_view) override {}
  bool out_is_terminal() override { return false; }
  bool in_is_terminal() override { return false; }
  void clear_screen() override {}
  void move_cursor(int, int) override {}
  void clear_to_line_end() override {}
  int poll_key() override { return -1; }
  void terminal_begin() override {}
  void terminal_restore() override {}
  void sleep_ms(unsigned) override {}
  s64 clock_seconds() override { return 1700000000 + reads_++ / 7; }
  u64 monotonic_ms() override { return 0; }
  int stop_signal() override { return 0; }

 private:
  s64 reads_ = 0;
};

[[noreturn]] void violated(const std::string& what) {
  std::fprintf(stderr, "session_fuzz: %s\n", what.c_str());
  std::abort();
}

const std::string& work_dir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/dropix-fuzz-XXXXXX";
    if (!::mkdtemp(tmpl)) violated("no scratch directory");
    const std::string d = tmpl;
    rawkit::write_text(d + "/DROPIX.SET", rawkit::settings_text("out/", "out/"));
    rawkit::write_text(d + "/corrfact.dat", rawkit::corrfact_text(1.5));
    return d;
  }();
  return dir;
}

std::vector<char> contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// True when the raw file is not as a logger writes it: its main header blocks give more than
// one line frequency, or a header block comes after a line block whose first line it governs
// (or after any line block at all, when it is the first header).
bool unlike_a_logger(const std::uint8_t* data, std::size_t size) {
  std::size_t at = 0;
  bool header_seen = false;
  f64 line_fr = 0;
  f64 latest_line = -1;  // first line of the latest line block so far (-1: none yet)
  while (at + block_fmt::size <= size) {
    const s16 ident = get_s16(data + at);
    const s16 n = get_s16(data + at + 2);
    if (n < 0) break;
    const std::uint8_t* body = data + at + block_fmt::size;
    const std::size_t room = size - at - block_fmt::size;
    if (ident == ident_main_header && n >= static_cast<s16>(hd_par_fmt::size) && room >= hd_par_fmt::size) {
      const hd_par h = decode_hd_par(body);
      if (header_seen && std::memcmp(&h.line_fr, &line_fr, sizeof line_fr) != 0) return true;
      if (!header_seen && latest_line >= 0) return true;
      if (latest_line >= static_cast<f64>(h.valid_since % 86400) * h.line_fr) return true;
      header_seen = true;
      line_fr = h.line_fr;
    } else if ((ident == ident_camera_a || ident == ident_camera_b) && n >= 14 && room >= 14) {
      latest_line = std::max(latest_line, get_f64(body + 6));
    }
    at += block_fmt::size + static_cast<std::size_t>(n);
  }
  return false;
}

int run_once(bool physical) {
  quiet_host h;
  auto s = std::make_unique<session>(h, run_options{false, false, "V26342_1.AB", work_dir(), physical});
  return s->run();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& dir = work_dir();
  {
    std::ofstream raw(dir + "/V26342_1.AB", std::ios::binary);
    raw.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  for (const bool physical : {false, true}) {
    const std::string mode = physical ? " (physical pairing)" : "";
    fs::remove_all(dir + "/out");
    fs::remove(dir + "/DROPIX.ERR");
    fs::create_directory(dir + "/out");
    const int first = run_once(physical);
    if (first != 0 && first != 1) violated("the first run ended with status " + std::to_string(first) + mode);
    const char* names[] = {"/out/V26342_1.hyd", "/out/V26342_1.hd", "/out/V26342_1.abh"};
    std::vector<std::vector<char>> after_first;
    for (const char* n : names) after_first.push_back(contents(dir + n));
    if (unlike_a_logger(data, size)) continue;
    const int second = run_once(physical);
    if (second != first)
      violated("the rerun ended with status " + std::to_string(second) + ", the first run with " +
               std::to_string(first) + mode);
    for (std::size_t i = 0; i < std::size(names); ++i)
      if (contents(dir + names[i]) != after_first[i]) violated(std::string("the rerun changed ") + names[i] + mode);
  }
  return 0;
}
