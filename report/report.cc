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

uint32_t g_verbosity = kDefaultVerbosity;
bool g_silent = false;
FILE* g_report_stream = nullptr;  // standard output unless the stream itself goes there
std::string* g_capture_console = nullptr;
std::string* g_capture_out = nullptr;
char g_error_text[256];

// -1 until asked, then 0 or 1: whether standard output is the terminal, in which case it
// is flushed after every message so that it interleaves with level-0 text in order.
int g_stdout_is_terminal = -1;

// The progress line: what it measures, and how much of the terminal's line it covers now.
struct Progress {
  bool on;
  uint64_t start_ms;
  uint64_t last_ms;  // when it was last drawn; 0: not yet
  uint64_t start_offset;
  uint64_t end;
  uint32_t shown;  // characters on the line, 0 when nothing is shown
};
Progress g_progress = {};

constexpr uint64_t kProgressDelayMs = 1000;  // nothing shows during the first second
constexpr uint64_t kProgressPeriodMs = 250;  // redrawn at most four times a second

// Takes the progress line off the terminal, before other text or at the end.
void erase_progress() {
  if (g_progress.shown == 0) return;
  char blank[128];
  uint32_t n = g_progress.shown < sizeof blank - 2 ? g_progress.shown : sizeof blank - 2;
  blank[0] = '\r';
  std::memset(blank + 1, ' ', n);
  blank[n + 1] = '\r';
  platform_terminal_write(blank, n + 2);
  g_progress.shown = 0;
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

void draw_progress(uint64_t offset, uint64_t now) {
  char line[128];
  char done[32];
  char total[32];
  char speed[32];
  uint64_t elapsed = now - g_progress.start_ms;
  uint64_t read = offset > g_progress.start_offset ? offset - g_progress.start_offset : 0;
  uint64_t per_second = read * 1000 / elapsed;
  format_bytes(speed, sizeof speed, per_second, per_second, 1);
  int n = 0;
  if (g_progress.end > 0 && offset <= g_progress.end) {
    uint64_t percent = offset * 100 / g_progress.end;
    format_bytes(done, sizeof done, offset, g_progress.end, 2);
    format_bytes(total, sizeof total, g_progress.end, g_progress.end, 2);
    // Seconds left, rounded up; a minute or more in minutes.
    uint64_t left = per_second > 0 ? (g_progress.end - offset + per_second - 1) / per_second : 0;
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
  while (visible < g_progress.shown && length < sizeof line - 1) {
    line[length++] = ' ';
    visible++;
  }
  platform_terminal_write(line, length);
  g_progress.shown = visible;
  g_progress.last_ms = now;
}

void write_stdout(const char* text, size_t length) {
  erase_progress();
  if (g_capture_out != nullptr) {
    g_capture_out->append(text, length);
    return;
  }
  if (g_report_stream == stderr) {
    std::fwrite(text, 1, length, stderr);  // unbuffered: nothing to flush
    return;
  }
  std::fwrite(text, 1, length, stdout);
  if (g_stdout_is_terminal < 0) g_stdout_is_terminal = platform_stdout_is_terminal() ? 1 : 0;
  if (g_stdout_is_terminal == 1) std::fflush(stdout);
}

void write_console(const char* text, size_t length) {
  erase_progress();
  if (g_capture_console != nullptr) {
    g_capture_console->append(text, length);
    return;
  }
  platform_console_write(text, length);
}

void write_terminal(const char* text, size_t length) {
  erase_progress();
  if (g_capture_console != nullptr) {
    g_capture_console->append(text, length);
    return;
  }
  platform_terminal_write(text, length);
}

// ---- The document's messages ----

JsonWriter* g_document = nullptr;  // the run's JSON document while one is written

// Kept messages, one after the other: the level as one byte, the text, a zero byte.
char g_message_store[kJsonMessageStoreBytes];
size_t g_message_bytes = 0;
uint32_t g_messages_kept = 0;  // of levels 1-3
uint64_t g_messages_left_out = 0;

// An existing file that is not replaced for want of a terminal to ask on.
constexpr char kNotOverwritten[] = " exists; not overwritten ";

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

const char* after_line_breaks(const char* text) {
  while (*text == '\n') text++;
  return text;
}

// Whether a format can give a warning or an error: a cheap look before any formatting.
bool may_be_message(const char* format) {
  const char* text = after_line_breaks(format);
  return std::strstr(text, "Error") != nullptr || std::strstr(text, "Warning") != nullptr ||
         starts_with(text, "Unable") || starts_with(text, "Not Recognized") ||
         starts_with(text, "Invalid stream") || std::strstr(text, kNotOverwritten) != nullptr;
}

bool is_message(const char* text) {
  text = after_line_breaks(text);
  if (starts_with(text, "Error writing ") || starts_with(text, "Unable to ") ||
      starts_with(text, "Not Recognized ") || starts_with(text, "Invalid stream ") ||
      std::strstr(text, kNotOverwritten) != nullptr) {
    return true;
  }
  while (starts_with(text, "-- ")) text += 3;
  return starts_with(text, "Warning:") || starts_with(text, "Error:");
}

// Keeps the message's text without the line breaks around it, or counts it as left out.
void keep_message(uint32_t level, const char* text, size_t length) {
  while (length > 0 && (*text == '\n' || *text == '\r')) {
    text++;
    length--;
  }
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' ')) {
    length--;
  }
  bool fits = g_message_bytes + length + 2 <= sizeof g_message_store;
  if (!fits || (level != 0 && g_messages_kept >= kMaxJsonMessages)) {
    g_messages_left_out++;
    return;
  }
  g_message_store[g_message_bytes] = static_cast<char>(level);
  std::memcpy(g_message_store + g_message_bytes + 1, text, length);
  g_message_store[g_message_bytes + 1 + length] = '\0';
  g_message_bytes += length + 2;
  if (level != 0) g_messages_kept++;
}

// ---- Formatting and routes ----

typedef void (*Sink)(const char* text, size_t length, uint32_t level);

void to_stdout(const char* text, size_t length, uint32_t) { write_stdout(text, length); }

void to_console(const char* text, size_t length, uint32_t) { write_console(text, length); }

void to_terminal(const char* text, size_t length, uint32_t) { write_terminal(text, length); }

// A run with a document: level-0 text still reaches the console; warnings and errors are
// kept for the document.
void to_document(const char* text, size_t length, uint32_t level) {
  if (level == 0) write_console(text, length);
  if (is_message(text)) keep_message(level, text, length);
}

// Formats into a stack buffer, or a heap one for the rare longer message, and hands the
// text to `sink`.
TARVEL_PRINTF(3, 0) void emit(Sink sink, uint32_t level, const char* format, va_list args) {
  char small[1024];
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (length < 0) return;
  if (static_cast<size_t>(length) < sizeof small) {
    sink(small, static_cast<size_t>(length), level);
    return;
  }
  char* large = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (large == nullptr) return;
  std::vsnprintf(large, static_cast<size_t>(length) + 1, format, args);
  sink(large, static_cast<size_t>(length), level);
  std::free(large);
}

}  // namespace

uint32_t report_verbosity() { return g_verbosity; }

void report_set_verbosity(uint32_t level) { g_verbosity = level; }

void report_set_silent(bool on) { g_silent = on; }

void print_at_level(uint32_t level, const char* format, ...) {
  if (g_silent) return;
  va_list args;
  if (g_document != nullptr) {
    // Whatever the verbosity: the text goes nowhere, the messages into the document.
    if (level != 0 && !may_be_message(format)) return;
    va_start(args, format);
    emit(to_document, level, format, args);
    va_end(args);
    return;
  }
  if (level != 0 && g_verbosity < level) return;
  va_start(args, format);
  emit(level == 0 ? to_console : to_stdout, level, format, args);
  va_end(args);
}

void print_prompt(const char* format, ...) {
  va_list args;
  va_start(args, format);
  emit(to_terminal, 0, format, args);
  va_end(args);
}

void print_always(const char* format, ...) {
  if (g_silent) return;
  va_list args;
  va_start(args, format);
  // In a document, the text shown at every level counts as level 1.
  emit(g_document != nullptr ? to_document : to_stdout, 1, format, args);
  va_end(args);
}

const char* system_error_text() {
  std::snprintf(g_error_text, sizeof g_error_text, "%s", platform_error_text(platform_last_error()));
  return g_error_text;
}

void console_capture(std::string* console, std::string* out) {
  g_capture_console = console;
  g_capture_out = out;
}

void report_use_standard_error(bool on) { g_report_stream = on ? stderr : nullptr; }

void report_reset_terminal_state() { g_stdout_is_terminal = -1; }

bool console_flush_stdout() {
  FILE* stream = g_report_stream != nullptr ? g_report_stream : stdout;
  return std::fflush(stream) == 0 && !std::ferror(stream);
}

bool report_progress_begin(uint64_t offset, uint64_t end) {
  g_progress = {};
  if (g_silent || g_verbosity > 1 || g_capture_console != nullptr || !platform_console_is_terminal()) {
    return false;
  }
  g_progress.on = true;
  g_progress.start_ms = platform_monotonic_ms();
  g_progress.start_offset = offset;
  g_progress.end = end;
  return true;
}

void report_progress(uint64_t offset) {
  if (!g_progress.on) return;
  uint64_t now = platform_monotonic_ms();
  if (now - g_progress.start_ms < kProgressDelayMs) return;
  if (g_progress.last_ms != 0 && now - g_progress.last_ms < kProgressPeriodMs) return;
  draw_progress(offset, now);
}

void report_progress_end() {
  erase_progress();
  g_progress = {};
}

void report_json_start(JsonWriter* document) {
  g_document = document;
  g_message_bytes = 0;
  g_messages_kept = 0;
  g_messages_left_out = 0;
  json_init(document);
  json_begin_object(document, nullptr);
}

void report_json_finish(int status) {
  JsonWriter* w = g_document;
  if (w == nullptr) return;
  g_document = nullptr;
  while (w->skipped > 0 || w->depth > 1) json_end(w);
  json_begin_array(w, "messages");
  for (size_t at = 0; at < g_message_bytes;) {
    const char* text = g_message_store + at + 1;
    json_begin_object(w, nullptr, kJsonOneLine);
    json_uint(w, "level", static_cast<uint8_t>(g_message_store[at]));
    json_string(w, "text", text);
    json_end(w);
    at += std::strlen(text) + 2;
  }
  if (g_messages_left_out != 0) {
    char note[64];
    std::snprintf(note, sizeof note, "%llu more messages not listed.",
                  static_cast<unsigned long long>(g_messages_left_out));
    json_begin_object(w, nullptr, kJsonOneLine);
    json_uint(w, "level", 1);
    json_string(w, "text", note);
    json_end(w);
  }
  json_end(w);
  json_int(w, "status", status);
  json_end(w);
}

void print_document(const char* text, size_t length) { write_stdout(text, length); }
