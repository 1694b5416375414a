// Entry point: runs the program and makes sure its report really reached standard output.
#include <cerrno>
#include <cstdio>

#include "cli/driver.h"
#include "platform/platform.h"
#include "report/report.h"

int main(int argc, char** argv) {
  // Ctrl-C stops a conversion between two frames, and a closed pipe fails a write rather
  // than ending the process.
  platform_catch_interrupts();
  int status = run_tarvel(argc, argv);
  // A report that could not be written (a full disk, a closed pipe) is not a success.
  bool flushed = console_flush_stdout();
  int flush_error = errno;
  bool closed = std::fclose(stdout) == 0;
  if (!flushed || !closed) {
    platform_set_last_error(flushed ? errno : flush_error);
    print_at_level(0, "Error: Unable to write to standard output: %s", system_error_text());
    return kExitFailure;
  }
  return status;
}
