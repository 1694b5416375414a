// A pipe input that stalls: the writer has sent half of the sample, or all of it, and
// keeps the pipe open. The run converts every frame that has arrived whole; Ctrl-C
// (SIGINT) then stops it with status 130 and an output of whole frames ending with
// 00 00 01 0A. A run given the whole file may also finish on its own, with status 0.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/frame_check.h"
#include "tests/support/run_binary.h"
#include "tests/support/wmv_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

// Starts the binary on its own session, reading `input` as /dev/stdin; its output and
// text go to files in `dir`. With `json`, it writes its document to doc.json.
pid_t start_reading(int input, const std::string& dir, bool json = false) {
  std::string output = dir + "/out.vc1";
  std::string text = dir + "/text.txt";
  std::string document = dir + "/doc.json";
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    int log = open(text.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int out = json ? open(document.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644) : log;
    dup2(input, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    execl(TARVEL_BINARY, TARVEL_BINARY, json ? "--json" : "-v1", "/dev/stdin", output.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// Waits up to `limit` for the child to end; -1 when it has not.
int wait_for(pid_t pid, std::chrono::milliseconds limit) {
  for (Clock::time_point end = Clock::now() + limit;;
       std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    if (Clock::now() > end) return -1;
  }
}

TEST(PipeStall, ConvertsWhatArrivedAndStopsOnInterrupt) {
  const WmvFile& sample = sample_wmv().file;
  void (*saved_pipe)(int) = signal(SIGPIPE, SIG_IGN);  // a run that ends early must not end the test
  for (size_t sent : {sample.bytes.size() / 2, sample.bytes.size()}) {
    SCOPED_TRACE(sent == sample.bytes.size() ? "the whole file sent" : "half of the file sent");
    std::string dir = make_scratch_dir();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    pid_t pid = start_reading(fds[0], dir);
    close(fds[0]);
    ASSERT_GT(pid, 0);
    for (size_t done = 0; done < sent;) {
      ssize_t n = write(fds[1], sample.bytes.data() + done, sent - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    // The frames whose every piece lies in a packet that arrived whole.
    size_t arrived = 0;
    for (const WmvObject& o : sample.objects) {
      uint64_t end = sample.packet_area + uint64_t{o.packets.back() + 1} * sample.packet_size;
      arrived += end <= sent;
    }
    // Give the run time to drain the pipe and write what arrived before the interrupt.
    int left = 1;
    for (Clock::time_point end = Clock::now() + std::chrono::seconds(5); left > 0 && Clock::now() < end;) {
      ioctl(fds[1], FIONREAD, &left);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    int status = wait_for(pid, std::chrono::seconds(2));
    bool interrupted = status == -1;
    if (interrupted) {
      kill(pid, SIGINT);
      status = wait_for(pid, std::chrono::seconds(5));
    }
    close(fds[1]);
    if (status == -1) {
      ADD_FAILURE() << "SIGINT did not stop the run while its input pipe stalled";
      status = wait_for(pid, std::chrono::seconds(20));
    }
    std::string text = load_file(dir + "/text.txt");
    EXPECT_TRUE(WIFEXITED(status)) << text;
    EXPECT_EQ(WEXITSTATUS(status), interrupted ? 130 : 0) << text;
    EXPECT_TRUE(interrupted || sent == sample.bytes.size()) << "the run ended before its input did";
    EsFrames out = split_elementary_stream(read_file(dir + "/out.vc1"));
    EXPECT_TRUE(out.well_formed && out.ends_with_end_code);
    EXPECT_GE(out.frames.size(), arrived) << "frames that arrived were not converted";
    for (size_t i = 0; i < out.frames.size() && i < sample_wmv().frames.size(); i++) {
      EXPECT_TRUE(out.frames[i] == sample_wmv().frames[i].data)
          << "written frame " << i + 1 << " is not whole";
    }
  }
  signal(SIGPIPE, saved_pipe);
}

// An interrupted run still ends its document, with the frames written and its status.
TEST(PipeStall, InterruptedRunEndsItsJsonDocument) {
  const WmvFile& sample = sample_wmv().file;
  void (*saved_pipe)(int) = signal(SIGPIPE, SIG_IGN);
  std::string dir = make_scratch_dir();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  pid_t pid = start_reading(fds[0], dir, true);
  close(fds[0]);
  ASSERT_GT(pid, 0);
  ssize_t sent = write(fds[1], sample.bytes.data(), sample.bytes.size() / 2);
  ASSERT_GT(sent, 0);
  int left = 1;
  for (Clock::time_point end = Clock::now() + std::chrono::seconds(5); left > 0 && Clock::now() < end;) {
    ioctl(fds[1], FIONREAD, &left);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(pid, SIGINT);
  int status = wait_for(pid, std::chrono::seconds(5));
  close(fds[1]);
  signal(SIGPIPE, saved_pipe);
  if (status == -1) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "SIGINT did not stop the run while its input pipe stalled";
  }
  ASSERT_TRUE(WIFEXITED(status)) << load_file(dir + "/text.txt");
  EXPECT_EQ(WEXITSTATUS(status), 130);

  std::string document = load_file(dir + "/doc.json");
  size_t frames = split_elementary_stream(read_file(dir + "/out.vc1")).frames.size();
  EXPECT_GT(frames, 0u);
  EXPECT_NE(document.find("\"frames_written\": " + std::to_string(frames) + ",\n"), std::string::npos)
      << document;
  const std::string end =
      "\"text\": \"Error: Interrupted; demux stopped early.\"}\n  ],\n  \"status\": 130\n}\n";
  ASSERT_GE(document.size(), end.size());
  EXPECT_EQ(document.substr(document.size() - end.size()), end);
  EXPECT_EQ(
      shell_output("/usr/bin/python3 -m json.tool '" + dir + "/doc.json' >/dev/null 2>&1 && echo parsed"),
      "parsed\n");
}

}  // namespace
