// The program's one text sink: every message passes through print_at_level, which decides
// from the message's level and the verbosity level whether and where it appears.
//
//   level 0   always shown, written once to standard error, so it stays visible when
//             standard output is redirected, goes where `2>` sends it and reaches the logs
//   level 1-3 written to standard output when the verbosity level is at least the level
//
// This module sits below every other one of the program: it knows the platform layer and
// nothing else. Tests can capture both routes in memory with console_capture().
#ifndef TARVEL_REPORT_REPORT_H_
#define TARVEL_REPORT_REPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>

struct JsonWriter;

#if defined(__GNUC__) || defined(__clang__)
#define TARVEL_PRINTF(format_index, first_arg) __attribute__((format(printf, format_index, first_arg)))
#else
#define TARVEL_PRINTF(format_index, first_arg)
#endif

// The verbosity level, 0..3: 2 until a run sets it from its options.
constexpr uint32_t kDefaultVerbosity = 2;
uint32_t report_verbosity();
void report_set_verbosity(uint32_t level);

void print_at_level(uint32_t level, const char* format, ...) TARVEL_PRINTF(2, 3);

// The overwrite prompt and the answer typed: written to the controlling terminal (the
// console), where the key is read, and nowhere else; dropped without a terminal. Tests'
// capture takes it with the level-0 text.
void print_prompt(const char* format, ...) TARVEL_PRINTF(1, 2);

// Standard-output text shown at every verbosity level (the header parser's
// "Invalid stream #%d" warning is the one message that ignores the level).
void print_always(const char* format, ...) TARVEL_PRINTF(1, 2);

// The system's text for the last recorded platform error, ending with a line break. The
// text lives in one buffer that the next lookup overwrites.
const char* system_error_text();

// While silent, print_at_level and print_always drop every message, whatever its level: for
// a pass over input whose findings are kept but whose report was already given.
void report_set_silent(bool on);

// Sends level-0 text to `console` and standard-output text to `out` instead of the real
// devices, until console_capture(nullptr, nullptr). For tests.
void console_capture(std::string* console, std::string* out);

// Sends the standard-output text (levels 1-3 and print_always) to standard error instead,
// for a run whose elementary stream itself goes to standard output (false: back again).
void report_use_standard_error(bool on);

// Forgets what was learnt about the terminal (whether standard output is one), so that a
// new run in the same process asks again.
void report_reset_terminal_state();

// Flushes the stream the report goes to; returns false when it cannot be written.
bool console_flush_stdout();

// Progress of a long conversion: one line on the terminal, such as
// "  41%  1.31 GB of 3.20 GB  1.9 GB/s  1 s left", from the input offset reached against
// the offset where the input's data ends (0: not known, then only bytes and speed show).
// It shows only when level-0 text goes to a terminal and the verbosity is 0 or 1, from one
// second after report_progress_begin on, rewritten at most four times a second; it is
// erased before any other text goes out, and by report_progress_end. It never goes to
// standard output, to a standard error that is not the terminal, or to a capture.
// report_progress_begin returns false when it will not show: report_progress is then
// not worth calling.
bool report_progress_begin(uint64_t offset, uint64_t end);
void report_progress(uint64_t offset);
void report_progress_end();

// ---- The report for programs (--json) ----------------------------------------------------
//
// From report_json_start on, the run's report is a JSON document that the run writes
// through `document`: the standard-output text (levels 1-3, print_always) is no longer
// written, level-0 text still goes to the console, and every warning and error (a line
// that begins "Warning:" or "Error:", also behind "-- " marks, and the lines "Error
// writing ...", "Unable to ...", "Not Recognized ...", "Invalid stream ...", "... exists;
// not overwritten ...") is kept for
// the document's "messages", whatever the verbosity: every one of level 0, and the first
// kMaxJsonMessages of the other levels, within kJsonMessageStoreBytes of text. One more
// message then says how many were left out.
constexpr uint32_t kMaxJsonMessages = 1000;
constexpr uint32_t kJsonMessageStoreBytes = 128 * 1024;

// Opens the document (its top-level object) in `document`, which the run owns and keeps
// until report_json_finish.
void report_json_start(JsonWriter* document);

// Ends the document: closes whatever is open inside its top-level object, writes
// "messages" and "status", closes it and writes it out. The text report is back after it.
// Nothing when no document was started.
void report_json_finish(int status);

// Standard-output bytes as they are, whatever the verbosity: the document's text.
void print_document(const char* text, size_t length);

#endif  // TARVEL_REPORT_REPORT_H_
