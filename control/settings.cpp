#include "control/settings.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/files.h"

namespace dropix {

namespace {
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

void lookup(const std::string& path, const char* key, std::string& dest, const lookup_messages& msg, diagnostics& d) {
  std::FILE* fp = std::fopen(path.c_str(), "r");
  if (!fp) {
    report_errno(d, msg.open_tag);
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
    err_printf(d, msg.not_found, key);
    quit(exit_status::failure);
  }
  dest = settings_value(line);
  if (std::fclose(fp) != 0) report_errno(d, msg.close_tag);
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

matching_request read_matching(const std::string& path, std::string* value) {
  std::FILE* fp = std::fopen(path.c_str(), "r");
  if (!fp) return matching_request::none;
  static constexpr char key[] = "MATCHING";
  std::string line;
  bool found = false;
  while (read_line(fp, line)) {
    if (line.compare(0, sizeof key - 1, key) == 0) {
      found = true;
      break;
    }
  }
  std::fclose(fp);
  if (!found) return matching_request::none;
  const std::string v = settings_value(line);
  if (value) *value = v;
  if (v == "PHYSICAL") return matching_request::physical;
  if (v == "OLDEST_FIRST") return matching_request::oldest_first;
  return matching_request::unknown;
}

const char* const physical_pairing_note = "QX5 matching: physical pairing\n";

void rd_mp(const std::string& path, const char* key, std::string& dest, diagnostics& d) {
  lookup(path, key, dest, {"rd_mp: DROPIX.SET ? ", "rd_mp: could not find %s \n", "rd_mp81"}, d);
}

void rd_tk(const std::string& path, const char* key, std::string& dest, diagnostics& d) {
  lookup(path, key, dest, {" rd_tak01: DROPIX.SET ? ", "rd_tk: could not find %s \n", "rd_tak81"}, d);
}

int add_bslash(std::string& path) {
  if (path.empty() || is_separator(path.back())) return 0;
  path.push_back(path_separator());
  return 1;
}

void get_hyd_path(settings_state& s, const std::string& path, diagnostics& d) {
  rd_mp(path, "HYD_PATH", s.hyd_path, d);
  add_bslash(s.hyd_path);
}

void get_raw_path(settings_state& s, const std::string& path, diagnostics& d) {
  rd_tk(path, "RAW_PATH", s.raw_path, d);
  add_bslash(s.raw_path);
}

}  // namespace dropix
