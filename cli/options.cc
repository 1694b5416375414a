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

// --timestamps=FILE: any path that is not empty.
bool parse_timestamps(const char* value, Options* options) {
  if (*value == '\0') return false;
  options->timestamps_path = value;
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

// Whether the argument is this row's option; an option with a value takes it here.
// `bad_value` is set when the form matched but the value did not parse.
bool matches(const OptionEntry& row, const char* argument, Options* options, bool* bad_value) {
  if (row.parse_value == nullptr) {
    return ascii_equal_ignoring_case(argument, row.short_form) ||
           ascii_equal_ignoring_case(argument, row.long_form);
  }
  const char* value = value_after(argument, row.long_form);
  if (value == nullptr) value = value_after(argument, row.short_form);
  if (value == nullptr) return false;
  *bad_value = !row.parse_value(value, options);
  return true;
}

void note_bad_argument(Options* options, const char* argument, ArgumentError error) {
  if (options->bad_argument != nullptr) return;
  options->bad_argument = argument;
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
    "\n"
    "Notes:\n"
    "[1] A concatenated VC-1 Sequence Header and Entry Point Hdr pair is inserted\n"
    "    prior to the first frame only; the remainder of the keyframes are preceded\n"
    "    by an Entry Point Hdr only. Default: Use the pair for before each keyframe.\n"
    "[2] -v0 messages (e.g. \"Overwrite File?\" prompts, etc.) are sent to stderr\n"
    "    and will appear on the console even if the app's command line output is\n"
    "    redirected (and hence will NOT appear in the redirected file). All other\n"
    "    output is sent to stdout to permit easy redirection to a text file.\n"
    "[3] \"nul:\" or \"nul\" may be specified as the output file to force a full demux\n"
    "    without actually producing any output. This is a convenient and fast way to\n"
    "    get extended details or simply to perform general testing.\n";

int parse_command_line(int argc, char** argv, Options* options) {
  std::memset(options, 0, sizeof *options);
  int no_input_needed = 0;
  const char* timestamps_argument = nullptr;
  for (int i = 1; i < argc; i++) {
    const char* argument = argv[i];
    if (argument[0] != '-') {
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
    const OptionEntry* row = kOptions;
    while (row->id != OPT_END && !matches(*row, argument, options, &bad_value)) row++;
    if (row->id == OPT_END || bad_value) {
      note_bad_argument(options, argument, kArgumentUnrecognised);
      continue;
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
