// The front end's console dialogue: the output file with its overwrite prompt.
#ifndef TARVEL_CLI_CONSOLE_H_
#define TARVEL_CLI_CONSOLE_H_

#include "platform/platform.h"

// Creates the output at `path`. When it exists, asks on the console whether to overwrite
// it (one key, y/Y replaces it), or with `assume_yes` replaces it without asking; the
// input file is never replaced. Returns the open file, or kInvalidFile after printing why
// (nothing is printed for the answer No, or an interrupted prompt).
PlatformFile open_output_file(const char* path, PlatformFile input, bool assume_yes);

#endif  // TARVEL_CLI_CONSOLE_H_
