// --timestamps and the progress line, through the built binary. Files whose timing an
// elementary stream cannot carry (a variable frame rate, a preroll, compressed payloads,
// B-frames) are converted with their timestamps file, which must hold exactly the .wmv's
// times; where mkvtoolnix and FFmpeg are installed, the stream muxed with that file must
// show, frame for frame, the times FFmpeg reads from the .wmv itself. Then the timestamps
// file's prompt and failure paths, and the progress line on a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run_binary.h"
#include "tests/support/wmv_writer.h"

namespace {

bool have_remux_tools() {
  return shell_output("command -v mkvmerge && command -v ffprobe").find("ffprobe") != std::string::npos;
}

// The presentation times, in seconds, of the video frames FFmpeg decodes from a file, sorted.
std::vector<double> decoded_frame_times(const std::string& path) {
  std::istringstream listing(
      shell_output("ffprobe -v error -select_streams v -show_entries "
                   "frame=best_effort_timestamp_time -of csv=p=0 '" +
                   path + "'"));
  std::vector<double> times;
  for (double t; listing >> t;) times.push_back(t);
  std::sort(times.begin(), times.end());
  return times;
}

// The timestamps file a layout's stream 1 must give: its frames' times less the preroll,
// sorted.
std::string expected_timestamps(const WmvFile& file, const WmvLayout& layout) {
  std::vector<int64_t> times;
  for (const WmvObject& o : file.objects) {
    if (o.stream != 1) continue;
    uint32_t time =
        o.frame < layout.times_ms.size() ? layout.times_ms[o.frame] : sample_wmv().frames[o.frame].time_ms;
    times.push_back(int64_t{time} - layout.preroll_ms);
  }
  std::sort(times.begin(), times.end());
  std::string text = "# timestamp format v2\n";
  for (int64_t t : times) text += std::to_string(t) + "\n";
  return text;
}

struct TimingRow {
  const char* name;
  WmvLayout layout;
};

std::vector<TimingRow> timing_rows() {
  const uint32_t frames = static_cast<uint32_t>(sample_wmv().frames.size());
  // 25 fps, a 2 s gap, runs of three dropped frames in every five, then 30 fps.
  std::vector<uint32_t> variable, late, steady, reordered;
  for (uint32_t i = 0; i < frames; i++) {
    uint32_t t = i < 40   ? 40 * i
                 : i < 70 ? 3560 + 40 * (i - 40 + 3 * ((i - 40) / 5))
                          : 5600 + (i - 70) * 1000 / 30;
    variable.push_back(3100 + t);
    late.push_back(4500 + 40 * i);
    steady.push_back(3100 + 40 * i);
  }
  // Each of the sample's B-frames (PTYPE 10) shown before the frame sent ahead of it:
  // presentation times out of decode order.
  reordered = steady;
  for (uint32_t i = 1; i < frames; i++) {
    if ((sample_wmv().frames[i].data[0] & 0xC0) == 0x80) std::swap(reordered[i], reordered[i - 1]);
  }
  // The frames up to the first B-frame under 256 bytes, then the B-frames under 256 bytes
  // that follow it: one run of compressed payloads.
  std::vector<uint32_t> small;
  bool met = false;
  for (uint32_t i = 0; i < frames; i++) {
    bool compressible = sample_wmv().frames[i].data.size() <= 255;
    if (compressible || !met) small.push_back(i);
    met = met || compressible;
  }
  return {
      {"variable frame rate: a 2 s gap, dropped frames, 25 then 30 fps", {.times_ms = variable}},
      {"Preroll 3000 ms, first presentation time 4500 ms", {.preroll_ms = 3000, .times_ms = late}},
      {"compressed payloads", {.video = {{.frames = small}}, .times_ms = steady, .compressed = true}},
      {"B-frames, times in the file in decode order (the sample's own)", {}},
      {"B-frames, presentation times out of decode order", {.times_ms = reordered}},
  };
}

TEST(Timestamps, RemuxKeepsTheTimingOfTheWmv) {
  bool tools = have_remux_tools();
  if (!tools) std::printf("mkvtoolnix or FFmpeg is not installed: remux checks skipped\n");
  for (const TimingRow& row : timing_rows()) {
    SCOPED_TRACE(row.name);
    WmvFile file = write_wmv(sample_wmv(), row.layout);
    if (row.layout.compressed) {  // frames that share one payload take their times from its delta
      auto shared =
          std::adjacent_find(file.objects.begin(), file.objects.end(),
                             [](const WmvObject& a, const WmvObject& b) { return a.offsets == b.offsets; });
      ASSERT_NE(shared, file.objects.end()) << "no payload holds more than one frame";
    }
    std::string dir = make_scratch_dir();
    ASSERT_TRUE(write_file(dir + "/in.wmv", file.bytes));
    BinaryRun run = run_tarvel_binary({"-v0", "in.wmv", "out.vc1", "--timestamps=ts.txt"}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(load_file(dir + "/ts.txt"), expected_timestamps(file, row.layout));
    if (!tools) continue;
    shell_output("cd '" + dir + "' && mkvmerge -q --timestamps 0:ts.txt -o out.mkv out.vc1");
    std::vector<double> muxed = decoded_frame_times(dir + "/out.mkv");
    std::vector<double> original = decoded_frame_times(dir + "/in.wmv");
    ASSERT_EQ(muxed.size(), original.size());
    EXPECT_GT(muxed.size(), 10u);
    size_t i = 0;
    while (i < muxed.size() && std::fabs(muxed[i] - original[i]) <= 0.001) i++;
    EXPECT_EQ(i, muxed.size()) << "frame " << i << ": " << muxed[i] << " s muxed, " << original[i]
                               << " s in the .wmv";
  }
}

// The timestamps file's rules, which are the output's: the prompt and -y, never the input
// or the output itself, a device or standard output written as it is, the system's text
// when it cannot be created or written, and a usage error without an output path.
TEST(Timestamps, FileFollowsTheOutputsRules) {
  enum After { kTimes, kOld, kOnStandardOutput };  // what ts.txt holds afterwards
  struct Row {
    const char* args;  // the run is "in.wmv out.vc1" and these
    const char* keys;  // typed at the prompt on a terminal; null: no terminal
    int status;
    std::string message;  // shown on the terminal, or standard error without one
    After after;
    bool converts = true;  // false: out.vc1, new before the run, is not there after it
  };
  const std::string kPrompt = "\nTimestamps file ts.txt already exists - Overwrite? (y/N):";
  const Row rows[] = {
      {"--timestamps=ts.txt", "y", 0, kPrompt, kTimes},
      {"--timestamps ts.txt", "n", 1, kPrompt, kOld, false},
      {"--timestamps=ts.txt -y", nullptr, 0, "", kTimes},
      {"--timestamps=ts.txt", nullptr, 1,
       "Timestamps file ts.txt exists; not overwritten (use -y to overwrite).\n", kOld, false},
      {"--timestamps=./out.vc1 -y", nullptr, 1,
       "Error: Timestamps file ./out.vc1 is the output file; nothing converted.\n", kOld, false},
      {"--timestamps=link.wmv -y", nullptr, 1,
       "Error: Timestamps file link.wmv is the input file; nothing converted.\n", kOld, false},
      {"--timestamps=no/ts.txt", nullptr, 1,
       "Unable to create timestamps file no/ts.txt: No such file or directory\n", kOld, false},
      {"--timestamps=/dev/full", nullptr, 1,
       "Error writing timestamps file /dev/full: No space left on device\n", kOld},
      {"--timestamps=- -v1", nullptr, 0, "Total Frames Written   : 120\n", kOnStandardOutput},
      {"--TimeStamps=ts.txt no-output", nullptr, 2,
       "Error: Option needs an output file: --TimeStamps=ts.txt\n", kOld, false},
  };
  const std::string input = load_file(testdata_path("vc1ap_240x104.wmv"));
  const std::string times = expected_timestamps(sample_wmv().file, WmvLayout{});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    std::string dir = make_scratch_dir();
    save_file(dir + "/in.wmv", input);
    ASSERT_EQ(link((dir + "/in.wmv").c_str(), (dir + "/link.wmv").c_str()), 0);
    save_file(dir + "/ts.txt", "old");
    std::vector<std::string> args = {"in.wmv", "out.vc1"};
    std::istringstream more(row.args);
    for (std::string a; more >> a;) args.push_back(a);
    if (args.back() == "no-output") args = {"in.wmv", args[2]};
    BinaryRun run = row.keys != nullptr ? run_tarvel_in_terminal(args, "(y/N):", row.keys, dir)
                                        : run_tarvel_binary(args, dir);
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_NE((row.keys != nullptr ? run.terminal : run.err).find(row.message), std::string::npos)
        << run.terminal << run.err;
    EXPECT_EQ(load_file(dir + "/ts.txt"), row.after == kTimes ? times : "old");
    EXPECT_EQ(run.out == times, row.after == kOnStandardOutput);
    EXPECT_EQ(file_exists(dir + "/out.vc1"), row.converts);
    EXPECT_TRUE(load_file(dir + "/in.wmv") == input);
  }
}

// A copy of the sample's frames, over and over, in a file of about `megabytes` MB.
Bytes long_input(uint32_t megabytes) {
  WmvSource source = sample_wmv();
  const std::vector<WmvFrame> once = source.frames;
  for (uint32_t copy = 1; copy * sample_wmv().file.bytes.size() < megabytes * 1000000u; copy++) {
    for (WmvFrame frame : once) {
      frame.time_ms += copy * 5000;
      source.frames.push_back(frame);
    }
  }
  return write_wmv(source, WmvLayout{}).bytes;
}

// What a terminal shows of the text written to it: a carriage return goes back to the
// start of the line, where later text overwrites.
std::string screen(const std::string& written) {
  std::string shown;
  size_t line = 0, column = 0;
  for (char c : written) {
    if (c == '\n') {
      shown += c;
      line = shown.size();
      column = 0;
    } else if (c == '\r') {
      column = 0;
    } else if (line + column < shown.size()) {
      shown[line + column++] = c;
    } else {
      shown += c;
      column++;
    }
  }
  return shown;
}

// Whether a progress line was written: a carriage return, then the share read, the bytes
// of the whole, the speed and the time left, as "  41%  1.31 MB of 3.20 MB  1.9 MB/s  1 s left".
bool shows_progress(const std::string& terminal) {
  for (size_t at = terminal.find('\r'); at != std::string::npos; at = terminal.find('\r', at + 1)) {
    std::string text = terminal.substr(at + 1, terminal.find_first_of("\r\n", at + 1) - at - 1);
    unsigned percent = 0, left = 0;
    double done = 0, total = 0, speed = 0;
    char done_unit[4] = "", total_unit[4] = "", speed_unit[8] = "", left_unit[4] = "";
    int end = -1;
    if (std::sscanf(text.c_str(), "%u%%  %lf %3s of %lf %3s  %lf %7s  %u %3s left %n", &percent, &done,
                    done_unit, &total, total_unit, &speed, speed_unit, &left, left_unit, &end) == 9 &&
        end == static_cast<int>(text.size()) && percent <= 100 && done <= total &&
        std::string(done_unit) == total_unit && std::string(speed_unit).find("B/s") != std::string::npos) {
      return true;
    }
  }
  return false;
}

// The progress line on a pseudo-terminal: an input that takes over a second to arrive
// (a FIFO fed in small pieces) shows it at -v0 and -v1, never at -v2, never on standard
// output or standard error, and leaves no trace on the screen; the report is byte for byte
// that of a run without a terminal.
TEST(Progress, ShowsOnTheTerminalOnlyAndIsErased) {
  std::string dir = make_scratch_dir();
  Bytes input = long_input(5);
  ASSERT_TRUE(write_file(dir + "/in.wmv", input));
  struct Row {
    const char* verbosity;
    bool shows;
  } rows[] = {{"-v0", true}, {"-v1", true}, {"-v2", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.verbosity);
    std::string fifo = dir + "/in.fifo";
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // About 1.3 s to arrive: the line shows from the first second on.
    std::thread feed([&] {
      int fd = open(fifo.c_str(), O_WRONLY);
      for (size_t at = 0; fd >= 0 && at < input.size(); at += 65536) {
        if (write(fd, input.data() + at, std::min<size_t>(65536, input.size() - at)) < 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1300 * 65536 / input.size()));
      }
      if (fd >= 0) close(fd);
    });
    BinaryRun run = run_tarvel_in_terminal({row.verbosity, "-y", fifo, "out.vc1"}, "", "", dir);
    feed.join();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(shows_progress(run.terminal), row.shows) << run.terminal;
    EXPECT_EQ(screen(run.terminal).find_first_not_of(" \n"), std::string::npos) << screen(run.terminal);
    EXPECT_EQ(run.err.find('%'), std::string::npos) << run.err;
    BinaryRun plain = run_tarvel_binary({row.verbosity, "-y", "in.wmv", "out.vc1"}, dir);
    EXPECT_TRUE(run.out == plain.out) << run.out;
  }
}

}  // namespace
