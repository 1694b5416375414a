// The operating-system services the program needs, behind one small interface.
//
// A file is a descriptor on POSIX systems and a HANDLE on Windows, both held in one
// integer type so that no system header leaks out of this folder. Paths are UTF-8 strings
// everywhere; the Windows layer converts them to UTF-16 for the system. Every function
// that can fail records the reason, which platform_last_error() returns until the next
// failing call on the same thread (as errno does), and platform_error_text() turns into
// the system's own description.
// Large-file offsets are enabled here (the build defines _FILE_OFFSET_BITS=64) and
// nowhere else matters.
#ifndef TARVEL_PLATFORM_PLATFORM_H_
#define TARVEL_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>

typedef intptr_t PlatformFile;
constexpr PlatformFile kInvalidFile = -1;  // also the value of INVALID_HANDLE_VALUE

// Error codes callers test for (errno values, or Windows system error codes); the others
// are only ever turned into text.
#ifdef _WIN32
constexpr int kErrorFileExists = 80;        // ERROR_FILE_EXISTS
constexpr int kErrorSharingViolation = 32;  // ERROR_SHARING_VIOLATION: the output is the input
constexpr int kErrorInterrupted = 995;      // ERROR_OPERATION_ABORTED: a wait ended by Ctrl-C
#else
constexpr int kErrorFileExists = 17;        // EEXIST
constexpr int kErrorSharingViolation = 16;  // EBUSY: the output is the input itself
constexpr int kErrorInterrupted = 4;        // EINTR: a wait ended by an interrupt request
#endif

// The program's arguments as UTF-8 strings. POSIX gives them back as they came; Windows
// rebuilds them from the wide command line, so that any Unicode path survives, and sets
// the console's output code page to UTF-8 for the run (restored at exit), so that
// standard output's text shows as written. When the console window was made for this run
// alone (the program started from Explorer), the window waits at exit for a key, with
// "Press any key to close this window.", so that the report can be read before it closes.
// The strings live until the process ends.
char** platform_utf8_arguments(int* argc, char** argv);

enum CreateDisposition {
  kCreateNew = 1,      // fail with kErrorFileExists when the path exists
  kCreateAlways = 2,   // create, or replace (truncate) an existing file
  kOpenToReplace = 3,  // as kCreateAlways, but nothing is truncated: see platform_truncate
};

// The path "-" names the standard streams: standard input for platform_open_read,
// standard output for platform_create and the path checks below (on Windows through the
// standard handles, which carry bytes as they are).
bool platform_is_standard_stream_name(const char* path);

// Opens an existing file for reading ("-": standard input). A directory is refused (EISDIR on POSIX). The
// file is held for as long as it is open: on POSIX a plain file is held shared, and a file another run holds
// for writing fails with kErrorSharingViolation; on Windows it is opened with share mode 0, so nobody else,
// this program included, can open it again until it is closed. Returns kInvalidFile on failure.
PlatformFile platform_open_read(const char* path);

// Creates a file for writing. The names "nul" and "nul:" (any letter case) open the null
// device, "-" writes through standard output where it stands, a path naming an existing file that is not a
// plain file (a pipe, FIFO, terminal or other device) opens it as it is, and a path naming the file standard
// output writes to (such as /dev/stdout) writes through standard output where it stands;
// none of these ever fails with kErrorFileExists nor truncates anything. A plain file is
// held exclusively while open, taken before it is truncated: when another run holds it
// (reading or writing), or when `protect` is a valid file and the path names that same
// file (through any link), nothing is truncated or kept open and the call fails with
// kErrorSharingViolation. On Windows the output is opened with share mode 0, so the
// system itself refuses the open input with its sharing-violation error, whatever path
// names it.
// Returns kInvalidFile on failure. Opening a FIFO waits for its other end; an interrupt
// request (see platform_catch_interrupts) ends the wait with kErrorInterrupted.
PlatformFile platform_create(const char* path, CreateDisposition disposition, PlatformFile protect);

// Whether the calling thread's last successful platform_create made a new file (kCreateNew on a path that
// named nothing), which a run that converts nothing deletes again.
bool platform_created_new_file();

// Cuts a plain file opened with kOpenToReplace to length 0; true for anything else (a
// pipe, a device), which has nothing to cut. False, with the error recorded, on failure.
bool platform_truncate(PlatformFile file);

// Deletes the file at `path` (closed), for an output created by a run that then converted
// nothing. False, with the error recorded, when it cannot be deleted.
bool platform_remove(const char* path);

// True when `path` names an existing directory (through any link).
bool platform_path_is_directory(const char* path);

// True when the path is one of the null-device names "nul" / "nul:", in any letter case.
bool platform_is_null_name(const char* path);

// Reads up to n bytes; *got receives the count delivered (less than n only at the end of
// the file or on an error). Returns false on a read error.
bool platform_read(PlatformFile file, void* buffer, uint32_t n, uint32_t* got);

// Reads what an input that can make a reader wait (a pipe, FIFO or terminal) has, up to n
// bytes, in one go: what has arrived, waiting for at least one byte. *got is 0 at the end
// of the input. Returns false on a read error, and when an interrupt request (see
// platform_catch_interrupts) ends the wait: the last error is then kErrorInterrupted.
bool platform_read_some(PlatformFile file, void* buffer, uint32_t n, uint32_t* got);

// Writes all n bytes unless an error stops it; *written receives the count written.
// Returns false when fewer than n bytes were written.
bool platform_write(PlatformFile file, const void* buffer, uint32_t n, uint32_t* written);

bool platform_file_size(PlatformFile file, uint64_t* size);
bool platform_tell(PlatformFile file, uint64_t* position);
bool platform_seek(PlatformFile file, uint64_t position);
void platform_close(PlatformFile file);

// The last recorded error code (an errno value, or a Windows system error code) and its
// text, which always ends with "\n" (the Windows text comes as the system gives it, with
// its CR LF).
int platform_last_error();
void platform_set_last_error(int code);
// Records the failure of a C library call that left `errno_value` in errno.
void platform_set_last_error_from_errno(int errno_value);
// Writes the text into `text` (`size` bytes, cut short there) and returns it.
const char* platform_error_text(int code, char* text, size_t size);

// Console: level-0 text goes to standard error, once, wherever that leads (the terminal, a
// log file, a pipe; shown on a Windows console as Unicode); it is dropped when there is no
// standard error. The key read takes one key press from the controlling terminal (the
// Windows console) without echo and without waiting for Enter; it returns the byte, or -1
// when there is no terminal or an interrupt request ended the wait.
void platform_console_write(const char* text, size_t length);
int platform_console_read_key();
bool platform_stdout_is_terminal();

// The controlling terminal (the console window), for the overwrite prompt and a line
// rewritten in place: true when there is one. platform_terminal_write writes there and
// nowhere else: without a terminal the text is dropped, never sent to standard error.
bool platform_console_is_terminal();
void platform_terminal_write(const char* text, size_t length);

// Milliseconds from an arbitrary start, never going back: for measuring how long a run has
// taken.
uint64_t platform_monotonic_ms();

// True when the file can be positioned: false for pipes, FIFOs, sockets and terminals,
// which are read strictly forward.
bool platform_is_seekable(PlatformFile file);

// True when `path` names the file standard output writes to, through any name (for
// example "-", /dev/stdout, /dev/fd/1, or the file standard output was redirected to).
bool platform_path_is_stdout(const char* path);

// True when `path` names the open file `file`, through any name or link. The null device
// is nobody's file: false for it, and for a path that names nothing.
bool platform_path_names_file(const char* path, PlatformFile file);

// Interrupts (Ctrl-C, a termination or hang-up request): after platform_catch_interrupts
// the first one is recorded, platform_interrupt_signal() then returns its signal number
// (else 0) and the program stops at its next safe point; a second one ends the process at
// once. The first one also ends a wait that could last for ever (opening a FIFO, reading
// or writing a pipe, FIFO or terminal): the call fails with kErrorInterrupted, and from
// then on a write to such a file that cannot go on within a quarter of a second fails so
// too. A closed pipe no longer kills the process: writes to it fail instead.
void platform_catch_interrupts();
int platform_interrupt_signal();
// Forgets a recorded interrupt request, so that a new run starts clean.
void platform_clear_interrupt();

// One piece of a gathered write: `length` bytes at `bytes`.
struct PlatformPiece {
  const void* bytes;
  uint32_t length;
};

// Writes the pieces in order as one run of bytes, in as few system calls as the platform
// allows, unless an error stops it; *written receives the count written. Returns false
// when fewer bytes than the pieces hold were written. Pieces may be empty.
bool platform_write_gather(PlatformFile file, const PlatformPiece* pieces, uint32_t count, uint64_t* written);

// `text` as one argument of a command line for the platform's shell: as it is when it
// holds only letters, digits and -_./:=+,@%, else quoted. False when `size` is too small.
bool platform_quote_argument(const char* text, char* out, size_t size);

#endif  // TARVEL_PLATFORM_PLATFORM_H_
