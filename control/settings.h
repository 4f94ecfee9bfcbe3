// The settings file "DROPIX.SET": one line per key, the key at the start of the line and the
// value, one word, from the 61st character on.
#pragma once

#include <string>

#include "common/diag.h"

namespace dropix {

// The two directories a run takes from its settings file.
struct settings_state {
  std::string hyd_path;  // directory of .hyd and .hd, with separator unless empty
  std::string raw_path;  // directory of .abh, with separator unless empty
};

// Looks `key` up in the settings file at `path` (first matching line wins, case-sensitive)
// and stores its value in `dest`; a missing file or key ends the run. rd_mp and rd_tk differ
// only in their messages.
void rd_mp(const std::string& path, const char* key, std::string& dest, diagnostics& d);
void rd_tk(const std::string& path, const char* key, std::string& dest, diagnostics& d);

// Appends the path separator unless the path is empty or already ends with one.
// Returns 1 when it appended, else 0.
int add_bslash(std::string& path);

void get_hyd_path(settings_state& s, const std::string& path, diagnostics& d);  // HYD_PATH
void get_raw_path(settings_state& s, const std::string& path, diagnostics& d);  // RAW_PATH

// The value of a settings line: the first word from offset 60, or empty.
std::string settings_value(const std::string& line);

// The matching mode the optional key MATCHING asks for: PHYSICAL (physical pairing) or
// OLDEST_FIRST (the default matching). A missing file or key is no request; any other value,
// an empty one included, is unknown and given back in *value. Never ends the run.
enum class matching_request { none, oldest_first, physical, unknown };
matching_request read_matching(const std::string& path, std::string* value);

// The line the run's start message gains in physical pairing.
extern const char* const physical_pairing_note;

}  // namespace dropix
