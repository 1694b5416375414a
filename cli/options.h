// The command line: one input path, an optional output path and a fixed set of switches.
#ifndef TARVEL_CLI_OPTIONS_H_
#define TARVEL_CLI_OPTIONS_H_

#include <cstdint>

enum OptionId : uint32_t {
  OPT_HELP = 0,
  OPT_NO_PAR = 1,
  OPT_NO_FRAMERATE = 2,
  OPT_NO_REPEAT_SEQ = 3,
  OPT_VERBOSE_0 = 4,
  OPT_VERBOSE_1 = 5,
  OPT_VERBOSE_2 = 6,
  OPT_VERBOSE_3 = 7,
  OPT_YES = 8,      // answer Y to the overwrite prompt without asking
  OPT_VERSION = 9,  // print the version and stop
  OPT_END = 10,
};

struct OptionEntry {
  uint32_t id;
  const char* short_form;
  const char* long_form;
  uint32_t set;
};

// Paths point into the argument vector; null when absent.
extern const char* input_path;
extern const char* output_path;

extern const char kUsageText[];
extern const char kExtendedHelpText[];

// Matches the arguments (element 0, the program name, is skipped) against the option
// table. Option forms compare with letters A-Z in either case; everything else exactly.
// Returns non-zero when the run may go on, 0 when the usage must be printed (unknown
// option, third positional argument, or no input path without --help or --version).
int parse_command_line(int argc, char** argv);

// The set flag of the option with this id (0 for an id not in the table).
uint32_t option_is_set(uint32_t id);

// Verbosity level chosen by the -v options: the highest requested wins; 2 without any.
uint32_t options_verbosity();

// Clears every set flag and both paths, as at process start. For tests.
void options_reset();

#endif  // TARVEL_CLI_OPTIONS_H_
