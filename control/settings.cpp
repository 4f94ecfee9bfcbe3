#include "control/settings.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "common/dropix.h"
#include "control/diag.h"
#include "control/quit.h"
#include "platform/platform.h"

namespace dropix {

namespace {
constexpr const char* settings_file = "DROPIX.SET";
constexpr std::size_t value_column = 60;

struct lookup_messages {
  const char* open_tag;
  const char* not_found;
  const char* close_tag;
};

// Reads one whole line, however long, without its line end. False at the end of the file.
bool read_line(std::FILE* fp, std::string& line) {
  line.clear();
  int c;
  while ((c = std::fgetc(fp)) != EOF) {
    if (c == '\n') return true;
    line.push_back(static_cast<char>(c));
  }
  return !line.empty();
}

void lookup(const char* key, std::string& dest, const lookup_messages& msg) {
  std::FILE* fp = std::fopen(settings_file, "r");
  if (!fp) {
    report_errno(msg.open_tag);
    quit(exit_status::failure);
  }
  const std::size_t key_len = std::strlen(key);
  std::string line;
  bool found = false;
  while (read_line(fp, line)) {
    if (line.compare(0, key_len, key) == 0) {
      found = true;
      break;
    }
  }
  if (!found) {
    std::fclose(fp);
    err_printf(msg.not_found, key);
    quit(exit_status::failure);
  }
  dest = settings_value(line);
  if (std::fclose(fp) != 0) report_errno(msg.close_tag);
}
}  // namespace

std::string settings_value(const std::string& line) {
  if (line.size() <= value_column) return {};
  std::size_t b = value_column;
  auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (b < line.size() && blank(line[b])) ++b;
  std::size_t e = b;
  while (e < line.size() && !blank(line[e])) ++e;
  return line.substr(b, e - b);
}

void rd_mp(const char* key, std::string& dest) {
  lookup(key, dest, {"rd_mp: DROPIX.SET ? ", "rd_mp: could not find %s \n", "rd_mp81"});
}

void rd_tk(const char* key, std::string& dest) {
  lookup(key, dest, {" rd_tak01: DROPIX.SET ? ", "rd_tk: could not find %s \n", "rd_tak81"});
}

int add_bslash(std::string& path) {
  if (path.empty() || platform::is_separator(path.back())) return 0;
  path.push_back(platform::path_separator());
  return 1;
}

void get_hyd_path() {
  rd_mp("HYD_PATH", settings.hyd_path);
  add_bslash(settings.hyd_path);
}

void get_raw_path() {
  rd_tk("RAW_PATH", settings.raw_path);
  add_bslash(settings.raw_path);
}

}  // namespace dropix
