// The command-line matrix: case rule, short and long forms, unknown options, positional
// arguments, --help winning and the verbosity precedence.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

// Parses a command line given without the program name, from a clean state.
int parse(std::initializer_list<const char*> args) {
  static std::vector<std::string> storage;
  static std::vector<char*> argv;
  storage.assign({"tarvel"});
  for (const char* a : args) storage.emplace_back(a);
  argv.clear();
  for (std::string& s : storage) argv.push_back(s.data());
  options_reset();
  return parse_command_line(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, NoArgumentsAsksForUsage) {
  EXPECT_EQ(parse({}), 0);
  EXPECT_EQ(option_is_set(OPT_HELP), 0u);
}

TEST(CommandLine, InputAloneIsAnInformationRun) {
  EXPECT_NE(parse({"in.wmv"}), 0);
  EXPECT_STREQ(input_path, "in.wmv");
  EXPECT_EQ(output_path, nullptr);
}

TEST(CommandLine, OptionsMatchShortAndLongFormsInAnyLetterCase) {
  for (const char* form : {"-npar", "-NPAR", "--No-Par", "--NO-PAR"}) {
    EXPECT_NE(parse({form, "in.wmv"}), 0) << form;
    EXPECT_EQ(option_is_set(OPT_NO_PAR), 1u) << form;
    EXPECT_EQ(option_is_set(OPT_NO_FRAMERATE), 0u) << form;
  }
  EXPECT_NE(parse({"--no-repeat-sequence-header", "-NFRM", "in.wmv"}), 0);
  EXPECT_EQ(option_is_set(OPT_NO_REPEAT_SEQ), 1u);
  EXPECT_EQ(option_is_set(OPT_NO_FRAMERATE), 1u);
}

TEST(CommandLine, CaseFoldingCoversOnlyAsciiLetters) {
  // Bytes outside A-Z must be equal: a UTF-8 letter or a full-width sign never matches.
  EXPECT_EQ(parse({"-np\xC3\x81r", "in.wmv"}), 0);  // "-npÁr"
  EXPECT_EQ(parse({"--verbose\xEF\xBC\x9D"
                   "2",
                   "in.wmv"}),
            0);  // full-width "="
}

TEST(CommandLine, UnrecognisedOptionsAskForUsage) {
  for (const char* bad : {"-npar2", "-", "--verbose=4", "-v", "--verbose", "--verbose=02", "-x", "--"}) {
    EXPECT_EQ(parse({bad, "in.wmv", "out.vc1"}), 0) << bad;
  }
}

TEST(CommandLine, ThirdPositionalArgumentAsksForUsage) {
  EXPECT_EQ(parse({"in.wmv", "out.vc1", "more"}), 0);
  EXPECT_STREQ(input_path, "in.wmv");
  EXPECT_STREQ(output_path, "out.vc1");
}

TEST(CommandLine, OptionsMayFollowThePaths) {
  EXPECT_NE(parse({"in.wmv", "out.vc1", "-nseq", "-v3"}), 0);
  EXPECT_STREQ(output_path, "out.vc1");
  EXPECT_EQ(option_is_set(OPT_NO_REPEAT_SEQ), 1u);
  EXPECT_EQ(options_verbosity(), 3u);
}

TEST(CommandLine, HelpIsAcceptedWithoutInputAndAlongsideErrors) {
  EXPECT_NE(parse({"--help"}), 0);
  EXPECT_EQ(option_is_set(OPT_HELP), 1u);
  EXPECT_NE(parse({"-H", "in.wmv"}), 0);
  EXPECT_EQ(option_is_set(OPT_HELP), 1u);
  // An unknown option still fails the parse, but the help flag is set and wins.
  EXPECT_EQ(parse({"--help", "-bogus"}), 0);
  EXPECT_EQ(option_is_set(OPT_HELP), 1u);
}

TEST(CommandLine, HighestRequestedVerbosityWins) {
  parse({"in.wmv"});
  EXPECT_EQ(options_verbosity(), 2u);
  parse({"-v0", "-v3", "in.wmv"});
  EXPECT_EQ(options_verbosity(), 3u);
  parse({"-v3", "-v0", "in.wmv"});
  EXPECT_EQ(options_verbosity(), 3u);
  parse({"-v1", "--verbose=0", "in.wmv"});
  EXPECT_EQ(options_verbosity(), 1u);
  parse({"--VERBOSE=0", "in.wmv"});
  EXPECT_EQ(options_verbosity(), 0u);
}

TEST(CommandLine, UnknownOptionIdIsNeverSet) {
  parse({"-npar", "-nfrm", "-nseq", "-v0", "-v1", "-v2", "-v3", "-h", "in.wmv"});
  EXPECT_EQ(option_is_set(OPT_END), 0u);
  EXPECT_EQ(option_is_set(99), 0u);
}

TEST(CommandLine, HelpTextHasItsTwentyFiveLines) {
  std::string help = kExtendedHelpText;
  EXPECT_EQ(std::count(help.begin(), help.end(), '\n'), 25);
  EXPECT_EQ(help.front(), '\n');
  EXPECT_NE(std::string(kUsageText).find("TARVEL [<option(s)>] <input.wmv> <output.vc1>"), std::string::npos);
}

}  // namespace
