// The settings file "DROPIX.SET": one line per key, the key at the start of the line and the
// value, one word, from the 61st character on.
#pragma once

#include <string>

namespace dropix {

// Looks `key` up in "DROPIX.SET" (first matching line wins, case-sensitive) and stores its
// value in `dest`; a missing file or key ends the run. rd_mp and rd_tk differ only in their
// messages.
void rd_mp(const char* key, std::string& dest);
void rd_tk(const char* key, std::string& dest);

// Appends the path separator unless the path is empty or already ends with one.
// Returns 1 when it appended, else 0.
int add_bslash(std::string& path);

void get_hyd_path();  // HYD_PATH into settings.hyd_path
void get_raw_path();  // RAW_PATH into settings.raw_path

// The value of a settings line: the first word from offset 60, or empty.
std::string settings_value(const std::string& line);

}  // namespace dropix
