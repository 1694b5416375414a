// The built binary from a user's point of view: usage and help, unusable inputs, and the
// overwrite prompt answered on a real pseudo-terminal.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <string>

#include "tests/support/run_binary.h"

namespace {

const std::string kBanner = "\nTARVEL version " TARVEL_VERSION
                            "\nDemuxes WMV WVC1 to VC-1 Elementary Stream. Advanced Profile Only.\n\n";

std::string usage_text() { return load_file(testdata_path("expected/usage.txt")); }
std::string help_text() { return load_file(testdata_path("expected/help.txt")); }

TEST(UsageRun, NoArgumentsPrintsTheUsageAndFailsAsUsageError) {
  BinaryRun run = run_tarvel_binary({});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, kBanner + usage_text());
  EXPECT_EQ(run.err, "");
}

TEST(UsageRun, UnparsableArgumentIsNamedBeforeTheUsage) {
  std::string sample = testdata_path("vc1ap_240x104.wmv");
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"-x", sample}, "Error: Unrecognised option: -x\n"},
      {{sample, "--stream=128", "-y"}, "Error: Unrecognised option: --stream=128\n"},
      {{sample, "out.vc1", "extra", "-q"}, "Error: Unexpected argument: extra\n"},
  };
  for (const Case& c : cases) {
    BinaryRun run = run_tarvel_binary(c.args);
    EXPECT_EQ(run.status, 2) << c.error;
    EXPECT_EQ(run.out, kBanner + usage_text()) << c.error;
    EXPECT_EQ(run.err, c.error);
  }
}

TEST(UsageRun, HelpGoesToTheConsoleAndWinsOverEverythingElse) {
  std::string dir = make_scratch_dir();
  for (auto args : {std::vector<std::string>{"--help"},
                    std::vector<std::string>{"--help", "-bogus", dir + "/in.wmv", dir + "/out.vc1"}}) {
    BinaryRun run = run_tarvel_binary(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kBanner);  // standard output gets the banner only
    EXPECT_EQ(run.err, usage_text() + help_text());
  }
  EXPECT_FALSE(file_exists(dir + "/out.vc1"));
}

}  // namespace

// The rest needs a POSIX system: its texts, links, a pseudo-terminal, /dev/full (the
// Windows counterparts are among the golden runs).
#ifndef _WIN32
namespace {

TEST(InputRun, MissingInputIsReportedWithTheSystemText) {
  std::string path = make_scratch_dir() + "/missing.wmv";
  BinaryRun run = run_tarvel_binary({path});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kBanner);
  EXPECT_EQ(run.err, "Unable to open input file " + path + ": No such file or directory\n\n");
}

TEST(InputRun, DirectoryAsInputIsRefused) {
  std::string dir = make_scratch_dir();
  BinaryRun run = run_tarvel_binary({dir, dir + "/out.vc1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Unable to open input file " + dir + ": Is a directory\n\n");
  EXPECT_FALSE(file_exists(dir + "/out.vc1"));
}

// With --json, standard output carries the document alone: the stream cannot go there, and
// the usage of a command line that stops the run goes to standard error.
TEST(UsageRun, JsonKeepsStandardOutputForTheDocument) {
  std::string sample = testdata_path("vc1ap_240x104.wmv");
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"--json", sample, "/dev/stdout"},
       "Error: --json writes the report to standard output; the output cannot go there.\n"},
      {{"--json", "-x", sample}, "Error: Unrecognised option: -x\n"},
  };
  for (const auto& c : cases) {
    BinaryRun run = run_tarvel_binary(c.args);
    EXPECT_EQ(run.status, 2) << c.error;
    EXPECT_EQ(run.out, "") << c.error;
    EXPECT_EQ(run.err, kBanner + c.error + usage_text());
  }
}

// The overwrite prompt, answered by typing on the terminal the program runs on.
class OverwritePrompt : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = make_scratch_dir();
    input_ = dir_ + "/in.wmv";
    output_ = dir_ + "/out.vc1";
    save_file(input_, load_file(testdata_path("vc1ap_240x104.wmv")));
    save_file(output_, "previous contents");
  }
  BinaryRun answer(const std::string& keys, const std::string& output) {
    return run_tarvel_in_terminal({"-v1", input_, output}, "(y/N):", keys, dir_);
  }
  std::string dir_, input_, output_;
};

TEST_F(OverwritePrompt, LowerOrUpperCaseYReplacesTheOutput) {
  for (std::string key : {"y", "Y"}) {
    save_file(output_, "previous contents");
    BinaryRun run = answer(key, output_);
    EXPECT_EQ(run.status, 0) << key;
    const std::string prompt = "\nOutput file " + output_ + " already exists - Overwrite? (y/N):";
    EXPECT_NE(run.terminal.find(prompt), std::string::npos);
    EXPECT_EQ(run.err, prompt + key + "\n");  // a log has the prompt and the answer echoed
    std::string out = load_file(output_);
    ASSERT_GE(out.size(), 8u);
    EXPECT_EQ(out.substr(0, 4), std::string("\x00\x00\x01\x0F", 4));
    EXPECT_EQ(out.substr(out.size() - 4), std::string("\x00\x00\x01\x0A", 4));
  }
}

TEST_F(OverwritePrompt, AnyOtherKeyLeavesTheOutputAlone) {
  for (std::string key : {"n", "\r", "q"}) {
    BinaryRun run = answer(key, output_);
    EXPECT_EQ(run.status, 1) << key;
    EXPECT_EQ(load_file(output_), "previous contents") << key;
    EXPECT_EQ(run.out.find("Generating modified headers"), std::string::npos) << key;
  }
}

TEST_F(OverwritePrompt, PromptStaysOffARedirectedStandardOutput) {
  BinaryRun run = answer("n", output_);
  EXPECT_EQ(run.out.find("Overwrite?"), std::string::npos);
  EXPECT_NE(run.terminal.find("Overwrite?"), std::string::npos);
}

TEST_F(OverwritePrompt, NoTerminalMeansNo) {
  BinaryRun run = run_tarvel_binary({"-v1", input_, output_}, dir_);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(load_file(output_), "previous contents");
  EXPECT_NE(run.err.find("already exists - Overwrite? (y/N):"), std::string::npos);
}

TEST_F(OverwritePrompt, OutputNamingTheInputNeverTouchesIt) {
  std::string original = load_file(input_);
  ASSERT_EQ(link(input_.c_str(), (dir_ + "/hard.wmv").c_str()), 0);
  ASSERT_EQ(symlink(input_.c_str(), (dir_ + "/soft.wmv").c_str()), 0);
  for (std::string output : {input_, std::string("in.wmv"), dir_ + "/hard.wmv", dir_ + "/soft.wmv"}) {
    BinaryRun run = answer("y", output);
    EXPECT_EQ(run.status, 1) << output;
    EXPECT_NE(run.terminal.find("\nUnable to overwrite output file: Device or resource busy\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(load_file(input_), original) << output;
  }
}

// Level-0 text at a terminal: shown there, and kept in standard error as well when that is
// a log file, but shown once when standard error is the terminal.
TEST(TerminalRun, ErrorsShowOnTheTerminalAndReachARedirectedStandardError) {
  std::string dir = make_scratch_dir();
  const std::string error = "Unable to open input file " + dir + "/missing.wmv: No such file or directory\n";
  for (std::string err_file : {dir + "/err.log", std::string()}) {
    BinaryRun run = run_tarvel_at_terminal({dir + "/missing.wmv"}, err_file);
    EXPECT_EQ(run.status, 1) << err_file;
    size_t first = run.terminal.find(error);
    EXPECT_NE(first, std::string::npos) << run.terminal;
    EXPECT_EQ(run.terminal.find(error, first + 1), std::string::npos) << run.terminal;
    EXPECT_EQ(run.err, err_file.empty() ? "" : error + "\n") << err_file;
  }
}

TEST(OutputRun, UncreatableOutputIsReportedWithTheSystemText) {
  std::string dir = make_scratch_dir();
  BinaryRun run =
      run_tarvel_binary({"-v1", testdata_path("vc1ap_240x104.wmv"), dir + "/no/such/dir/out.vc1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "\nUnable to create output file: No such file or directory\n");
}

}  // namespace

namespace {

TEST(OutputRun, UnwritableStandardOutputIsAFailure) {
  std::string dir = make_scratch_dir();
  // setsid: no controlling terminal, so the console text lands in the captured stderr.
  std::string command = std::string("setsid -w ") + TARVEL_BINARY + " '" +
                        testdata_path("vc1ap_240x104.wmv") + "' > /dev/full 2> '" + dir + "/err'";
  int rc = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(WEXITSTATUS(rc), 1);
  EXPECT_EQ(load_file(dir + "/err"), "Error: Unable to write to standard output: No space left on device\n");
}

}  // namespace
#endif  // !_WIN32
