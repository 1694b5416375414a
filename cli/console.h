// The front end's console dialogue: the output file with its overwrite prompt.
#ifndef TARVEL_CLI_CONSOLE_H_
#define TARVEL_CLI_CONSOLE_H_

#include "platform/platform.h"

// Creates an output of the run at `path`: `kind` names it in the messages ("output",
// "timestamps"). When it exists, asks on the console whether to overwrite it (one key, y/Y
// replaces it), or with `assume_yes` replaces it without asking. The input file is never
// replaced, and a path naming `taken` (an output already open, or kInvalidFile) is refused
// before anything is asked. Returns the open file, or kInvalidFile after printing why
// (nothing is printed for the answer No, or an interrupted prompt).
PlatformFile open_output_file(const char* path, const char* kind, PlatformFile input, PlatformFile taken,
                              bool assume_yes);

#endif  // TARVEL_CLI_CONSOLE_H_
