// The text sink: level filtering, the two routes (console, standard output), capture for
// tests and the system error text.
#include "report/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

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

// Formats into a stack buffer, or a heap one for the rare longer message, and hands the
// text to `sink`.
TARVEL_PRINTF(2, 0) void emit(void (*sink)(const char*, size_t), const char* format, va_list args) {
  char small[1024];
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (length < 0) return;
  if (static_cast<size_t>(length) < sizeof small) {
    sink(small, static_cast<size_t>(length));
    return;
  }
  char* large = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (large == nullptr) return;
  std::vsnprintf(large, static_cast<size_t>(length) + 1, format, args);
  sink(large, static_cast<size_t>(length));
  std::free(large);
}

}  // namespace

uint32_t report_verbosity() { return g_verbosity; }

void report_set_verbosity(uint32_t level) { g_verbosity = level; }

void report_set_silent(bool on) { g_silent = on; }

void print_at_level(uint32_t level, const char* format, ...) {
  if (g_silent || (level != 0 && g_verbosity < level)) return;
  va_list args;
  va_start(args, format);
  emit(level == 0 ? write_console : write_stdout, format, args);
  va_end(args);
}

void print_always(const char* format, ...) {
  if (g_silent) return;
  va_list args;
  va_start(args, format);
  emit(write_stdout, format, args);
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
