// The text sink: level filtering, the two routes (console, standard output), capture for
// tests and the system error text.
#include "report/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "report/json.h"

namespace {

constexpr uint64_t kProgressDelayMs = 1000;  // nothing shows during the first second
constexpr uint64_t kProgressPeriodMs = 250;  // redrawn at most four times a second

// Takes the progress line off the terminal, before other text or at the end.
void erase_progress(ReportProgress* progress) {
  if (progress->shown == 0) return;
  char blank[128];
  uint32_t n = progress->shown < sizeof blank - 2 ? progress->shown : sizeof blank - 2;
  blank[0] = '\r';
  std::memset(blank + 1, ' ', n);
  blank[n + 1] = '\r';
  platform_terminal_write(blank, n + 2);
  progress->shown = 0;
}

// "1.31 GB": bytes in decimal units, two decimals from kB on; `scale` picks the unit.
int format_bytes(char* out, size_t size, uint64_t bytes, uint64_t scale, int decimals) {
  static const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB"};
  int unit = 0;
  double divisor = 1;
  while (unit < 5 && scale >= 1000 * static_cast<uint64_t>(divisor)) {
    divisor *= 1000;
    unit++;
  }
  if (unit == 0) return std::snprintf(out, size, "%llu B", static_cast<unsigned long long>(bytes));
  return std::snprintf(out, size, "%.*f %s", decimals, static_cast<double>(bytes) / divisor, kUnits[unit]);
}

void draw_progress(ReportProgress* progress, uint64_t offset, uint64_t now) {
  char line[128];
  char done[32];
  char total[32];
  char speed[32];
  uint64_t elapsed = now - progress->start_ms;
  uint64_t read = offset > progress->start_offset ? offset - progress->start_offset : 0;
  uint64_t per_second = read * 1000 / elapsed;
  format_bytes(speed, sizeof speed, per_second, per_second, 1);
  int n = 0;
  if (progress->end > 0 && offset <= progress->end) {
    uint64_t percent = offset * 100 / progress->end;
    format_bytes(done, sizeof done, offset, progress->end, 2);
    format_bytes(total, sizeof total, progress->end, progress->end, 2);
    // Seconds left, rounded up; a minute or more in minutes.
    uint64_t left = per_second > 0 ? (progress->end - offset + per_second - 1) / per_second : 0;
    bool minutes = left >= 60;
    n = std::snprintf(line, sizeof line, "\r%4llu%%  %s of %s  %s/s  %llu %s left",
                      static_cast<unsigned long long>(percent), done, total, speed,
                      static_cast<unsigned long long>(minutes ? (left + 59) / 60 : left),
                      minutes ? "min" : "s");
  } else {
    format_bytes(done, sizeof done, offset, offset, 2);
    n = std::snprintf(line, sizeof line, "\r  %s  %s/s", done, speed);
  }
  if (n <= 1) return;
  uint32_t length = static_cast<uint32_t>(n) < sizeof line ? static_cast<uint32_t>(n) : sizeof line - 1;
  // A shorter line than the one shown covers the rest with spaces.
  uint32_t visible = length - 1;
  while (visible < progress->shown && length < sizeof line - 1) {
    line[length++] = ' ';
    visible++;
  }
  platform_terminal_write(line, length);
  progress->shown = visible;
  progress->last_ms = now;
}

void write_stdout(Report* r, const char* text, size_t length) {
  erase_progress(&r->progress);
  if (r->capture_out != nullptr) {
    r->capture_out->append(text, length);
    return;
  }
  if (r->to_standard_error) {
    std::fwrite(text, 1, length, stderr);  // unbuffered: nothing to flush
    return;
  }
  std::fwrite(text, 1, length, stdout);
  if (r->stdout_is_terminal < 0) r->stdout_is_terminal = platform_stdout_is_terminal() ? 1 : 0;
  if (r->stdout_is_terminal == 1) std::fflush(stdout);
}

void write_console(Report* r, const char* text, size_t length) {
  erase_progress(&r->progress);
  if (r->capture_console != nullptr) {
    r->capture_console->append(text, length);
    return;
  }
  platform_console_write(text, length);
}

void write_terminal(Report* r, const char* text, size_t length) {
  erase_progress(&r->progress);
  if (r->capture_console != nullptr) {
    r->capture_console->append(text, length);
    return;
  }
  platform_terminal_write(text, length);
}

// The document's bytes, given to its writer as its output.
void write_document(void* report, const char* text, size_t length) {
  write_stdout(static_cast<Report*>(report), text, length);
}

// ---- The document's messages ----

// Keeps the message's text without the line breaks around it, or counts it as left out.
void keep_message(Report* r, uint32_t level, const char* text, size_t length) {
  while (length > 0 && (*text == '\n' || *text == '\r')) {
    text++;
    length--;
  }
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' ')) {
    length--;
  }
  bool fits = r->message_store != nullptr && r->message_bytes + length + 2 <= kJsonMessageStoreBytes;
  if (!fits || (level != 0 && r->messages_kept >= kMaxJsonMessages)) {
    r->messages_left_out++;
    return;
  }
  char* at = r->message_store + r->message_bytes;
  at[0] = static_cast<char>(level);
  std::memcpy(at + 1, text, length);
  at[1 + length] = '\0';
  r->message_bytes += length + 2;
  if (level != 0) r->messages_kept++;
}

// ---- Formatting and routes ----

// Where a formatted text goes; `kept`: a warning or error, for the document.
typedef void (*Sink)(Report* r, const char* text, size_t length, uint32_t level, bool kept);

void to_stdout(Report* r, const char* text, size_t length, uint32_t, bool) { write_stdout(r, text, length); }

void to_console(Report* r, const char* text, size_t length, uint32_t, bool) {
  write_console(r, text, length);
}

void to_terminal(Report* r, const char* text, size_t length, uint32_t, bool) {
  write_terminal(r, text, length);
}

// A run with a document: level-0 text still reaches the console; warnings and errors are
// kept for the document.
void to_document(Report* r, const char* text, size_t length, uint32_t level, bool kept) {
  if (level == 0) write_console(r, text, length);
  if (kept) keep_message(r, level, text, length);
}

// Formats into a stack buffer, or a heap one for the rare longer message, and hands the
// text to `sink`.
TARVEL_PRINTF(5, 0)
void emit(Report* r, Sink sink, uint32_t level, bool kept, const char* format, va_list args) {
  char small[1024];
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (length < 0) return;
  if (static_cast<size_t>(length) < sizeof small) {
    sink(r, small, static_cast<size_t>(length), level, kept);
    return;
  }
  char* large = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (large == nullptr) return;
  std::vsnprintf(large, static_cast<size_t>(length) + 1, format, args);
  sink(r, large, static_cast<size_t>(length), level, kept);
  std::free(large);
}

}  // namespace

void report_vprint(Report* report, MessageKind kind, uint32_t level, const char* format, va_list args) {
  if (report->silent) return;
  bool kept = kind == kMessageWarning || kind == kMessageError;
  uint32_t shown_level = level == kLevelAlways ? 1 : level;
  if (report->document != nullptr) {
    // Whatever the verbosity: the text goes nowhere, the messages into the document.
    if (level != 0 && !kept) return;
    emit(report, to_document, shown_level, kept, format, args);
    return;
  }
  if (level != 0 && level != kLevelAlways && report->verbosity < level) return;
  emit(report, level == 0 ? to_console : to_stdout, shown_level, kept, format, args);
}

void print_at_level(Report* report, uint32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report_vprint(report, kMessageText, level, format, args);
  va_end(args);
}

void report_note(Report* report, uint32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report_vprint(report, kMessageNote, level, format, args);
  va_end(args);
}

void report_warning(Report* report, uint32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report_vprint(report, kMessageWarning, level, format, args);
  va_end(args);
}

void report_error(Report* report, uint32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report_vprint(report, kMessageError, level, format, args);
  va_end(args);
}

void print_always(Report* report, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report_vprint(report, kMessageText, kLevelAlways, format, args);
  va_end(args);
}

void print_prompt(Report* report, const char* format, ...) {
  va_list args;
  va_start(args, format);
  emit(report, to_terminal, 0, false, format, args);
  va_end(args);
}

const char* system_error_text(Report* report) {
  // The system's whole text first (the Windows one is longer), then what the report keeps.
  char text[1024];
  platform_error_text(platform_last_error(), text, sizeof text);
  size_t length = std::strlen(text);
  if (length >= sizeof report->error_text) length = sizeof report->error_text - 1;
  std::memcpy(report->error_text, text, length);
  report->error_text[length] = '\0';
  return report->error_text;
}

bool console_flush_stdout(const Report* report) {
  FILE* stream = report->to_standard_error ? stderr : stdout;
  return std::fflush(stream) == 0 && !std::ferror(stream);
}

bool report_progress_begin(Report* report, uint64_t offset, uint64_t end) {
  ReportProgress* progress = &report->progress;
  *progress = {};
  if (report->silent || report->verbosity > 1 || report->capture_console != nullptr ||
      !platform_console_is_terminal()) {
    return false;
  }
  progress->on = true;
  progress->start_ms = platform_monotonic_ms();
  progress->start_offset = offset;
  progress->end = end;
  return true;
}

void report_progress(Report* report, uint64_t offset) {
  ReportProgress* progress = &report->progress;
  if (!progress->on) return;
  uint64_t now = platform_monotonic_ms();
  if (now - progress->start_ms < kProgressDelayMs) return;
  if (progress->last_ms != 0 && now - progress->last_ms < kProgressPeriodMs) return;
  draw_progress(progress, offset, now);
}

void report_progress_end(Report* report) {
  erase_progress(&report->progress);
  report->progress = {};
}

void report_json_start(Report* report, JsonWriter* document) {
  report->document = document;
  // One store for the run's messages; without it every message counts as left out.
  std::free(report->message_store);
  report->message_store = static_cast<char*>(std::malloc(kJsonMessageStoreBytes));
  report->message_bytes = 0;
  report->messages_kept = 0;
  report->messages_left_out = 0;
  json_init(document, write_document, report);
  json_begin_object(document, nullptr);
}

namespace {

void json_message(JsonWriter* w, uint32_t level, const char* text) {
  json_begin_object(w, nullptr, kJsonOneLine);
  json_uint(w, "level", level);
  json_string(w, "text", text);
  json_end(w);
}

}  // namespace

void report_json_finish(Report* report, int status) {
  JsonWriter* w = report->document;
  if (w == nullptr) return;
  report->document = nullptr;
  while (w->skipped > 0 || w->depth > 1) json_end(w);
  json_begin_array(w, "messages");
  for (size_t at = 0; at < report->message_bytes;) {
    const char* text = report->message_store + at + 1;
    json_message(w, static_cast<uint8_t>(report->message_store[at]), text);
    at += std::strlen(text) + 2;
  }
  if (report->messages_left_out != 0) {
    char note[64];
    std::snprintf(note, sizeof note, "%llu more messages not listed.",
                  static_cast<unsigned long long>(report->messages_left_out));
    json_message(w, 1, note);
  }
  json_end(w);
  json_int(w, "status", status);
  json_end(w);
  std::free(report->message_store);
  report->message_store = nullptr;
  report->message_bytes = 0;
}
