// POSIX implementation of the platform layer.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "platform/platform.h"

static_assert(kErrorFileExists == EEXIST, "error code must match errno");
static_assert(kErrorSharingViolation == EBUSY, "error code must match errno");
static_assert(sizeof(off_t) == 8, "large-file offsets are required");

namespace {

int g_last_error = 0;

// The descriptor a PlatformFile holds.
int fd_of(PlatformFile file) { return static_cast<int>(file); }

PlatformFile fail(int code) {
  g_last_error = code;
  return kInvalidFile;
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_ignoring_case(const char* a, const char* b) {
  while (*a != '\0' && *b != '\0') {
    if (ascii_lower(*a) != ascii_lower(*b)) return false;
    a++;
    b++;
  }
  return *a == *b;
}

}  // namespace

bool platform_is_null_name(const char* path) {
  return equals_ignoring_case(path, "nul") || equals_ignoring_case(path, "nul:");
}

PlatformFile platform_open_read(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int code = errno;
    close(fd);
    return fail(code);
  }
  if (S_ISDIR(st.st_mode)) {  // a directory is not a file to read, as elsewhere
    close(fd);
    return fail(EISDIR);
  }
  return fd;
}

PlatformFile platform_create(const char* path, CreateDisposition disposition, PlatformFile protect) {
  if (platform_is_null_name(path)) {
    int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    return fd < 0 ? fail(errno) : fd;
  }
  if (disposition == kCreateNew) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd < 0 ? fail(errno) : fd;
  }
  // Replace: open without truncating first, so that the file's identity can be checked
  // against the input before a single byte of it is lost.
  int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return fail(errno);
  struct stat out_st;
  if (fstat(fd, &out_st) != 0) {
    int code = errno;
    close(fd);
    return fail(code);
  }
  struct stat in_st;
  if (protect != kInvalidFile && fstat(fd_of(protect), &in_st) == 0 && in_st.st_dev == out_st.st_dev &&
      in_st.st_ino == out_st.st_ino) {
    close(fd);
    return fail(EBUSY);
  }
  if (S_ISREG(out_st.st_mode) && ftruncate(fd, 0) != 0) {
    int code = errno;
    close(fd);
    return fail(code);
  }
  return fd;
}

bool platform_read(PlatformFile file, void* buffer, uint32_t n, uint32_t* got) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t total = 0;
  while (total < n) {
    ssize_t r = read(fd_of(file), out + total, n - total);
    if (r < 0) {
      if (errno == EINTR) continue;
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

bool platform_write(PlatformFile file, const void* buffer, uint32_t n, uint32_t* written) {
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  uint32_t total = 0;
  while (total < n) {
    ssize_t w = write(fd_of(file), in + total, n - total);
    if (w < 0) {
      if (errno == EINTR) continue;
      g_last_error = errno;
      break;
    }
    if (w == 0) {
      g_last_error = EIO;
      break;
    }
    total += static_cast<uint32_t>(w);
  }
  *written = total;
  return total == n;
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

const char* platform_error_text(int code) {
  static char text[256];
  std::snprintf(text, sizeof text, "%s\n", strerror(code));
  return text;
}

void platform_console_write(const char* text, size_t length) {
  int fd = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
  int target = fd >= 0 ? fd : STDERR_FILENO;
  size_t done = 0;
  while (done < length) {
    ssize_t w = write(target, text + done, length - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;  // no console: the text is dropped, as a detached program's would be
    done += static_cast<size_t>(w);
  }
  if (fd >= 0) close(fd);
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
    unsigned char c;
    ssize_t r;
    do {
      r = read(fd, &c, 1);
    } while (r < 0 && errno == EINTR);
    if (r == 1) key = c;
    tcsetattr(fd, TCSANOW, &saved);
  }
  close(fd);
  return key;
}

bool platform_stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }
