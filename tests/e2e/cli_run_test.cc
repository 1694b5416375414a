// The built binary from a user's point of view: the command line's conventions, the
// refusals, and the overwrite prompt answered on a real pseudo-terminal.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/run_binary.h"

namespace {

const std::string kBanner = "\nTARVEL version " TARVEL_VERSION
                            "\nDemuxes WMV WVC1 to VC-1 Elementary Stream. Advanced Profile Only.\n\n";

std::string usage_text() { return load_file(testdata_path("expected/usage.txt")); }
std::string help_text() { return load_file(testdata_path("expected/help.txt")); }
const std::string kTry = "Try 'tarvel --help' for more information.\n";

// The command line as the shell's tools have it, through the built binary, in a folder
// with the sample as in.wmv, its elementary stream as in.vc1, a folder, and files old.vc1
// and old.txt holding "old". Every run leaves in.wmv, old.vc1 and old.txt as they were;
// new.vc1 and ts.txt exist afterwards only where the row says.
TEST(CommandLineRun, ConventionsOfTheShell) {
  const std::string kInput = " is the input file; nothing converted.\n", kThere = "cannot go there.\n" + kTry;
  const std::string kFolder = " is a directory; nothing converted.\n", kNoDir = "No such file or directory\n";
  struct Row {
    std::vector<std::string> args;
    int status;
    std::string err;    // standard error, whole; "*" before it: a line of it
    bool out = false;   // standard output gets the help (status 0) or the report (else nothing)
    bool made = false;  // new.vc1 (and ts.txt where asked for) written
  } rows[] = {
      // clang-format off
      {{"--help"}, 0, "", true},
      {{"--help", "-bogus", "in.wmv", "new.vc1"}, 0, "", true},
      {{}, 2, usage_text() + kTry},
      {{"-x", "in.wmv"}, 2, "Error: Unrecognised option: -x\n" + kTry},
      {{"in.wmv", "--stream=128", "-y"}, 2, "Error: Unrecognised option: --stream=128\n" + kTry},
      {{"in.wmv", "--stream", "0"}, 2, "Error: Unrecognised option: --stream 0\n" + kTry},
      {{"in.wmv", "new.vc1", "--timestamps"}, 2, "Error: Option needs a value: --timestamps\n" + kTry},
      {{"in.wmv", "new.vc1", "extra", "-q"}, 2, "Error: Unexpected argument: extra\n" + kTry},
      {{"--json", "in.wmv", "-"}, 2,
       "Error: --json writes the report to standard output; the output " + kThere},
      {{"-v0", "--stream", "1", "--timestamps", "ts.txt", "--", "-in.wmv", "new.vc1"}, 0, "", true, true},
      {{"-v0", "in.wmv", "./in.wmv", "-y"}, 1, "Error: Output file ./in.wmv" + kInput},
      {{"-v0", "in.wmv", "folder"}, 1, "Error: Output file folder" + kFolder},
      {{"-v0", "in.wmv", "new.vc1", "--timestamps=folder"}, 1, "Error: Timestamps file folder" + kFolder},
      {{"-v0", "in.wmv", "old.vc1"}, 1,
       "Output file old.vc1 exists; not overwritten (use -y to overwrite).\n"},
      {{"-v0", "in.vc1", "new.vc1"}, 1,
       "*Error: in.vc1 is a VC-1 elementary stream, read for information only; nothing converted.\n"},
      {{"-v0", "in.vc1", "--plot=ts.txt"}, 1,
       "*Error: in.vc1 is a VC-1 elementary stream, read for information only; nothing converted.\n"},
      {{"-v0", "in.wmv", "--plot", "./in.wmv"}, 1, "Error: Plot file ./in.wmv" + kInput},
      {{"-v0", "-y", "in.wmv", "new.vc1", "--plot=new.vc1"}, 1,
       "Error: Plot file new.vc1 is the output file; nothing converted.\n"},
      {{"-v0", "in.wmv", "new.vc1", "--timestamps=ts.txt", "--plot=ts.txt"}, 1,
       "Error: Plot file ts.txt is the timestamps file; nothing converted.\n"},
      {{"-v0", "in.wmv", "--plot=old.txt"}, 1, "Plot file old.txt exists; not overwritten (use -y to overwrite).\n"},
#ifndef _WIN32
      {{"-v0", "in.wmv", "nodir/new.vc1"}, 1, "Unable to create output file nodir/new.vc1: " + kNoDir},
      {{"-v0", "-y", "in.wmv", "old.vc1", "--timestamps=nodir/ts.txt"}, 1,
       "Unable to create timestamps file nodir/ts.txt: " + kNoDir},
      {{"-v0", "-y", "in.wmv", "old.vc1", "--plot=nodir/p.svg"}, 1, "Unable to create plot file nodir/p.svg: " + kNoDir},
      {{"-v0", "in.wmv", "hard.wmv"}, 1, "Error: Output file hard.wmv" + kInput},
      {{"-v0", "in.wmv", "soft.wmv"}, 1, "Error: Output file soft.wmv" + kInput},
#endif
      // clang-format on
  };
  std::string dir = make_scratch_dir();
  const std::string input = load_file(testdata_path("vc1ap_240x104.wmv"));
  save_file(dir + "/in.wmv", input);
  save_file(dir + "/-in.wmv", input);
  save_file(dir + "/in.vc1", load_file(testdata_path("vc1ap_240x104.vc1")));
  std::filesystem::create_directory(dir + "/folder");
#ifndef _WIN32
  ASSERT_EQ(link((dir + "/in.wmv").c_str(), (dir + "/hard.wmv").c_str()), 0);
  ASSERT_EQ(symlink("in.wmv", (dir + "/soft.wmv").c_str()), 0);
#endif
  ASSERT_EQ(run_tarvel_binary({"-v0", "in.wmv", "reference.vc1"}, dir).status, 0);
  const std::string reference = load_file(dir + "/reference.vc1");
  for (const Row& row : rows) {
    std::string line;
    for (const std::string& a : row.args) line += a + " ";
    SCOPED_TRACE(line);
    save_file(dir + "/old.vc1", "old");
    save_file(dir + "/old.txt", "old");
    BinaryRun run = run_tarvel_binary(row.args, dir);
    EXPECT_EQ(run.status, row.status);
    if (row.err.rfind("*", 0) == 0) {
      EXPECT_NE(run.err.find(row.err.substr(1)), std::string::npos) << run.err;
    } else {
      EXPECT_EQ(run.err, row.err);
    }
    if (row.status == 0 && row.out && !row.made) {
      EXPECT_EQ(run.out, kBanner + usage_text() + help_text());
    } else if (row.status == 2) {
      EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(file_exists(dir + "/new.vc1"), row.made);
    EXPECT_TRUE(!row.made || load_file(dir + "/new.vc1") == reference);
    EXPECT_EQ(file_exists(dir + "/ts.txt"), row.made);
    EXPECT_TRUE(load_file(dir + "/in.wmv") == input);
    EXPECT_EQ(load_file(dir + "/old.vc1") + load_file(dir + "/old.txt"), "oldold");
    std::remove((dir + "/new.vc1").c_str());
    std::remove((dir + "/ts.txt").c_str());
  }
}

}  // namespace

// The rest needs a POSIX system: its texts, links, a pseudo-terminal, /dev/full (the
// Windows counterparts are among the golden runs).
#ifndef _WIN32
namespace {

TEST(InputRun, DirectoryAsInputIsRefused) {
  std::string dir = make_scratch_dir();
  BinaryRun run = run_tarvel_binary({dir, dir + "/out.vc1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Unable to open input file " + dir + ": Is a directory\n\n");
  EXPECT_FALSE(file_exists(dir + "/out.vc1"));
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
    // The answer is echoed there (a key typed before the prompt's read may echo twice).
    size_t asked = run.terminal.find(prompt);
    EXPECT_NE(asked, std::string::npos);
    EXPECT_NE(run.terminal.find(key + "\n", asked), std::string::npos);
    EXPECT_EQ(run.err, "");  // asked on the terminal alone
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
    EXPECT_EQ(run.out.find("Overwrite?"), std::string::npos);
  }
}

// Both files are asked about before either is cut: y for the output, then n for the
// timestamps file, replaces nothing.
TEST_F(OverwritePrompt, NothingIsReplacedUnlessBothMayBe) {
  save_file(dir_ + "/ts.txt", "old times");
  BinaryRun run =
      run_tarvel_in_terminal({"-v1", input_, output_, "--timestamps", "ts.txt"}, "(y/N):", "yn", dir_);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.terminal.find("\nTimestamps file ts.txt already exists - Overwrite? (y/N):"),
            std::string::npos)
      << run.terminal;
  EXPECT_EQ(load_file(output_), "previous contents");
  EXPECT_EQ(load_file(dir_ + "/ts.txt"), "old times");
}

// Level-0 text at a terminal goes to standard error once, where 2> sends it: a log file
// gets it, the terminal does not; standard error on the terminal shows it once.
TEST(TerminalRun, ErrorsGoToStandardErrorOnce) {
  std::string dir = make_scratch_dir();
  const std::string error = "Unable to open input file " + dir + "/missing.wmv: No such file or directory\n";
  for (std::string err_file : {dir + "/err.log", std::string()}) {
    BinaryRun run = run_tarvel_at_terminal({dir + "/missing.wmv"}, err_file);
    EXPECT_EQ(run.status, 1) << err_file;
    size_t first = run.terminal.find(error);
    EXPECT_EQ(first == std::string::npos, !err_file.empty()) << run.terminal;
    EXPECT_TRUE(first == std::string::npos || run.terminal.find(error, first + 1) == std::string::npos);
    EXPECT_EQ(run.err, err_file.empty() ? "" : error + "\n") << err_file;
  }
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
