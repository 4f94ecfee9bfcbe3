// The platform layer: everything DROPIX needs from the operating system besides standard C
// streams. Console, clock and signals (console_posix.cpp) are what a test cannot control, so
// tests link a scripted stand-in instead; the file-system helpers (files_posix.cpp) are real
// everywhere.
#pragma once

#include <cstdio>
#include <string>

#include "common/formats.h"

namespace dropix::platform {

// ---- console, clock, signals -------------------------------------------------------------
bool out_is_terminal();  // standard output is a terminal: escape sequences and the banner pause
bool in_is_terminal();   // standard input is a terminal: keys are polled

void clear_screen();                // clears the terminal and homes the cursor
void move_cursor(int col, int row); // both counted from 0
void clear_to_line_end();

// Returns -1 when no key is waiting, else the key read without echo (27 = Escape).
// The escape sequences of cursor and function keys are consumed and never read as Escape.
int poll_key();

void terminal_begin();    // non-canonical, no-echo input on a terminal
void terminal_restore();  // puts the terminal back; safe to call more than once

void sleep_ms(unsigned ms);  // returns early when a stop signal arrives
s64 clock_seconds();         // wall clock in whole seconds since 1970
u64 monotonic_ms();

void install_signal_handlers();  // Ctrl-C (SIGINT) and SIGTERM ask the run to stop
int stop_signal();               // 0, or the number of the stop signal received

// ---- file system -------------------------------------------------------------------------
char path_separator();
bool is_separator(char c);
bool file_exists(const std::string& path);
bool is_directory(const std::string& path);
int seek64(std::FILE* fp, s64 offset, int whence);  // 0 on success
s64 tell64(std::FILE* fp);                           // -1 on failure
int file_sync(std::FILE* fp);                        // flushes and syncs; 0 on success
int truncate_file(std::FILE* fp, s64 length);        // 0 on success
void use_utc();                                      // every time conversion is UTC

}  // namespace dropix::platform
