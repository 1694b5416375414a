// A Report of a test's own: level-0 text and the prompt land in `console`, the standard-
// output text in `out`, and nothing reaches the devices.
#ifndef TARVEL_TESTS_SUPPORT_CAPTURED_REPORT_H_
#define TARVEL_TESTS_SUPPORT_CAPTURED_REPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "report/report.h"

struct CapturedReport {
  std::string console;
  std::string out;
  Report report;

  explicit CapturedReport(uint32_t verbosity = kDefaultVerbosity) {
    report.verbosity = verbosity;
    report.capture_console = &console;
    report.capture_out = &out;
  }
  CapturedReport(const CapturedReport&) = delete;
  CapturedReport& operator=(const CapturedReport&) = delete;
};

// A JsonWriter output (json_init) that appends the document to the std::string given as
// its context.
inline void append_to_string(void* text, const char* bytes, size_t length) {
  static_cast<std::string*>(text)->append(bytes, length);
}

#endif  // TARVEL_TESTS_SUPPORT_CAPTURED_REPORT_H_
