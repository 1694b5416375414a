// Windows implementation of the platform layer.
//
// Files are opened with share mode 0, so that while the program holds its input nobody
// (the program's own output included) can open it: replacing the input through any path
// fails with the system's sharing-violation error before a byte is lost. Paths arrive as
// UTF-8 and reach the system as UTF-16.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which it needs:
#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/ascii.h"
#include "platform/platform.h"

static_assert(kErrorFileExists == ERROR_FILE_EXISTS, "error code must match the system's");
static_assert(kErrorSharingViolation == ERROR_SHARING_VIOLATION, "error code must match the system's");
static_assert(kErrorInterrupted == ERROR_OPERATION_ABORTED, "error code must match the system's");
static_assert(sizeof(PlatformFile) == sizeof(HANDLE), "a file must hold a HANDLE");

namespace {

// The outcome of the calling thread's last call, as GetLastError's is: each thread has its
// own, so that no call can change what another thread is about to report.
thread_local int g_last_error = 0;
thread_local bool g_created_new_file = false;

HANDLE handle_of(PlatformFile file) { return reinterpret_cast<HANDLE>(file); }
PlatformFile file_of(HANDLE handle) { return reinterpret_cast<PlatformFile>(handle); }

PlatformFile fail(DWORD code) {
  g_last_error = static_cast<int>(code);
  return kInvalidFile;
}

// The first Ctrl-C or Ctrl-Break, as the signal number a POSIX system would give it.
volatile LONG g_interrupt_signal = 0;
constexpr LONG kSignalInterrupt = 2;  // SIGINT
// The thread whose waits a request ends: set once when interrupts are caught, read by the
// console handler, which runs on a thread of its own and can be given nothing else.
HANDLE g_main_thread = nullptr;

BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;  // closing: the default
  // The first request is recorded and handled; a second one ends the process at once.
  if (InterlockedCompareExchange(&g_interrupt_signal, kSignalInterrupt, 0) != 0) return FALSE;
  // A wait of the program's own (a pipe nobody reads, a pipe to open) ends at once.
  if (g_main_thread != nullptr) CancelSynchronousIo(g_main_thread);
  return TRUE;
}

// A duplicate of one of the standard handles, which the program may close as its own.
PlatformFile standard_handle(DWORD which) {
  HANDLE standard = GetStdHandle(which);
  HANDLE copy = nullptr;
  if (standard == nullptr || standard == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), standard, GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return fail(standard == nullptr ? ERROR_INVALID_HANDLE : GetLastError());
  }
  return file_of(copy);
}

// Whether two open handles are one file.
bool same_file(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x;
  BY_HANDLE_FILE_INFORMATION y;
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

// UTF-8 to a new UTF-16 string (free with std::free), or nullptr with the error recorded.
wchar_t* to_utf16(const char* text, int length = -1) {
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, nullptr, 0);
  wchar_t* wide =
      n > 0 ? static_cast<wchar_t*>(std::malloc((static_cast<size_t>(n) + 1) * sizeof(wchar_t))) : nullptr;
  if (wide == nullptr) {
    g_last_error = n > 0 ? ERROR_NOT_ENOUGH_MEMORY : static_cast<int>(GetLastError());
    return nullptr;
  }
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, wide, n);
  wide[n] = L'\0';  // a counted conversion carries no terminator of its own
  return wide;
}

// UTF-16 to a new UTF-8 string (free with std::free), or nullptr.
char* to_utf8(const wchar_t* wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  char* text = n > 0 ? static_cast<char*>(std::malloc(static_cast<size_t>(n))) : nullptr;
  if (text != nullptr) WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, n, nullptr, nullptr);
  return text;
}

PlatformFile open_path(const char* path, DWORD access, DWORD share, DWORD disposition) {
  wchar_t* wide = to_utf16(path);
  if (wide == nullptr) return kInvalidFile;
  HANDLE h = CreateFileW(wide, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD code = GetLastError();
  std::free(wide);
  return h == INVALID_HANDLE_VALUE ? fail(code) : file_of(h);
}

// The console's code page before the program set UTF-8: the console's, not a run's, state,
// set once at start and put back by the exit handler, which can be given nothing else.
UINT g_saved_output_code_page = 0;

void restore_output_code_page() { SetConsoleOutputCP(g_saved_output_code_page); }

// Writes to the console window; false when the program has no console.
bool write_console_window(const char* text, size_t length) {
  HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return false;
  wchar_t* wide = to_utf16(text, static_cast<int>(length));
  if (wide != nullptr) {
    DWORD done = 0;
    WriteConsoleW(console, wide, static_cast<DWORD>(wcslen(wide)), &done, nullptr);
    std::free(wide);
  }
  CloseHandle(console);
  return true;
}

// Standard error with the CR LF line ends of Windows text files; the system's own texts
// already carry theirs.
void write_standard_error(const char* text, size_t length) {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  size_t start = 0;
  for (size_t i = 0; i <= length; i++) {
    bool lone_line_feed = i < length && text[i] == '\n' && (i == 0 || text[i - 1] != '\r');
    if (!lone_line_feed && i < length) continue;
    DWORD done = 0;
    if (i > start) WriteFile(err, text + start, static_cast<DWORD>(i - start), &done, nullptr);
    if (lone_line_feed) WriteFile(err, "\r\n", 2, &done, nullptr);
    start = i + 1;
  }
}

// A console window made for this program alone (started from Explorer: a double-click, a
// file dropped on it) closes when the program ends, taking the report with it: the window
// waits for a key first. Ctrl-C is read as a key there, so it closes the window too.
void wait_for_key_before_closing() {
  HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return;
  static const char kText[] = "\nPress any key to close this window.";
  write_console_window(kText, sizeof kText - 1);
  DWORD saved = 0;
  GetConsoleMode(input, &saved);
  SetConsoleMode(input,
                 saved & ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
  FlushConsoleInputBuffer(input);  // keys typed during the run do not close it unread
  INPUT_RECORD record;
  DWORD got = 0;
  while (ReadConsoleInputW(input, &record, 1, &got) && got == 1) {
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
    WORD key = record.Event.KeyEvent.wVirtualKeyCode;
    if (key != VK_SHIFT && key != VK_CONTROL && key != VK_MENU) break;  // a modifier alone is no key
  }
  SetConsoleMode(input, saved);
  CloseHandle(input);
}

}  // namespace

char** platform_utf8_arguments(int* argc, char** argv) {
  // Standard output is UTF-8 text, as on every other system: let the console show it so.
  UINT code_page = GetConsoleOutputCP();
  if (code_page != 0 && code_page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    g_saved_output_code_page = code_page;
    std::atexit(restore_output_code_page);
  }
  // A console that only this program is attached to was made for it; one inherited from a
  // shell has the shell attached too. A console whose window is not shown (Wine's on a
  // terminal, a hidden one) closes nothing anyone reads.
  DWORD attached[2];
  if (GetConsoleProcessList(attached, 2) == 1 && IsWindowVisible(GetConsoleWindow())) {
    std::atexit(wait_for_key_before_closing);
  }
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return argv;
  char** args = static_cast<char**>(std::calloc(static_cast<size_t>(count) + 1, sizeof(char*)));
  if (args == nullptr) return argv;
  for (int i = 0; i < count; i++) {
    args[i] = to_utf8(wide[i]);
    if (args[i] == nullptr) return argv;
  }
  LocalFree(wide);
  *argc = count;
  return args;
}

bool platform_is_null_name(const char* path) {
  return ascii_equal_ignoring_case(path, "nul") || ascii_equal_ignoring_case(path, "nul:");
}

bool platform_is_standard_stream_name(const char* path) { return std::strcmp(path, "-") == 0; }

PlatformFile platform_open_read(const char* path) {
  if (platform_is_standard_stream_name(path)) return standard_handle(STD_INPUT_HANDLE);
  return open_path(path, GENERIC_READ, 0, OPEN_EXISTING);
}

PlatformFile platform_create(const char* path, CreateDisposition disposition, PlatformFile protect) {
  g_created_new_file = false;
  if (platform_is_standard_stream_name(path)) {
    PlatformFile out = standard_handle(STD_OUTPUT_HANDLE);
    if (out != kInvalidFile && protect != kInvalidFile && same_file(handle_of(out), handle_of(protect))) {
      CloseHandle(handle_of(out));
      return fail(ERROR_SHARING_VIOLATION);
    }
    return out;
  }
  // Otherwise the input's share mode 0 protects it: the system refuses to open it again.
  if (platform_is_null_name(path)) {
    return open_path("\\\\.\\NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  }
  DWORD how = disposition == kCreateNew      ? CREATE_NEW
              : disposition == kCreateAlways ? CREATE_ALWAYS
                                             : OPEN_ALWAYS;
  PlatformFile file = open_path(path, GENERIC_WRITE, 0, how);
  g_created_new_file = file != kInvalidFile && how == CREATE_NEW;
  return file;
}

bool platform_created_new_file() { return g_created_new_file; }

bool platform_truncate(PlatformFile file) {
  HANDLE handle = handle_of(file);
  if (GetFileType(handle) != FILE_TYPE_DISK) return true;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(handle, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(handle)) {
    g_last_error = static_cast<int>(GetLastError());
    return false;
  }
  return true;
}

bool platform_remove(const char* path) {
  wchar_t* wide = to_utf16(path);
  if (wide == nullptr) return false;
  bool removed = DeleteFileW(wide) != 0;
  if (!removed) g_last_error = static_cast<int>(GetLastError());
  std::free(wide);
  return removed;
}

bool platform_path_is_directory(const char* path) {
  if (platform_is_standard_stream_name(path)) return false;
  int saved_error = g_last_error;
  wchar_t* wide = to_utf16(path);
  g_last_error = saved_error;
  if (wide == nullptr) return false;
  DWORD attributes = GetFileAttributesW(wide);
  std::free(wide);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool platform_read(PlatformFile file, void* buffer, uint32_t n, uint32_t* got) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t total = 0;
  while (total < n) {
    DWORD r = 0;
    if (!ReadFile(handle_of(file), out + total, n - total, &r, nullptr)) {
      DWORD code = GetLastError();
      if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE) break;
      g_last_error = static_cast<int>(code);
      *got = total;
      return false;
    }
    if (r == 0) break;
    total += r;
  }
  *got = total;
  return true;
}

bool platform_read_some(PlatformFile file, void* buffer, uint32_t n, uint32_t* got) {
  *got = 0;
  HANDLE handle = handle_of(file);
  // A read from a pipe can wait for ever and Ctrl-C does not end it: the wait is a look at
  // what has arrived, repeated, that sees a recorded request.
  if (GetFileType(handle) == FILE_TYPE_PIPE) {
    for (;;) {
      DWORD available = 0;
      if (!PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr)) {
        DWORD code = GetLastError();
        if (code == ERROR_BROKEN_PIPE) return true;  // the writer is gone: the end
        g_last_error = static_cast<int>(code);
        return false;
      }
      if (available > 0) {
        if (available < n) n = available;
        break;
      }
      if (g_interrupt_signal != 0) {
        g_last_error = ERROR_OPERATION_ABORTED;
        return false;
      }
      Sleep(20);
    }
  }
  DWORD r = 0;
  if (!ReadFile(handle, buffer, n, &r, nullptr)) {
    DWORD code = GetLastError();
    if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE) return true;
    g_last_error = static_cast<int>(code);
    return false;
  }
  *got = r;
  return true;
}

bool platform_write(PlatformFile file, const void* buffer, uint32_t n, uint32_t* written) {
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  uint32_t total = 0;
  while (total < n) {
    DWORD w = 0;
    if (!WriteFile(handle_of(file), in + total, n - total, &w, nullptr)) {
      g_last_error = static_cast<int>(GetLastError());
      break;
    }
    if (w == 0) {
      g_last_error = ERROR_WRITE_FAULT;
      break;
    }
    total += w;
  }
  *written = total;
  return total == n;
}

bool platform_file_size(PlatformFile file, uint64_t* size) {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(handle_of(file), &value)) {
    g_last_error = static_cast<int>(GetLastError());
    return false;
  }
  *size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

bool platform_tell(PlatformFile file, uint64_t* position) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  LARGE_INTEGER at;
  if (!SetFilePointerEx(handle_of(file), zero, &at, FILE_CURRENT)) {
    g_last_error = static_cast<int>(GetLastError());
    return false;
  }
  *position = static_cast<uint64_t>(at.QuadPart);
  return true;
}

bool platform_seek(PlatformFile file, uint64_t position) {
  if (position > static_cast<uint64_t>(INT64_MAX)) {
    g_last_error = ERROR_NEGATIVE_SEEK;
    return false;
  }
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(position);
  if (!SetFilePointerEx(handle_of(file), to, nullptr, FILE_BEGIN)) {
    g_last_error = static_cast<int>(GetLastError());
    return false;
  }
  return true;
}

void platform_close(PlatformFile file) {
  if (file != kInvalidFile) CloseHandle(handle_of(file));
}

int platform_last_error() { return g_last_error; }

void platform_set_last_error(int code) { g_last_error = code; }

void platform_set_last_error_from_errno(int errno_value) {
  // The C library reports its failures in errno; the text comes from the system's code.
  switch (errno_value) {
    case ENOSPC:
      g_last_error = ERROR_DISK_FULL;
      break;
    case EPIPE:
      g_last_error = ERROR_NO_DATA;  // "The pipe is being closed."
      break;
    case EBADF:
      g_last_error = ERROR_INVALID_HANDLE;
      break;
    case EACCES:
      g_last_error = ERROR_ACCESS_DENIED;
      break;
    case ENOMEM:
      g_last_error = ERROR_NOT_ENOUGH_MEMORY;
      break;
    default:
      g_last_error = ERROR_WRITE_FAULT;
      break;
  }
}

const char* platform_error_text(int code, char* text, size_t size) {
  wchar_t wide[512];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(code), 0, wide, sizeof wide / sizeof wide[0], nullptr);
  if (n == 0 || WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(n) + 1, text, static_cast<int>(size),
                                    nullptr, nullptr) == 0) {
    std::snprintf(text, size, "System error %d.\r\n", code);
  }
  size_t length = std::strlen(text);
  if (length == 0 || text[length - 1] != '\n') std::snprintf(text + length, size - length, "\r\n");
  return text;
}

void platform_console_write(const char* text, size_t length) {
  // Standard error on a console shows Unicode text as such; a file or a pipe gets the
  // bytes, with CR LF line ends.
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (err == nullptr || err == INVALID_HANDLE_VALUE || !GetConsoleMode(err, &mode)) {
    write_standard_error(text, length);
    return;
  }
  wchar_t* wide = to_utf16(text, static_cast<int>(length));
  if (wide == nullptr) return;
  DWORD done = 0;
  WriteConsoleW(err, wide, static_cast<DWORD>(wcslen(wide)), &done, nullptr);
  std::free(wide);
}

int platform_console_read_key() {
  HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return -1;
  DWORD saved = 0;
  if (!GetConsoleMode(input, &saved)) {
    CloseHandle(input);
    return -1;
  }
  SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
  int key = -1;
  // Ctrl-C is an answer (No), given after the console mode is restored: the wait is short
  // so that the recorded request is seen.
  while (g_interrupt_signal == 0) {
    DWORD ready = WaitForSingleObject(input, 100);
    if (ready == WAIT_TIMEOUT) continue;
    if (ready != WAIT_OBJECT_0) break;
    INPUT_RECORD record;
    DWORD got = 0;
    if (!ReadConsoleInputW(input, &record, 1, &got) || got == 0) break;
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
    wchar_t c = record.Event.KeyEvent.uChar.UnicodeChar;
    if (c == 0) continue;  // a shift, control or function key alone
    // The first byte of the key's UTF-8 form, as a terminal would deliver it.
    char bytes[4];
    int n = WideCharToMultiByte(CP_UTF8, 0, &c, 1, bytes, sizeof bytes, nullptr, nullptr);
    key = n > 0 ? static_cast<unsigned char>(bytes[0]) : '?';
    break;
  }
  SetConsoleMode(input, saved);
  CloseHandle(input);
  return key;
}

bool platform_stdout_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool platform_console_is_terminal() {
  HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return false;
  CloseHandle(console);
  return true;
}

void platform_terminal_write(const char* text, size_t length) { write_console_window(text, length); }

uint64_t platform_monotonic_ms() { return GetTickCount64(); }

bool platform_is_seekable(PlatformFile file) { return GetFileType(handle_of(file)) == FILE_TYPE_DISK; }

bool platform_path_names_file(const char* path, PlatformFile file) {
  if (platform_is_null_name(path)) return false;
  if (platform_is_standard_stream_name(path))
    return same_file(GetStdHandle(STD_OUTPUT_HANDLE), handle_of(file));
  // No access asked for: the file's identity can be read while another handle holds it with
  // share mode 0. The check leaves the last recorded error as it was.
  int saved_error = g_last_error;
  PlatformFile other =
      open_path(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
  g_last_error = saved_error;
  if (other == kInvalidFile) return false;
  bool same = same_file(handle_of(other), handle_of(file));
  CloseHandle(handle_of(other));
  return same;
}

// "-" alone: Windows has no other path that names standard output (CON is the console
// itself), and a file standard output was redirected to is held by the shell where share
// mode 0 cannot open it.
bool platform_path_is_stdout(const char* path) { return platform_is_standard_stream_name(path); }

void platform_catch_interrupts() {
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_main_thread, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

int platform_interrupt_signal() { return static_cast<int>(g_interrupt_signal); }

void platform_clear_interrupt() { InterlockedExchange(&g_interrupt_signal, 0); }

bool platform_write_gather(PlatformFile file, const PlatformPiece* pieces, uint32_t count,
                           uint64_t* written) {
  // WriteFile takes one buffer: the pieces go out one after the other, the same bytes.
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; i++) {
    uint32_t done = 0;
    bool ok = platform_write(file, pieces[i].bytes, pieces[i].length, &done);
    total += done;
    if (!ok) {
      *written = total;
      return false;
    }
  }
  *written = total;
  return true;
}

bool platform_quote_argument(const char* text, char* out, size_t size) {
  bool plain = *text != '\0';
  for (const char* p = text; *p != '\0' && plain; p++) {
    plain = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') ||
            std::strchr("-_./:=+,@%\\", *p) != nullptr;
  }
  size_t used = 0;
  auto put = [&](char c) {
    if (used + 1 < size) out[used] = c;
    used++;
  };
  if (plain) {
    for (const char* p = text; *p != '\0'; p++) put(*p);
  } else {
    // Double quotes, as the command line is split on Windows; a quote inside is escaped.
    put('"');
    for (const char* p = text; *p != '\0'; p++) {
      if (*p == '"') put('\\');
      put(*p);
    }
    put('"');
  }
  if (size > 0) out[used < size ? used : size - 1] = '\0';
  return used < size;
}
