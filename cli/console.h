// Console output: every message of the program passes through print_at_level, which
// decides from the message's level and the verbosity level whether and where it appears.
//
//   level 0   always shown, written to the console (the controlling terminal, else
//             standard error), so it stays visible when standard output is redirected
//   level 1-3 written to standard output when the verbosity level is at least the level
//
// Tests can capture both routes in memory with console_capture().
#ifndef TARVEL_CLI_CONSOLE_H_
#define TARVEL_CLI_CONSOLE_H_

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "vc1/header_buffer.h"

// Process-wide verbosity level, 0..3; 2 until the driver sets it from the options.
extern uint32_t g_verbosity;

void print_at_level(uint32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Standard-output text shown at every verbosity level (the header parser's
// "Invalid stream #%d" warning is the one message that ignores the level).
void print_always(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints the first count bytes as "%02x " groups, 24 to a line, then "\n\n" (level 2).
void dump_header_bytes(const HeaderBuffer* buffer);

// Creates the output named by output_path (see options.h). When it exists, asks on the
// console whether to overwrite it (one key, y/Y replaces it); the input file is never
// replaced. Returns the open file, or kInvalidFile after printing why (nothing is printed
// for the answer No).
PlatformFile open_output_file(PlatformFile input);

// The system's text for the last error, ending with a line break. The text lives in one
// process-wide buffer that the next lookup overwrites.
const char* system_error_text();

// Sends level-0 text to `console` and standard-output text to `out` instead of the real
// devices, until console_capture(nullptr, nullptr). For tests.
void console_capture(std::string* console, std::string* out);

// Flushes standard output; returns false when it cannot be written.
bool console_flush_stdout();

#endif  // TARVEL_CLI_CONSOLE_H_
