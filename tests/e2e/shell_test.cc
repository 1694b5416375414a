// The built binary in the shell's ways of running it: pipes in and out, FIFOs, signals,
// a closed report pipe, concurrent runs on one file, -y and --version.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run_binary.h"

namespace {

const std::string kFrameStart("\x00\x00\x01\x0D", 4);
const std::string kEndOfSequence("\x00\x00\x01\x0A", 4);

std::string sample() { return testdata_path("vc1ap_240x104.wmv"); }

struct ShellRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `command` under sh with the binary as $T, in a fresh directory; standard output and
// standard error are kept apart.
ShellRun sh(const std::string& dir, const std::string& command) {
  std::string line =
      "cd '" + dir + "' && T='" + TARVEL_BINARY + "' && { " + command + " ; } >stdout.txt 2>stderr.txt";
  int raw = std::system(("sh -c \"" + line + "\"").c_str());
  ShellRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = load_file(dir + "/stdout.txt");
  run.err = load_file(dir + "/stderr.txt");
  return run;
}

// The conversion of the sample to a plain file: the bytes and report every other way of
// running must match.
struct Reference {
  std::string stream;
  std::string report;
};

const Reference& reference() {
  static Reference ref = [] {
    std::string dir = make_scratch_dir();
    ShellRun run = sh(dir, "\\$T '" + sample() + "' out.vc1");
    EXPECT_EQ(run.status, 0);
    return Reference{load_file(dir + "/out.vc1"), run.out};
  }();
  return ref;
}

bool have_ffmpeg() { return shell_output("command -v ffmpeg").find("ffmpeg") != std::string::npos; }

TEST(Shell, StreamsThroughPipesAndNonPlainFilesAsThroughFiles) {
  struct Case {
    const char* name;
    const char* command;
    const char* stream_file;  // where the elementary stream lands
    bool report_on_stderr;
  } cases[] = {
      {"to standard output", "\\$T IN /dev/stdout", "stdout.txt", true},
      {"to -, standard output", "\\$T IN - | cat >piped.vc1", "piped.vc1", true},
      {"from -, standard input", "cat IN | \\$T - out.vc1", "out.vc1", false},
      {"to /dev/fd/1, redirected to a file", "\\$T IN /dev/fd/1 >piped.vc1", "piped.vc1", true},
      {"to a pipe", "\\$T IN /dev/stdout | cat >piped.vc1", "piped.vc1", true},
      {"from a pipe", "cat IN | \\$T /dev/stdin out.vc1", "out.vc1", false},
      {"to a FIFO", "mkfifo f && { timeout 30 cat f >piped.vc1 & \\$T IN f; wait; }", "piped.vc1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dir = make_scratch_dir();
    std::string command = c.command;
    command.replace(command.find("IN"), 2, "'" + sample() + "'");
    ShellRun run = sh(dir, command);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(load_file(dir + "/" + c.stream_file) == reference().stream);
    // The same report but for the remux command, shown for a file that can be read again.
    std::string report = reference().report;
    if (std::string(c.stream_file) != "out.vc1") report.erase(report.find("\nRemux: "));
    EXPECT_EQ(c.report_on_stderr ? run.err : run.out, report);
  }
  // An elementary stream read through a pipe is recognised as from a file.
  std::string dir = make_scratch_dir();
  std::string es = testdata_path("vc1ap_240x104.vc1");
  EXPECT_EQ(sh(dir, "cat '" + es + "' | \\$T /dev/stdin").out, sh(dir, "\\$T '" + es + "'").out);
}

TEST(Shell, StreamPipedIntoTheDecoderDecodesLikeTheAsfFile) {
  if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  std::string dir = make_scratch_dir();
  std::string from_pipe =
      shell_output("'" + std::string(TARVEL_BINARY) + "' '" + sample() +
                   "' /dev/stdout -v0 2>/dev/null | ffmpeg -v error -f vc1 -i - -f framemd5 -");
  std::string from_asf = shell_output("ffmpeg -v error -i '" + sample() + "' -f framemd5 -");
  // The frames' hashes: the last column of the "0, ..." lines.
  auto hashes = [](const std::string& listing) {
    std::vector<std::string> found;
    for (size_t at = listing.find("\n0,"); at != std::string::npos; at = listing.find("\n0,", at + 1)) {
      size_t end = listing.find('\n', at + 1);
      size_t comma = listing.rfind(',', end);
      found.push_back(listing.substr(comma + 1, end - comma - 1));
    }
    return found;
  };
  EXPECT_EQ(hashes(from_pipe).size(), 120u);
  EXPECT_TRUE(hashes(from_pipe) == hashes(from_asf));
}

TEST(Shell, ClosedPipesNeverStopTheConversionSilently) {
  std::string dir = make_scratch_dir();
  // The report's reader is gone: the conversion completes, the failed report fails the run.
  ShellRun report = sh(dir, "\\$T -v3 '" + sample() + "' out.vc1 | true");
  EXPECT_TRUE(load_file(dir + "/out.vc1") == reference().stream);
  // (The status of a pipeline is its last command's; the binary's own is checked below.)
  ShellRun status =
      sh(dir, "(sleep 0.2; \\$T -v3 -y '" + sample() + "' out.vc1; echo \\$? >status.txt) | true");
  EXPECT_EQ(load_file(dir + "/status.txt"), "1\n");
  EXPECT_NE(status.err.find("Error: Unable to write to standard output: Broken pipe"), std::string::npos);
  // The stream's reader is gone: a write failure like a full disk.
  ShellRun stream = sh(dir, "(sleep 0.2; \\$T '" + sample() + "' /dev/stdout; echo \\$? >status.txt) | true");
  EXPECT_EQ(load_file(dir + "/status.txt"), "1\n");
  EXPECT_NE(stream.err.find("Error writing output file /dev/stdout: Broken pipe"), std::string::npos);
  (void)report;
}

// A copy of the sample with its packets repeated, large enough that a FIFO reader blocks
// part way through the Data Object.
std::string long_sample(const std::string& dir, uint32_t repeats) {
  std::string wmv = load_file(sample());
  uint64_t header_size = 0;
  for (int i = 7; i >= 0; i--) header_size = header_size << 8 | static_cast<uint8_t>(wmv[16 + i]);
  constexpr size_t kPacketBytes = 40 * 3200;
  std::string packets = wmv.substr(header_size + 50, kPacketBytes);
  std::string data_header = wmv.substr(header_size, 50);
  uint64_t object_size = 50 + static_cast<uint64_t>(kPacketBytes) * repeats;
  uint64_t count = 40ull * repeats;
  for (int i = 0; i < 8; i++) {
    data_header[16 + i] = static_cast<char>(object_size >> (8 * i));
    data_header[40 + i] = static_cast<char>(count >> (8 * i));
  }
  std::string path = dir + "/long.wmv";
  std::string body = wmv.substr(0, header_size) + data_header;
  for (uint32_t i = 0; i < repeats; i++) body += packets;
  save_file(path, body);
  return path;
}

TEST(Shell, InterruptStopsBetweenFramesWithADecodableStream) {
  std::string dir = make_scratch_dir();
  std::string input = long_sample(dir, 16);
  std::string whole = load_file(input);
  std::string full_stream =
      sh(dir, "\\$T '" + input + "' full.vc1 -v0").status == 0 ? load_file(dir + "/full.vc1") : "";
  ASSERT_FALSE(full_stream.empty());
  signal(SIGPIPE, SIG_IGN);  // feeding a run that the second signal ended

  struct Case {
    std::vector<int> signals;
    int status;  // exit status, or -1 when ended by the signal itself
  } cases[] = {{{SIGINT}, 130}, {{SIGTERM}, 143}, {{SIGHUP, SIGINT}, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signals[0]);
    std::string fifo = dir + "/in.fifo";
    std::string out = dir + "/out.vc1";
    unlink(fifo.c_str());
    unlink(out.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // The first request ends a wait for input at once; for the second one to find the run
    // still going, the run is kept waiting on its output instead: a FIFO nobody drains.
    bool stuck_output = c.signals.size() > 1;
    int drain = -1;
    if (stuck_output) {
      ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
      drain = open(out.c_str(), O_RDONLY | O_NONBLOCK);
      ASSERT_GE(drain, 0);
    }
    pid_t pid = fork();
    if (pid == 0) {
      setsid();
      int err = open((dir + "/err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(err, STDERR_FILENO);
      dup2(err, STDOUT_FILENO);
      execl(TARVEL_BINARY, TARVEL_BINARY, fifo.c_str(), out.c_str(), "-v0", nullptr);
      _exit(127);
    }
    int writer = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    // The first part fills the reader's buffer once; the run then waits for more input.
    // A run stuck on its output takes what it can before it stops reading.
    size_t first = 1200000;
    if (stuck_output) {
      fcntl(writer, F_SETFL, O_NONBLOCK);
      size_t sent = 0;
      for (int idle = 0; idle < 30 && sent < first;) {
        ssize_t w = write(writer, whole.data() + sent, std::min<size_t>(65536, first - sent));
        if (w > 0) {
          sent += static_cast<size_t>(w);
          idle = 0;
        } else {
          idle++;
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
      }
    } else {
      ASSERT_EQ(write(writer, whole.data(), first), static_cast<ssize_t>(first));
    }
    struct stat st = {};
    off_t last = -1;
    for (int i = 0; i < 100 && !stuck_output && !(st.st_size > 0 && st.st_size == last); i++) {
      last = st.st_size;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      stat(out.c_str(), &st);
    }
    if (stuck_output) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (int s : c.signals) kill(pid, s);
    if (!stuck_output) {
      // A run whose wait for input the request ended reads no more.
      std::string rest = whole.substr(first);
      ssize_t w = write(writer, rest.data(), rest.size());
      (void)w;
    }
    close(writer);
    int raw = 0;
    waitpid(pid, &raw, 0);
    if (c.status < 0) {
      EXPECT_TRUE(WIFSIGNALED(raw));
      close(drain);
      continue;
    }
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), c.status);
    EXPECT_NE(load_file(dir + "/err.txt").find("Error: Interrupted; demux stopped early.\n"),
              std::string::npos);
    // Whole frames, a prefix of the full stream, then the end code.
    std::string stream = load_file(out);
    ASSERT_GT(stream.size(), kEndOfSequence.size());
    size_t body = stream.size() - kEndOfSequence.size();
    EXPECT_EQ(stream.substr(body), kEndOfSequence);
    EXPECT_LT(body, full_stream.size() - kEndOfSequence.size());
    EXPECT_EQ(stream.substr(0, body), full_stream.substr(0, body));
    EXPECT_EQ(full_stream.compare(body, 3, kFrameStart, 0, 3), 0) << "cut inside a frame";
  }
}

// A wait that could last for ever ends at the first signal, within a second, as an
// interrupted run ends: its status, its document closed, nothing converted left behind.
TEST(Shell, OneSignalEndsEveryBlockedWait) {
  struct Row {
    const char* name;
    const char* command;  // after "mkfifo f"; runs in the background as $p
    bool document;        // writes doc.json
  } rows[] = {
      {"a timestamps file that is a FIFO nobody reads", "\\$T --json IN out.vc1 --timestamps=f >doc.json",
       true},
      {"an output FIFO nobody reads", "\\$T --json IN f >doc.json", true},
      {"an input FIFO nobody writes", "\\$T --json f out.vc1 >doc.json", true},
      {"an output pipe whose reader stopped", "(sleep 3 <f &); \\$T -v0 IN - >f", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string dir = make_scratch_dir();
    std::string command = row.command;
    if (command.find("IN") != std::string::npos) command.replace(command.find("IN"), 2, "'" + sample() + "'");
    ShellRun run = sh(dir, "mkfifo f; " + command +
                               " & p=\\$!; sleep 0.5; t=\\$(date +%s%N); kill -TERM \\$p; (sleep 2; kill "
                               "-KILL \\$p) 2>/dev/null & wait \\$p; "
                               "echo \\$? \\$(( (\\$(date +%s%N) - t) / 1000000 )) >status.txt");
    std::string status = load_file(dir + "/status.txt");
    EXPECT_EQ(status.substr(0, 4), "143 ") << run.err;
    EXPECT_LT(std::stoi("0" + status.substr(4)), 1000) << status;
    const std::string end = "  \"status\": 143\n}\n";
    std::string doc = row.document ? load_file(dir + "/doc.json") : end;
    EXPECT_EQ(doc.substr(doc.size() - std::min(doc.size(), end.size())), end);
    EXPECT_FALSE(file_exists(dir + "/out.vc1"));
  }
}

TEST(Shell, InterruptAtThePromptRestoresTheTerminalAndKeepsTheFile) {
  std::string dir = make_scratch_dir();
  std::string out = dir + "/out.vc1";
  save_file(out, "keep");
  BinaryRun run = run_tarvel_signalled_at_prompt({sample(), out}, "Overwrite? (y/N):", SIGINT);
  EXPECT_EQ(run.status, 130);
  EXPECT_TRUE(run.terminal_cooked);
  EXPECT_EQ(load_file(out), "keep");
}

TEST(Shell, ScriptsReplaceWithYesButNeverAFileAnotherRunHoldsAndRunsShareAnInput) {
  std::string dir = make_scratch_dir();
  std::string out = dir + "/out.vc1";
  save_file(out, "old");
  ShellRun yes = sh(dir, "\\$T -y '" + sample() + "' out.vc1 </dev/null");
  EXPECT_EQ(yes.status, 0);
  EXPECT_EQ(yes.err.find("Overwrite?"), std::string::npos);
  EXPECT_TRUE(load_file(out) == reference().stream);

  // Another run writing the output (exclusive hold) or reading it as its input (shared).
  for (int hold : {LOCK_EX, LOCK_SH}) {
    SCOPED_TRACE(hold);
    save_file(out, "old");
    int fd = open(out.c_str(), O_RDONLY);
    ASSERT_EQ(flock(fd, hold), 0);
    ShellRun refused = sh(dir, "\\$T -y '" + sample() + "' out.vc1");
    close(fd);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("Unable to overwrite output file out.vc1: Device or resource busy\n"),
              std::string::npos);
    EXPECT_EQ(load_file(out), "old");
  }
  // Two runs reading one input at once: the first one waits to open its output (a FIFO)
  // while it holds the input; the second converts the same input meanwhile.
  ShellRun both =
      sh(dir,
         "mkfifo a.fifo && { \\$T -v0 '" + sample() +
             "' a.fifo & } && a=\\$! && "
             "i=0; until ls -l /proc/\\$a/fd 2>/dev/null | grep -q vc1ap_240x104.wmv || [ \\$i -ge 200 ]; do "
             "sleep 0.05; i=\\$((i + 1)); done; "
             "\\$T -v0 '" +
             sample() + "' b.vc1; b=\\$?; timeout 30 cat a.fifo >a.vc1; wait \\$a; echo \\$b \\$?");
  ASSERT_GE(both.out.size(), 4u);
  EXPECT_EQ(both.out.substr(both.out.size() - 4), "0 0\n") << both.err;
  EXPECT_TRUE(load_file(dir + "/a.vc1") == reference().stream);
  EXPECT_TRUE(load_file(dir + "/b.vc1") == reference().stream);

  // The input itself, even with -y.
  std::string copy = dir + "/in.wmv";
  save_file(copy, load_file(sample()));
  EXPECT_EQ(sh(dir, "\\$T -y in.wmv ./in.wmv").status, 1);
  EXPECT_EQ(load_file(copy), load_file(sample()));
}

TEST(Shell, VersionPrintsOneLine) {
  std::string dir = make_scratch_dir();
  ShellRun run = sh(dir, "\\$T --version");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("tarvel ") + TARVEL_VERSION + "\n");
  EXPECT_EQ(run.err, "");
}

}  // namespace
