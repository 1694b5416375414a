// Property: any input file, converted with the whole program (header walk, stream choice,
// VC-1 header parse/edit/write, Data Object demux, frame report or JSON document) to the
// null output, runs to completion without reading or writing outside its memory, and the
// run ends with one of the three exit statuses.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/driver.h"
#include "report/report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fd = memfd_create("fuzz-input", 0);
  if (fd < 0) return 0;
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  std::string path = "/proc/self/fd/" + std::to_string(fd);

  // Every report line is produced (verbosity 3, and the table at level 2 on alternate
  // inputs; the JSON document on every third), but kept in memory.
  std::string console, out;
  console_capture(&console, &out);
  std::string verbosity = (size % 2 == 0) ? "-v3" : "-v2";
  std::string nseq = (size % 3 == 0) ? "-nseq" : (size % 3 == 1) ? "--json" : "-v2";
  char* argv[] = {const_cast<char*>("tarvel"), verbosity.data(), nseq.data(), path.data(),
                  const_cast<char*>("nul")};
  int status = run_tarvel(5, argv);
  console_capture(nullptr, nullptr);
  close(fd);
  if (status < 0 || status > 2) std::abort();
  return 0;
}
