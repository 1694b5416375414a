// The command-line matrix: case rule, short and long forms, unknown options, positional
// arguments, --help winning and the verbosity precedence. Then whole runs in this process:
// the frame period a conversion inserts, and runs that follow one another.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "platform/platform.h"
#include "report/report.h"
#include "tests/support/asf_builder.h"
#include "tests/support/asf_packets.h"
#include "vc1/vc1.h"

namespace {

// The options of the last parse.
Options parsed;

// Parses a command line given without the program name into `parsed`.
int parse(const std::vector<const char*>& args) {
  static std::vector<std::string> storage;
  static std::vector<char*> argv;
  storage.assign({"tarvel"});
  for (const char* a : args) storage.emplace_back(a);
  argv.clear();
  for (std::string& s : storage) argv.push_back(s.data());
  std::memset(&parsed, 0xA5, sizeof parsed);  // whatever a previous run left
  return parse_command_line(static_cast<int>(argv.size()), argv.data(), &parsed);
}

uint32_t option_is_set(uint32_t id) { return option_is_set(&parsed, id); }
uint32_t options_verbosity() { return options_verbosity(&parsed); }

TEST(CommandLine, NoArgumentsAsksForUsage) {
  EXPECT_EQ(parse({}), 0);
  EXPECT_EQ(option_is_set(OPT_HELP), 0u);
  EXPECT_EQ(parsed.bad_argument, nullptr);  // nothing to name
}

TEST(CommandLine, InputAloneIsAnInformationRun) {
  EXPECT_NE(parse({"in.wmv"}), 0);
  EXPECT_STREQ(parsed.input_path, "in.wmv");
  EXPECT_EQ(parsed.output_path, nullptr);
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
  for (const char* bad :
       {"-npar2", "--verbose=4", "-v", "--verbose", "--verbose=02", "-x", "---", "--timestamps="}) {
    EXPECT_EQ(parse({bad, "in.wmv", "out.vc1"}), 0) << bad;
  }
}

TEST(CommandLine, ThirdPositionalArgumentAsksForUsage) {
  EXPECT_EQ(parse({"in.wmv", "out.vc1", "more", "-bogus", "last"}), 0);
  EXPECT_STREQ(parsed.input_path, "in.wmv");
  EXPECT_STREQ(parsed.output_path, "out.vc1");
  // The first argument that could not be parsed is kept, to be named.
  EXPECT_STREQ(parsed.bad_argument, "more");
  EXPECT_EQ(parsed.bad_argument_error, kArgumentUnexpected);
}

TEST(CommandLine, StreamTakesANumberFrom1To127) {
  struct Case {
    const char* argument;
    uint32_t stream;  // 0: a usage error
  };
  const Case cases[] = {
      {"-s2", 2},   {"-S127", 127},   {"--stream=1", 1},  {"--STREAM=064", 64}, {"-s0", 0},
      {"-s128", 0}, {"--stream=", 0}, {"--stream=2x", 0}, {"-s-3", 0},          {"-s99999999999", 0},
  };
  for (const Case& c : cases) {
    int result = parse({"in.wmv", c.argument});
    EXPECT_EQ(result != 0, c.stream != 0) << c.argument;
    EXPECT_EQ(parsed.stream, c.stream) << c.argument;
    EXPECT_EQ(option_is_set(OPT_STREAM), c.stream != 0 ? 1u : 0u) << c.argument;
    if (c.stream == 0) {
      EXPECT_STREQ(parsed.bad_argument, c.argument);
      EXPECT_EQ(parsed.bad_argument_error, kArgumentUnrecognised) << c.argument;
    }
  }
  EXPECT_NE(parse({"-s3", "in.wmv", "--stream=5"}), 0);  // the last one given counts
  EXPECT_EQ(parsed.stream, 5u);
}

TEST(CommandLine, OptionsMayFollowThePaths) {
  EXPECT_NE(parse({"in.wmv", "out.vc1", "-nseq", "-v3"}), 0);
  EXPECT_STREQ(parsed.output_path, "out.vc1");
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

TEST(CommandLine, HelpTextListsEveryOption) {
  std::string help = kExtendedHelpText;
  EXPECT_EQ(std::count(help.begin(), help.end(), '\n'), 41);
  for (const char* line : {"\n-sN or --stream=N ", "\n-h or --help ", "\n-y or --yes ", "\n--version ",
                           "\n--timestamps=FILE ", "\n--json ", "\n--plot=FILE.svg "}) {
    EXPECT_NE(help.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(help.front(), '\n');
  EXPECT_NE(std::string(kUsageText).find("TARVEL [<option(s)>] <input.wmv> <output.vc1>"), std::string::npos);
}

}  // namespace

namespace {

struct WholeRunResult {
  int status = -1;
  std::string console;
  std::string out;
};

// Runs the program in this process with the arguments given after the program name.
WholeRunResult run_in_process(const std::vector<std::string>& args) {
  std::vector<std::string> storage = {"tarvel"};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  WholeRunResult run;
  Report report;
  report.capture_console = &run.console;
  report.capture_out = &run.out;
  run.status = run_tarvel(static_cast<int>(argv.size()), argv.data(), &report);
  return run;
}

void expect_same(const WholeRunResult& run, const WholeRunResult& first, const std::string& what) {
  EXPECT_EQ(run.status, first.status) << what;
  EXPECT_EQ(run.console, first.console) << what;
  EXPECT_EQ(run.out, first.out) << what;
}

TEST(WholeRun, FramePeriodIsRoundedToTheNearestMicrosecond) {
  // A sequence header and an entry-point header, behind the one byte the codec data skips.
  const Bytes kCodecHeaders = {0x00, 0x00, 0x01, 0x0F, 0xDB, 0xFF, 0x3B, 0xF2, 0x1B,
                               0x08, 0x80, 0x00, 0x00, 0x01, 0x0E, 0x58, 0x68, 0x80};
  struct Case {
    uint64_t avg_time_per_frame;  // 100-ns units
    const char* line;
    uint32_t framerate_ind;
    uint32_t code;  // FRAMERATENR * 16 + FRAMERATEDR, or FRAMERATEEXP
  };
  const Case cases[] = {
      {333667, "-- Inserting Frame Period: 33367 uSecs (29.970 FPS)...\n", 0, 3 * 16 + 2},  // 30000/1001
      {15, "-- Inserting Frame Period: 2 uSecs (500000.000 FPS)...\n", 1, 0xFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.avg_time_per_frame);
    Bytes extension =
        build_header_extension({build_ext_stream_properties({.avg_time_per_frame = c.avg_time_per_frame})});
    Bytes file = build_header_object(
        {build_file_properties(3200), extension, build_stream_properties({.codec_data = kCodecHeaders})});
    append(&file, build_data_object({whole_object_packet(1, true, Bytes{0xC5, 0x01, 0x02})}, 3200));
    std::string dir = make_scratch_dir();
    ASSERT_TRUE(write_file(dir + "/in.wmv", file));

    WholeRunResult run = run_in_process({"-v1", dir + "/in.wmv", dir + "/out.vc1"});
    EXPECT_EQ(run.status, kExitSuccess);
    EXPECT_NE(run.out.find(c.line), std::string::npos) << run.out;
    Bytes output = read_file(dir + "/out.vc1");
    HeaderBuffer headers;
    headers.count = static_cast<uint32_t>(std::min<size_t>(output.size(), kHeaderBufferSize));
    std::memcpy(headers.data, output.data(), headers.count);
    Vc1HeaderTable table;
    vc1_table_init(&table);
    ASSERT_EQ(vc1_parse_headers(&headers, &table), kVc1HeadersWhole);
    EXPECT_EQ(vc1_get_field(&table, VC1_FRAMERATE_FLAG), 1u);
    EXPECT_EQ(vc1_get_field(&table, VC1_FRAMERATEIND), c.framerate_ind);
    EXPECT_EQ(c.framerate_ind == 0
                  ? vc1_get_field(&table, VC1_FRAMERATENR) * 16 + vc1_get_field(&table, VC1_FRAMERATEDR)
                  : vc1_get_field(&table, VC1_FRAMERATEEXP),
              c.code);
  }
}

TEST(WholeRun, EachRunStartsFromTheDefaultsWhateverRanBefore) {
  std::string sample = testdata_path("vc1ap_240x104.wmv");
  WholeRunResult plain = run_in_process({sample});
  WholeRunResult terse = run_in_process({"-v1", sample});
  ASSERT_NE(terse.out, plain.out);
  expect_same(run_in_process({sample}), plain, "default after -v1");
  expect_same(run_in_process({"-v1", sample}), terse, "-v1 again");
  run_in_process({"-v0", sample});
  expect_same(run_in_process({sample}), plain, "default after -v0");

  // Conversions: one without aspect ratio and frame rate, one with, the first again.
  std::string dir = make_scratch_dir();
  WholeRunResult bare = run_in_process({"-npar", "-nfrm", sample, dir + "/bare.vc1"});
  Bytes bare_stream = read_file(dir + "/bare.vc1");
  WholeRunResult full = run_in_process({"-v3", sample, dir + "/full.vc1"});
  ASSERT_EQ(full.status, kExitSuccess);
  expect_same(run_in_process({"-y", "-npar", "-nfrm", sample, dir + "/bare.vc1"}), bare, "conversion again");
  EXPECT_NE(read_file(dir + "/full.vc1"), bare_stream);
  EXPECT_EQ(read_file(dir + "/bare.vc1"), bare_stream);

#ifndef _WIN32
  // A stop request that ended one run does not stop the next (a signal stands in for
  // Ctrl-C, which Windows delivers to a console only).
  platform_catch_interrupts();
  raise(SIGINT);
  ASSERT_NE(platform_interrupt_signal(), 0);
  expect_same(run_in_process({"-y", "-npar", "-nfrm", sample, dir + "/bare.vc1"}), bare, "after a stop");
  EXPECT_EQ(read_file(dir + "/bare.vc1"), bare_stream);
#endif
}

}  // namespace
