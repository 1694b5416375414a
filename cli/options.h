// The command line: one input path, an optional output path, switches and options with a
// value, parsed into an options record that the run passes down.
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
  OPT_YES = 8,          // answer Y to the overwrite prompt without asking
  OPT_VERSION = 9,      // print the version and stop
  OPT_STREAM = 10,      // -sN / --stream=N: convert stream N
  OPT_TIMESTAMPS = 11,  // --timestamps=FILE: also write the written frames' times to FILE
  OPT_JSON = 12,        // the report as one JSON document on standard output
  OPT_VERBOSE = 13,     // --verbose=N / --verbose N: the level N, as -vN
  OPT_PLOT = 14,        // --plot=FILE.svg: also draw the bitrate and buffer picture into FILE
  OPT_END = 15,
};

// Why the command line could not be parsed.
enum ArgumentError : uint32_t {
  kArgumentOk = 0,
  kArgumentUnrecognised = 1,  // an option no row matches, or an option value that does not parse
  kArgumentUnexpected = 2,    // a third positional argument
  kArgumentNeedsOutput = 3,   // an option that belongs to a conversion, with no output path
  kArgumentNeedsValue = 4,    // an option that takes a value, last on the command line
};

// One run's command line. Paths point into the argument vector; null when absent.
struct Options {
  const char* input_path;
  const char* output_path;
  uint32_t set[OPT_END];        // per option id: 1 when given
  uint32_t stream;              // --stream: the stream number 1..127; 0 when not given
  const char* timestamps_path;  // --timestamps: the file for the frames' times; null when not given
  const char* plot_path;        // --plot: the file for the bitrate picture; null when not given
  // The first argument that could not be parsed, and why; null and kArgumentOk when none.
  // An option whose value came as the next argument names that too (else null).
  const char* bad_argument;
  const char* bad_argument_value;
  ArgumentError bad_argument_error;
};

// Takes the value that follows an option's form into the options record; false when the
// value is not one the option accepts.
typedef bool (*OptionValueParser)(const char* value, Options* options);

struct OptionEntry {
  uint32_t id;
  const char* short_form;
  const char* long_form;
  // Null for a switch, which matches its forms exactly. An option with a value matches
  // an argument that starts with one of its forms and hands the rest to the parser, or an
  // argument that is one of its forms without the "=", whose value is the next argument.
  OptionValueParser parse_value;
};

extern const char kUsageText[];
extern const char kExtendedHelpText[];

// Matches the arguments (element 0, the program name, is skipped) against the option
// table and fills `options` from a clean state. Option forms compare with letters A-Z in
// either case; everything else exactly. "-" alone is a path (the standard streams), and
// "--" ends the options: every argument after it is a path. Returns non-zero when the run
// may go on, 0 when it cannot (an unknown option or a bad or missing option value, a
// third positional argument, --timestamps without an output path, or no input path
// without --help or --version).
int parse_command_line(int argc, char** argv, Options* options);

// The set flag of the option with this id (0 for an id not in the table).
uint32_t option_is_set(const Options* options, uint32_t id);

// Verbosity level chosen by the -v options: the highest requested wins; 2 without any.
uint32_t options_verbosity(const Options* options);

#endif  // TARVEL_CLI_OPTIONS_H_
