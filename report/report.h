// The program's one text sink: every message passes through report_vprint, which decides
// from the message's level and the verbosity level whether and where it appears.
//
//   level 0   always shown, written once to standard error, so it stays visible when
//             standard output is redirected, goes where `2>` sends it and reaches the logs
//   level 1-3 written to standard output when the verbosity level is at least the level
//
// Everything it knows lives in the run's Report, which every function that prints is
// given. This module sits below every other one of the program: it knows the platform
// layer and nothing else. Tests capture both routes in memory through a Report's capture
// strings.
#ifndef TARVEL_REPORT_REPORT_H_
#define TARVEL_REPORT_REPORT_H_

#include <cstdarg>
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

// The level of standard-output text shown at every verbosity level (the header parser's
// "Invalid stream #%d" warning is the one message that ignores the level); in a document it
// counts as level 1.
constexpr uint32_t kLevelAlways = 4;

// What a message is, said where it is raised: warnings and errors go into the document's
// "messages", text and notes only into the text report.
enum MessageKind : uint8_t {
  kMessageText = 0,
  kMessageNote = 1,
  kMessageWarning = 2,
  kMessageError = 3,
};

// The progress line: what it measures, and how much of the terminal's line it covers now.
struct ReportProgress {
  bool on;
  uint64_t start_ms;
  uint64_t last_ms;  // when it was last drawn; 0: not yet
  uint64_t start_offset;
  uint64_t end;
  uint32_t shown;  // characters on the line, 0 when nothing is shown
};

// The report of one run: where its text goes and what it has shown. The run owns it and
// hands it down to whatever prints; two of them in one process share nothing.
struct Report {
  uint32_t verbosity = kDefaultVerbosity;
  // While silent, every message is dropped, whatever its level: for a pass over input whose
  // findings are kept but whose report was already given.
  bool silent = false;
  // The standard-output text (levels 1-3, kLevelAlways) goes to standard error instead, for
  // a run whose elementary stream itself goes to standard output.
  bool to_standard_error = false;
  // Not null: level-0 text (and the prompt) and standard-output text are appended here
  // instead of reaching the devices. For tests.
  std::string* capture_console = nullptr;
  std::string* capture_out = nullptr;
  // -1 until asked, then 0 or 1: whether standard output is the terminal, in which case it
  // is flushed after every message so that it interleaves with level-0 text in order.
  int stdout_is_terminal = -1;
  ReportProgress progress = {};
  // The run's JSON document while one is written, and the warnings and errors kept for it:
  // one after the other, the level as one byte, the text, a zero byte.
  JsonWriter* document = nullptr;
  char* message_store = nullptr;  // kJsonMessageStoreBytes, held from report_json_start
  size_t message_bytes = 0;
  uint32_t messages_kept = 0;  // of levels 1-3
  uint64_t messages_left_out = 0;
  char error_text[256] = {};  // system_error_text's
};

// A message of `kind` at `level` (0..3 or kLevelAlways).
void report_vprint(Report* report, MessageKind kind, uint32_t level, const char* format, va_list args)
    TARVEL_PRINTF(4, 0);

void print_at_level(Report* report, uint32_t level, const char* format, ...) TARVEL_PRINTF(3, 4);
void report_note(Report* report, uint32_t level, const char* format, ...) TARVEL_PRINTF(3, 4);
void report_warning(Report* report, uint32_t level, const char* format, ...) TARVEL_PRINTF(3, 4);
void report_error(Report* report, uint32_t level, const char* format, ...) TARVEL_PRINTF(3, 4);

// Standard-output text shown at every verbosity level: text at kLevelAlways.
void print_always(Report* report, const char* format, ...) TARVEL_PRINTF(2, 3);

// The overwrite prompt and the answer typed: written to the controlling terminal (the
// console), where the key is read, and nowhere else; dropped without a terminal. A capture
// takes it with the level-0 text.
void print_prompt(Report* report, const char* format, ...) TARVEL_PRINTF(2, 3);

// The system's text for the last recorded platform error, ending with a line break. The
// text lives in the report's buffer, which the next lookup overwrites.
const char* system_error_text(Report* report);

// Flushes the stream the report goes to; returns false when it cannot be written.
bool console_flush_stdout(const Report* report);

// Progress of a long conversion: one line on the terminal, such as
// "  41%  1.31 GB of 3.20 GB  1.9 GB/s  1 s left", from the input offset reached against
// the offset where the input's data ends (0: not known, then only bytes and speed show).
// It shows only when level-0 text goes to a terminal and the verbosity is 0 or 1, from one
// second after report_progress_begin on, rewritten at most four times a second; it is
// erased before any other text goes out, and by report_progress_end. It never goes to
// standard output, to a standard error that is not the terminal, or to a capture.
// report_progress_begin returns false when it will not show: report_progress is then
// not worth calling.
bool report_progress_begin(Report* report, uint64_t offset, uint64_t end);
void report_progress(Report* report, uint64_t offset);
void report_progress_end(Report* report);

// ---- The report for programs (--json) ----------------------------------------------------
//
// From report_json_start on, the run's report is a JSON document that the run writes
// through `document`: the standard-output text (levels 1-3, kLevelAlways) is no longer
// written, level-0 text still goes to the console, and every warning and error is kept for
// the document's "messages", whatever the verbosity: every one of level 0, and the first
// kMaxJsonMessages of the other levels, within kJsonMessageStoreBytes of text. One more
// message then says how many were left out.
constexpr uint32_t kMaxJsonMessages = 1000;
constexpr uint32_t kJsonMessageStoreBytes = 128 * 1024;

// Opens the document (its top-level object) in `document`, which the run owns and keeps
// until report_json_finish; the document's bytes go where the standard-output text would.
void report_json_start(Report* report, JsonWriter* document);

// Ends the document: closes whatever is open inside its top-level object, writes
// "messages" and "status", closes it and writes it out. The text report is back after it.
// Nothing when no document was started.
void report_json_finish(Report* report, int status);

#endif  // TARVEL_REPORT_REPORT_H_
