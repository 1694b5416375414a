// The front end's console dialogue: the files a conversion writes, with the overwrite
// prompt.
#ifndef TARVEL_CLI_CONSOLE_H_
#define TARVEL_CLI_CONSOLE_H_

#include "platform/platform.h"

struct Report;

// The files a conversion writes.
struct RunOutputs {
  PlatformFile output;
  PlatformFile timestamps;  // kInvalidFile when no timestamps file was asked for
  PlatformFile plot;        // kInvalidFile when no picture was asked for
};

// The paths of the files a conversion writes: the output, and the timestamps file and the
// picture when asked for (else null).
struct OutputPaths {
  const char* output;
  const char* timestamps;
  const char* plot;
};

// Opens the output and the other files asked for, all or nothing. First the refusals that
// need no question, for each: a path that names the input file (through any name or link)
// or a directory. Then each in turn: a new file is created; an existing one is asked about
// on the terminal (one key, y/Y replaces it), or with `assume_yes` replaced without asking,
// and with no terminal kept; no file may be one opened before it. Replaced files are cut
// only once all are open. Returns true with all open, or false after saying why (nothing is
// printed for the answer No, or an interrupted prompt), every existing file as it was and
// the files it created deleted again.
bool open_outputs(Report* report, const OutputPaths* paths, PlatformFile input, bool assume_yes,
                  RunOutputs* outputs);

#endif  // TARVEL_CLI_CONSOLE_H_
