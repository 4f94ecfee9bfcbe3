// The banner and the error log that every run begins with.
#pragma once

#include <cstdio>
#include <string>

#include "platform/host.h"

namespace dropix {

// Clears the screen, shows the banner and, on a terminal, pauses one to two seconds (cut
// short by a stop signal).
void banner(host& h);

// Opens the error log "DROPIX.ERR" in `dir` for appending (unbuffered, so every message is
// in the file at once) and writes the start line with the time `now`, followed by `note`
// when one is given. When the log cannot be opened a console line says so and nothing is
// returned: messages then stay on the screen.
std::FILE* open_error_log(host& h, const std::string& dir, s64 now, const char* note = nullptr);

}  // namespace dropix
