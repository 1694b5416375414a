// The text sink: level filtering, the two routes (console, standard output), capture for
// tests and the system error text.
#include "report/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

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

void write_stdout(const char* text, size_t length) {
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
