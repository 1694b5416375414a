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
};

// Opens the output at `output_path` and, unless `timestamps_path` is null, the timestamps
// file, all or nothing. First the refusals that need no question, for both: a path that
// names the input file (through any name or link) or a directory. Then each in turn: a
// new file is created; an existing one is asked about on the terminal (one key, y/Y
// replaces it), or with `assume_yes` replaced without asking, and with no terminal kept;
// the timestamps file may not be the output. Replaced files are cut only once both are
// open. Returns true with both open, or false after saying why (nothing is printed for the
// answer No, or an interrupted prompt), every existing file as it was and the files it
// created deleted again.
bool open_outputs(Report* report, const char* output_path, const char* timestamps_path, PlatformFile input,
                  bool assume_yes, RunOutputs* outputs);

#endif  // TARVEL_CLI_CONSOLE_H_
