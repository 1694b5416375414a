// The option table and the command-line parser.
#include "cli/options.h"

#include "platform/ascii.h"

const char* input_path = nullptr;
const char* output_path = nullptr;

namespace {

OptionEntry g_options[] = {
    {OPT_HELP, "-h", "--help", 0},
    {OPT_NO_PAR, "-npar", "--no-par", 0},
    {OPT_NO_FRAMERATE, "-nfrm", "--no-framerate", 0},
    {OPT_NO_REPEAT_SEQ, "-nseq", "--no-repeat-sequence-header", 0},
    {OPT_VERBOSE_0, "-v0", "--verbose=0", 0},
    {OPT_VERBOSE_1, "-v1", "--verbose=1", 0},
    {OPT_VERBOSE_2, "-v2", "--verbose=2", 0},
    {OPT_VERBOSE_3, "-v3", "--verbose=3", 0},
    {OPT_YES, "-y", "--yes", 0},
    {OPT_VERSION, "--version", "--version", 0},
    {OPT_END, "", "", 0},
};

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
    "\n"
    "---- Screen display level. Does not affect output file. Select only one. ----\n"
    "-v0 or --verbose=0  None except critical errors or prompts[2].\n"
    "-v1 or --verbose=1  Several lines of basic information.\n"
    "-v2 or --verbose=2  [default] All info incl compact \"char-per-frame\" table.\n"
    "-v3 or --verbose=3  Detailed \"line-per-frame\" listing replaces table above.\n"
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

int parse_command_line(int argc, char** argv) {
  int valid = 1;
  int no_input_needed = 0;
  for (int i = 1; i < argc; i++) {
    const char* argument = argv[i];
    if (argument[0] == '-') {
      OptionEntry* row = g_options;
      // Letters A-Z match in either case; every other byte (UTF-8 included) must be equal.
      while (row->id != OPT_END && !ascii_equal_ignoring_case(argument, row->short_form) &&
             !ascii_equal_ignoring_case(argument, row->long_form)) {
        row++;
      }
      if (row->id == OPT_END) {
        valid = 0;  // unrecognised option
        continue;
      }
      row->set = 1;
      if (row->id == OPT_HELP || row->id == OPT_VERSION) no_input_needed = 1;
    } else if (input_path == nullptr) {
      input_path = argument;
    } else if (output_path == nullptr) {
      output_path = argument;
    } else {
      valid = 0;  // a third positional argument
    }
  }
  return (input_path != nullptr || no_input_needed) ? valid : 0;
}

uint32_t option_is_set(uint32_t id) {
  for (const OptionEntry* row = g_options; row->id != OPT_END; row++) {
    if (row->id == id) return row->set;
  }
  return 0;
}

uint32_t options_verbosity() {
  if (option_is_set(OPT_VERBOSE_3)) return 3;
  if (option_is_set(OPT_VERBOSE_2)) return 2;
  if (option_is_set(OPT_VERBOSE_1)) return 1;
  if (option_is_set(OPT_VERBOSE_0)) return 0;
  return 2;
}

void options_reset() {
  for (OptionEntry* row = g_options; row->id != OPT_END; row++) row->set = 0;
  input_path = nullptr;
  output_path = nullptr;
}
