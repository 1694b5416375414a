// The output file with its overwrite prompt.
#include "cli/console.h"

#include <cstdio>

#include "report/report.h"

PlatformFile open_output_file(const char* path, const char* kind, PlatformFile input, PlatformFile taken,
                              bool assume_yes) {
  // Two outputs of one run never share a file, whatever paths name it.
  if (taken != kInvalidFile && platform_path_names_file(path, taken)) {
    platform_set_last_error(kErrorSharingViolation);
    print_at_level(0, "\nUnable to create %s file: %s", kind, system_error_text());
    return kInvalidFile;
  }
  PlatformFile file = platform_create(path, kCreateNew, input);
  if (file != kInvalidFile) return file;

  if (platform_last_error() != kErrorFileExists) {
    print_at_level(0, "\nUnable to create %s file: %s", kind, system_error_text());
    return kInvalidFile;
  }

  if (!assume_yes) {
    print_at_level(0, "\nOutput file %s already exists - Overwrite? (y/N):", path);
    int key = platform_console_read_key();  // -1 without a terminal or when interrupted: No
    if (key >= 0) std::fputc(key, stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    if (key != 'y' && key != 'Y') return kInvalidFile;
  }

  // The replace refuses to touch the input file itself, whatever path names it.
  file = platform_create(path, kCreateAlways, input);
  if (file == kInvalidFile) print_at_level(0, "\nUnable to overwrite %s file: %s", kind, system_error_text());
  return file;
}
