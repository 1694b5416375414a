// POSIX implementation of the platform layer.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/ascii.h"
#include "platform/platform.h"

static_assert(kErrorFileExists == EEXIST, "error code must match errno");
static_assert(kErrorSharingViolation == EBUSY, "error code must match errno");
static_assert(kErrorInterrupted == EINTR, "error code must match errno");
static_assert(sizeof(off_t) == 8, "large-file offsets are required");

namespace {

// The outcome of the calling thread's last call, as errno is: each thread has its own, so
// that no call can change what another thread is about to report.
thread_local int g_last_error = 0;
thread_local bool g_created_new_file = false;
// Set by the signal handler, which can be given nothing: the one process-wide variable.
volatile sig_atomic_t g_interrupt_signal = 0;

// The descriptor a PlatformFile holds.
int fd_of(PlatformFile file) { return static_cast<int>(file); }

PlatformFile fail(int code) {
  g_last_error = code;
  return kInvalidFile;
}

// Closes the descriptor and records `code` as the failure; `errno` may be passed, as it is
// read before the close can change it.
PlatformFile close_and_fail(int fd, int code) {
  close(fd);
  return fail(code);
}

// Advisory locks stand in for exclusive opening: a reader holds its input shared, a
// writer its output exclusively, so two runs never write one file or replace another's
// input. A lock held elsewhere is a sharing violation.
bool lock_file(int fd, int operation) {
  while (flock(fd, operation | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno != EWOULDBLOCK;  // a file system without locks is used unlocked
  }
  return true;
}

void on_interrupt(int signal_number) {
  if (g_interrupt_signal != 0) {  // the second request: stop at once
    signal(signal_number, SIG_DFL);
    raise(signal_number);
    return;
  }
  g_interrupt_signal = signal_number;
}

// What `path` names, "-" standing for standard output.
int stat_path(const char* path, struct stat* st) {
  return platform_is_standard_stream_name(path) ? fstat(STDOUT_FILENO, st) : stat(path, st);
}

// After an interrupt request a write must not wait for ever: a pipe, FIFO or terminal
// that cannot take more within a quarter of a second fails the write. Before one, every
// write waits as long as it takes.
bool may_write_now(int fd) {
  if (g_interrupt_signal == 0) return true;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return true;
  struct pollfd p = {fd, POLLOUT, 0};
  return poll(&p, 1, 250) > 0;
}

// A write that could wait is kept to what a pipe takes at once once a request came, so
// that a write that may start never waits.
constexpr size_t kWriteWithoutWaiting = PIPE_BUF;

}  // namespace

bool platform_is_null_name(const char* path) {
  return ascii_equal_ignoring_case(path, "nul") || ascii_equal_ignoring_case(path, "nul:");
}

bool platform_is_standard_stream_name(const char* path) { return std::strcmp(path, "-") == 0; }

PlatformFile platform_open_read(const char* path) {
  int fd = platform_is_standard_stream_name(path) ? fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                                                  : open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  struct stat st;
  if (fstat(fd, &st) != 0) return close_and_fail(fd, errno);
  if (S_ISDIR(st.st_mode)) return close_and_fail(fd, EISDIR);  // not a file to read, as elsewhere
  if (S_ISREG(st.st_mode) && !lock_file(fd, LOCK_SH)) return close_and_fail(fd, EBUSY);
  return fd;
}

PlatformFile platform_create(const char* path, CreateDisposition disposition, PlatformFile protect) {
  g_created_new_file = false;
  if (platform_is_null_name(path)) {
    int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    return fd < 0 ? fail(errno) : fd;
  }
  // Standard output is written where it stands (appending where it appends), never
  // reopened or truncated - unless it is the input itself.
  if (platform_is_standard_stream_name(path) || platform_path_is_stdout(path)) {
    struct stat out_st;
    struct stat in_st;
    if (protect != kInvalidFile && fstat(fd_of(protect), &in_st) == 0 && fstat(STDOUT_FILENO, &out_st) == 0 &&
        in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino) {
      return fail(EBUSY);
    }
    int fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    return fd < 0 ? fail(errno) : fd;
  }
  // A pipe, FIFO, terminal or device is written as it is: there is nothing to replace.
  struct stat existing;
  if (stat(path, &existing) == 0 && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode)) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    return fd < 0 ? fail(errno) : fd;
  }
  if (disposition == kCreateNew) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return fail(errno);
    g_created_new_file = true;
    return lock_file(fd, LOCK_EX) ? fd : close_and_fail(fd, EBUSY);
  }
  // Replace: open without truncating first, so that the file's identity can be checked
  // against the input before a single byte of it is lost.
  int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return fail(errno);
  struct stat out_st;
  if (fstat(fd, &out_st) != 0) return close_and_fail(fd, errno);
  struct stat in_st;
  if (protect != kInvalidFile && fstat(fd_of(protect), &in_st) == 0 && in_st.st_dev == out_st.st_dev &&
      in_st.st_ino == out_st.st_ino) {
    return close_and_fail(fd, EBUSY);  // the output is the input
  }
  if (S_ISREG(out_st.st_mode)) {
    if (!lock_file(fd, LOCK_EX)) return close_and_fail(fd, EBUSY);  // another run holds it
    if (disposition == kCreateAlways && ftruncate(fd, 0) != 0) return close_and_fail(fd, errno);
  }
  return fd;
}

bool platform_created_new_file() { return g_created_new_file; }

bool platform_truncate(PlatformFile file) {
  struct stat st;
  if (fstat(fd_of(file), &st) == 0 && !S_ISREG(st.st_mode)) return true;
  if (ftruncate(fd_of(file), 0) != 0) {
    g_last_error = errno;
    return false;
  }
  return true;
}

bool platform_remove(const char* path) {
  if (unlink(path) != 0) {
    g_last_error = errno;
    return false;
  }
  return true;
}

bool platform_path_is_directory(const char* path) {
  struct stat st;
  return !platform_is_standard_stream_name(path) && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool platform_read(PlatformFile file, void* buffer, uint32_t n, uint32_t* got) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t total = 0;
  while (total < n) {
    ssize_t r = read(fd_of(file), out + total, n - total);
    if (r < 0) {
      if (errno == EINTR && g_interrupt_signal == 0) continue;
      g_last_error = errno;
      *got = total;
      return false;
    }
    if (r == 0) break;
    total += static_cast<uint32_t>(r);
  }
  *got = total;
  return true;
}

bool platform_read_some(PlatformFile file, void* buffer, uint32_t n, uint32_t* got) {
  *got = 0;
  int fd = fd_of(file);
  // The read could wait for ever: the wait is a poll that an interrupt request ends (poll
  // is never restarted after a signal handler).
  struct pollfd p = {fd, POLLIN, 0};
  for (;;) {
    if (g_interrupt_signal != 0) {
      g_last_error = EINTR;
      return false;
    }
    int ready = poll(&p, 1, 200);  // also wakes to see a request that came just before
    if (ready > 0) break;
    if (ready < 0 && errno != EINTR) {
      g_last_error = errno;
      return false;
    }
  }
  for (;;) {
    ssize_t r = read(fd, buffer, n);
    if (r >= 0) {
      *got = static_cast<uint32_t>(r);
      return true;
    }
    if (errno == EINTR && g_interrupt_signal == 0) continue;
    g_last_error = errno;
    return false;
  }
}

bool platform_write(PlatformFile file, const void* buffer, uint32_t n, uint32_t* written) {
  PlatformPiece piece = {buffer, n};
  uint64_t total = 0;
  bool ok = platform_write_gather(file, &piece, 1, &total);
  *written = static_cast<uint32_t>(total);
  return ok;
}

bool platform_file_size(PlatformFile file, uint64_t* size) {
  struct stat st;
  if (fstat(fd_of(file), &st) != 0) {
    g_last_error = errno;
    return false;
  }
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool platform_tell(PlatformFile file, uint64_t* position) {
  off_t at = lseek(fd_of(file), 0, SEEK_CUR);
  if (at < 0) {
    g_last_error = errno;
    return false;
  }
  *position = static_cast<uint64_t>(at);
  return true;
}

bool platform_seek(PlatformFile file, uint64_t position) {
  if (position > static_cast<uint64_t>(INT64_MAX) ||
      lseek(fd_of(file), static_cast<off_t>(position), SEEK_SET) < 0) {
    g_last_error = position > static_cast<uint64_t>(INT64_MAX) ? EINVAL : errno;
    return false;
  }
  return true;
}

void platform_close(PlatformFile file) {
  if (file != kInvalidFile) close(fd_of(file));
}

char** platform_utf8_arguments(int* argc, char** argv) {
  (void)argc;
  return argv;  // the arguments are the bytes the user typed; UTF-8 in practice
}

int platform_last_error() { return g_last_error; }

void platform_set_last_error(int code) { g_last_error = code; }

void platform_set_last_error_from_errno(int errno_value) { g_last_error = errno_value; }

const char* platform_error_text(int code, char* text, size_t size) {
  std::snprintf(text, size, "%s\n", strerror(code));
  return text;
}

namespace {

void write_console_text(int fd, const char* text, size_t length) {
  size_t done = 0;
  while (done < length && may_write_now(fd)) {
    size_t n = length - done;
    if (g_interrupt_signal != 0 && n > kWriteWithoutWaiting) n = kWriteWithoutWaiting;
    ssize_t w = write(fd, text + done, n);
    if (w < 0 && errno == EINTR) continue;  // a request ended the wait: may_write_now decides
    if (w <= 0) break;  // nowhere to show it: the text is dropped, as a detached program's would be
    done += static_cast<size_t>(w);
  }
}

}  // namespace

void platform_console_write(const char* text, size_t length) {
  write_console_text(STDERR_FILENO, text, length);
}

int platform_console_read_key() {
  int fd = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct termios saved;
  if (tcgetattr(fd, &saved) != 0) {
    close(fd);
    return -1;
  }
  struct termios raw = saved;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  int key = -1;
  if (tcsetattr(fd, TCSANOW, &raw) == 0) {
    // An interrupt is an answer (No), given after the terminal is restored. The short poll
    // also catches one that came just before the wait began.
    struct pollfd p = {fd, POLLIN, 0};
    while (g_interrupt_signal == 0) {
      int ready = poll(&p, 1, 100);
      if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
      if (ready < 0) break;
      unsigned char c;
      ssize_t r = read(fd, &c, 1);
      if (r < 0 && errno == EINTR && g_interrupt_signal == 0) continue;
      if (r == 1) key = c;
      break;
    }
    tcsetattr(fd, TCSANOW, &saved);
  }
  close(fd);
  return key;
}

bool platform_stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

bool platform_console_is_terminal() {
  int fd = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

void platform_terminal_write(const char* text, size_t length) {
  int fd = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  write_console_text(fd, text, length);
  close(fd);
}

uint64_t platform_monotonic_ms() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

bool platform_is_seekable(PlatformFile file) {
  struct stat st;
  return fstat(fd_of(file), &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

bool platform_path_is_stdout(const char* path) {
  struct stat out_st;
  struct stat path_st;
  struct stat null_st;
  if (platform_is_null_name(path) || fstat(STDOUT_FILENO, &out_st) != 0 || stat_path(path, &path_st) != 0) {
    return false;
  }
  // Discarded output is nobody's stream: standard output on the null device stays as it is.
  if (stat("/dev/null", &null_st) == 0 && null_st.st_dev == path_st.st_dev &&
      null_st.st_ino == path_st.st_ino) {
    return false;
  }
  return out_st.st_dev == path_st.st_dev && out_st.st_ino == path_st.st_ino;
}

bool platform_path_names_file(const char* path, PlatformFile file) {
  struct stat path_st;
  struct stat file_st;
  struct stat null_st;
  if (platform_is_null_name(path) || stat_path(path, &path_st) != 0 || fstat(fd_of(file), &file_st) != 0) {
    return false;
  }
  if (stat("/dev/null", &null_st) == 0 && null_st.st_dev == path_st.st_dev &&
      null_st.st_ino == path_st.st_ino) {
    return false;
  }
  return path_st.st_dev == file_st.st_dev && path_st.st_ino == file_st.st_ino;
}

void platform_catch_interrupts() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = on_interrupt;
  // No SA_RESTART: a call that waits (opening a FIFO, a write to a pipe nobody reads) ends
  // with EINTR at the first request instead of waiting on.
  action.sa_flags = 0;
  sigemptyset(&action.sa_mask);
  const int kRequests[] = {SIGINT, SIGTERM, SIGHUP};
  for (int signal_number : kRequests) sigaction(signal_number, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

int platform_interrupt_signal() { return g_interrupt_signal; }

void platform_clear_interrupt() { g_interrupt_signal = 0; }

bool platform_write_gather(PlatformFile file, const PlatformPiece* pieces, uint32_t count,
                           uint64_t* written) {
  constexpr uint32_t kMaxVectors = 1024;  // IOV_MAX on Linux
  struct iovec vectors[kMaxVectors];
  uint64_t total = 0;
  uint32_t next = 0;  // first piece not written whole
  uint32_t done = 0;  // bytes of pieces[next] already written
  for (;;) {
    while (next < count && pieces[next].length == done) {
      next++;
      done = 0;
    }
    if (next == count) break;
    if (!may_write_now(fd_of(file))) {
      g_last_error = EINTR;
      break;
    }
    uint32_t n = 0;
    for (uint32_t i = next; i < count && n < kMaxVectors; ++i) {
      uint32_t from = i == next ? done : 0;
      vectors[n].iov_base = const_cast<uint8_t*>(static_cast<const uint8_t*>(pieces[i].bytes) + from);
      vectors[n].iov_len = pieces[i].length - from;
      n++;
    }
    if (g_interrupt_signal != 0) {  // at most what a pipe takes without waiting
      n = 1;
      if (vectors[0].iov_len > kWriteWithoutWaiting) vectors[0].iov_len = kWriteWithoutWaiting;
    }
    ssize_t w = writev(fd_of(file), vectors, static_cast<int>(n));
    if (w < 0) {
      if (errno == EINTR) continue;  // the request ended the wait: may_write_now decides
      g_last_error = errno;
      break;
    }
    if (w == 0) {
      g_last_error = EIO;
      break;
    }
    total += static_cast<uint64_t>(w);
    // Step over what was written: whole pieces, then part of the next one.
    size_t left = static_cast<size_t>(w);
    while (left > 0 && left >= pieces[next].length - done) {
      left -= pieces[next].length - done;
      next++;
      done = 0;
    }
    done += static_cast<uint32_t>(left);
  }
  *written = total;
  return next == count;
}

bool platform_quote_argument(const char* text, char* out, size_t size) {
  bool plain = *text != '\0';
  for (const char* p = text; *p != '\0' && plain; p++) {
    plain = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') ||
            std::strchr("-_./:=+,@%", *p) != nullptr;
  }
  size_t used = 0;
  auto put = [&](char c) {
    if (used + 1 < size) out[used] = c;
    used++;
  };
  if (plain) {
    for (const char* p = text; *p != '\0'; p++) put(*p);
  } else {
    // Single quotes keep every byte as it is; a single quote itself is closed, escaped and
    // opened again.
    put('\'');
    for (const char* p = text; *p != '\0'; p++) {
      if (*p == '\'') {
        const char kEscaped[] = "'\\''";
        for (const char* c = kEscaped; *c != '\0'; c++) put(*c);
      } else {
        put(*p);
      }
    }
    put('\'');
  }
  if (size > 0) out[used < size ? used : size - 1] = '\0';
  return used < size;
}
