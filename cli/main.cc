// Entry point: runs the program and makes sure its report really reached standard output.
#include <cerrno>
#include <cstdio>

#include "cli/driver.h"
#include "platform/platform.h"
#include "report/report.h"

int main(int argc, char** argv) {
  // Ctrl-C stops a conversion between two frames, and a closed pipe fails a write rather
  // than ending the process. On Windows the command line is taken in UTF-16 and
  // converted, so any path works.
  platform_catch_interrupts();
  char** args = platform_utf8_arguments(&argc, argv);
  Report report;
  int status = run_tarvel(argc, args, &report);
  // A report that could not be written (a full disk, a closed pipe) is not a success.
  bool flushed = console_flush_stdout(&report);
  int flush_error = errno;
  bool closed = std::fclose(stdout) == 0;
  if (!flushed || !closed) {
    platform_set_last_error_from_errno(flushed ? errno : flush_error);
    report_error(&report, 0, "Error: Unable to write to standard output: %s", system_error_text(&report));
    return kExitFailure;
  }
  return status;
}
