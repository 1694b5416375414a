// The option table and the command-line parser.
#include "cli/options.h"

#include <cstring>

#include "platform/ascii.h"

namespace {

// --stream=N: a stream number 1..127 in decimal digits.
bool parse_stream(const char* value, Options* options) {
  uint32_t number = 0;
  for (const char* p = value; *p != '\0'; p++) {
    if (*p < '0' || *p > '9') return false;
    number = number * 10 + static_cast<uint32_t>(*p - '0');
    if (number > 127) return false;
  }
  if (number == 0) return false;  // no digits, or 0
  options->stream = number;
  return true;
}

// --verbose=N: the level 0..3, one digit, as -vN.
bool parse_verbose(const char* value, Options* options) {
  if (value[0] < '0' || value[0] > '3' || value[1] != '\0') return false;
  options->set[OPT_VERBOSE_0 + static_cast<uint32_t>(value[0] - '0')] = 1;
  return true;
}

// --timestamps=FILE: any path that is not empty.
bool parse_timestamps(const char* value, Options* options) {
  if (*value == '\0') return false;
  options->timestamps_path = value;
  return true;
}

// --plot=FILE: any path that is not empty.
bool parse_plot(const char* value, Options* options) {
  if (*value == '\0') return false;
  options->plot_path = value;
  return true;
}

const OptionEntry kOptions[] = {
    {OPT_HELP, "-h", "--help", nullptr},
    {OPT_NO_PAR, "-npar", "--no-par", nullptr},
    {OPT_NO_FRAMERATE, "-nfrm", "--no-framerate", nullptr},
    {OPT_NO_REPEAT_SEQ, "-nseq", "--no-repeat-sequence-header", nullptr},
    {OPT_VERBOSE_0, "-v0", "--verbose=0", nullptr},
    {OPT_VERBOSE_1, "-v1", "--verbose=1", nullptr},
    {OPT_VERBOSE_2, "-v2", "--verbose=2", nullptr},
    {OPT_VERBOSE_3, "-v3", "--verbose=3", nullptr},
    {OPT_YES, "-y", "--yes", nullptr},
    {OPT_VERSION, "--version", "--version", nullptr},
    {OPT_STREAM, "-s", "--stream=", parse_stream},
    {OPT_TIMESTAMPS, "--timestamps=", "--timestamps=", parse_timestamps},
    {OPT_JSON, "--json", "--json", nullptr},
    {OPT_VERBOSE, "--verbose=", "--verbose=", parse_verbose},
    {OPT_PLOT, "--plot=", "--plot=", parse_plot},
    {OPT_END, "", "", nullptr},
};

// The value behind `form` when the argument starts with it (letters in either case), else
// null.
const char* value_after(const char* argument, const char* form) {
  size_t n = std::strlen(form);
  for (size_t i = 0; i < n; i++) {
    if (argument[i] == '\0' || ascii_lower(argument[i]) != ascii_lower(form[i])) return nullptr;
  }
  return argument + n;
}

// Whether the argument is `form` without its "=", if it has one (letters in either case):
// the option, whose value is the next argument.
bool is_bare_form(const char* argument, const char* form) {
  size_t n = std::strlen(form);
  if (n > 0 && form[n - 1] == '=') n--;
  for (size_t i = 0; i < n; i++) {
    if (argument[i] == '\0' || ascii_lower(argument[i]) != ascii_lower(form[i])) return false;
  }
  return argument[n] == '\0';
}

// Whether the argument is this row's option; an option with a value takes it here.
// `bad_value` is set when the form matched but the value did not parse; `value_next` when
// the value is the next argument.
bool matches(const OptionEntry& row, const char* argument, Options* options, bool* bad_value,
             bool* value_next) {
  if (row.parse_value == nullptr) {
    return ascii_equal_ignoring_case(argument, row.short_form) ||
           ascii_equal_ignoring_case(argument, row.long_form);
  }
  if (is_bare_form(argument, row.long_form) || is_bare_form(argument, row.short_form)) {
    *value_next = true;
    return true;
  }
  const char* value = value_after(argument, row.long_form);
  if (value == nullptr) value = value_after(argument, row.short_form);
  if (value == nullptr) return false;
  *bad_value = !row.parse_value(value, options);
  return true;
}

void note_bad_argument(Options* options, const char* argument, ArgumentError error,
                       const char* value = nullptr) {
  if (options->bad_argument != nullptr) return;
  options->bad_argument = argument;
  options->bad_argument_value = value;
  options->bad_argument_error = error;
}

}  // namespace

const char kUsageText[] =
    "Primary Usage: To Convert an ASF/WMV WVC1 input file to a VC-1 ES output file:\n\n"
    "  TARVEL [<option(s)>] <input.wmv> <output.vc1>\n\n"
    "Other Usage:\n"
    "  TARVEL <input.wmv>   Summary info only about WMV file <input.wmv>\n"
    "  TARVEL <input.vc1>   Summary info only about VC-1 ES file <input.vc1>\n"
    "  TARVEL  --help       Display a list of other available <options>.\n";

const char kExtendedHelpText[] =
    "\n"
    "------- Output control flags. These affect the generated VC-1 file. ---------\n"
    "Default, and recommended: NONE of the below. See readme.txt for more info.\n"
    "\n"
    "-npar or --no-par          Ignore any PAR info found in the WMV file.\n"
    "-nfrm or --no-framerate    Ignore the framerate specified in the WMV file.\n"
    "-nseq or --no-repeat-sequence-header  Include VC-1 Sequence Hdr only once[1].\n"
    "-sN or --stream=N          Convert video stream N (1-127) instead of the one\n"
    "                           with the highest bitrate.\n"
    "\n"
    "---- Screen display level. Does not affect output file. Select only one. ----\n"
    "-v0 or --verbose=0  None except critical errors or prompts[2].\n"
    "-v1 or --verbose=1  Several lines of basic information.\n"
    "-v2 or --verbose=2  [default] All info incl compact \"char-per-frame\" table.\n"
    "-v3 or --verbose=3  Detailed \"line-per-frame\" listing replaces table above.\n"
    "\n"
    "------------------------------- Other options. ------------------------------\n"
    "-h or --help        Show this list of options.\n"
    "-y or --yes         Overwrite an existing output file without asking.\n"
    "--timestamps=FILE   Also write the time of every frame written to FILE, in\n"
    "                    timestamp format v2, for a muxer to keep the timing.\n"
    "--version           Print the program's version and stop.\n"
    "--json              Report as one JSON document on stdout instead of text.\n"
    "--plot=FILE.svg     Also draw the bitrate and buffer picture into FILE (SVG).\n"
    "\n"
    "Notes:\n"
    "[1] A concatenated VC-1 Sequence Header and Entry Point Hdr pair is inserted\n"
    "    prior to the first frame only; the remainder of the keyframes are preceded\n"
    "    by an Entry Point Hdr only. Default: Use the pair for before each keyframe.\n"
    "[2] -v0 messages (errors, notes) are sent to stderr, so they stay visible when\n"
    "    the app's command line output is redirected (and hence will NOT appear in\n"
    "    the redirected file); \"Overwrite File?\" prompts are asked on the terminal.\n"
    "    All other output is sent to stdout to permit easy redirection to a text file.\n"
    "[3] \"nul:\" or \"nul\" may be specified as the output file to force a full demux\n"
    "    without actually producing any output. This is a convenient and fast way to\n"
    "    get extended details or simply to perform general testing.\n"
    "[4] \"-\" as the input reads standard input, as the output writes standard\n"
    "    output; \"--\" ends the options. A value may also be the next argument:\n"
    "    --stream 2, --timestamps ts.txt, --verbose 3.\n"
    "[5] The bitrate figures follow the summary; with --plot and no output file\n"
    "    the stream is demuxed as for \"nul\", to draw the frames it would hold.\n";

int parse_command_line(int argc, char** argv, Options* options) {
  std::memset(options, 0, sizeof *options);
  int no_input_needed = 0;
  const char* timestamps_argument = nullptr;
  bool options_ended = false;
  for (int i = 1; i < argc; i++) {
    const char* argument = argv[i];
    if (!options_ended && std::strcmp(argument, "--") == 0) {
      options_ended = true;
      continue;
    }
    if (options_ended || argument[0] != '-' || argument[1] == '\0') {
      if (options->input_path == nullptr) {
        options->input_path = argument;
      } else if (options->output_path == nullptr) {
        options->output_path = argument;
      } else {
        note_bad_argument(options, argument, kArgumentUnexpected);
      }
      continue;
    }
    bool bad_value = false;
    bool value_next = false;
    const OptionEntry* row = kOptions;
    while (row->id != OPT_END && !matches(*row, argument, options, &bad_value, &value_next)) row++;
    if (row->id == OPT_END || bad_value) {
      note_bad_argument(options, argument, kArgumentUnrecognised);
      continue;
    }
    if (value_next) {
      if (i + 1 == argc) {
        note_bad_argument(options, argument, kArgumentNeedsValue);
        continue;
      }
      const char* value = argv[++i];
      if (!row->parse_value(value, options)) {
        note_bad_argument(options, argument, kArgumentUnrecognised, value);
        continue;
      }
    }
    options->set[row->id] = 1;
    if (row->id == OPT_HELP || row->id == OPT_VERSION) no_input_needed = 1;
    if (row->id == OPT_TIMESTAMPS) timestamps_argument = argument;
  }
  // The times are those of the frames a conversion writes: without an output there are none.
  if (timestamps_argument != nullptr && options->output_path == nullptr) {
    note_bad_argument(options, timestamps_argument, kArgumentNeedsOutput);
  }
  bool valid = options->bad_argument == nullptr;
  return (options->input_path != nullptr || no_input_needed) && valid ? 1 : 0;
}

uint32_t option_is_set(const Options* options, uint32_t id) { return id < OPT_END ? options->set[id] : 0; }

uint32_t options_verbosity(const Options* options) {
  if (option_is_set(options, OPT_VERBOSE_3)) return 3;
  if (option_is_set(options, OPT_VERBOSE_2)) return 2;
  if (option_is_set(options, OPT_VERBOSE_1)) return 1;
  if (option_is_set(options, OPT_VERBOSE_0)) return 0;
  return 2;
}
