// The remux the README shows, end to end: tarvel writes the stream and its timestamps
// file, FFmpeg copies the audio, mkvmerge muxes the two with the arguments the JSON report
// gives. The Matroska file must show the picture's shape (the display aspect ratio of the
// .wmv), its frames at the .wmv's times (relative to the first), and the audio's offset
// against the video as in the .wmv, within one frame; also when the file starts before its
// preroll, where the times would be negative.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_binary.h"
#include "tests/support/wmv_writer.h"

namespace {

bool have_tools() {
  return shell_output("command -v mkvmerge && command -v ffmpeg && command -v ffprobe").find("ffprobe") !=
         std::string::npos;
}

// Lines of `ffprobe -of csv=p=0` for these entries of stream `stream` ("v" or "a").
std::vector<std::string> probe(const std::string& path, const std::string& stream,
                               const std::string& entries) {
  std::istringstream lines(shell_output("ffprobe -v error -select_streams " + stream + " -show_entries " +
                                        entries + " -of csv=p=0 '" + path + "'"));
  std::vector<std::string> out;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) out.push_back(line);
  }
  return out;
}

// The video frames' times as decoded, the audio packets' times, sorted.
std::vector<double> times(const std::string& path, const std::string& stream) {
  std::vector<double> out;
  std::string entries = stream == "v" ? "frame=best_effort_timestamp_time" : "packet=pts_time";
  for (const std::string& t : probe(path, stream, entries)) {
    if (t != "N/A") out.push_back(std::stod(t));
  }
  std::sort(out.begin(), out.end());
  return out;
}

double ratio(const std::string& text) {  // "400:143"
  size_t colon = text.find(':');
  return std::stod(text.substr(0, colon)) / std::stod(text.substr(colon + 1));
}

// The strings of the document's "remux": {"mkvmerge": [...]} member, quoted for sh.
std::string mkvmerge_arguments(const std::string& document) {
  size_t at = document.find("\"mkvmerge\": [");
  if (at == std::string::npos) return "";
  size_t end = document.find(']', at);
  std::string list = document.substr(at + 13, end - at - 13);
  std::string args;
  for (size_t q = list.find('"'); q != std::string::npos; q = list.find('"', q + 1)) {
    size_t close = list.find('"', q + 1);
    args += " '" + list.substr(q + 1, close - q - 1) + "'";
    q = close;
  }
  return args;
}

TEST(Remux, MatroskaKeepsTheShapeTimingAndSoundOfTheWmv) {
  if (!have_tools()) GTEST_SKIP() << "mkvtoolnix or FFmpeg is not installed";
  const Bytes par =
      build_metadata({{.stream_number = 1, .name = "AspectRatioX", .data = metadata_dword(40)},
                      {.stream_number = 1, .name = "AspectRatioY", .data = metadata_dword(33)}});
  std::vector<uint32_t> early;  // the first frame 1000 ms before the preroll
  for (const WmvFrame& f : sample_wmv().frames) early.push_back(f.time_ms - 1000);
  struct Row {
    const char* name;
    WmvLayout layout;
  } rows[] = {
      {"the sample's times, the audio with the video", {.audio_bytes = 192, .extension_objects = {par}}},
      {"the first frame 1000 ms before the preroll, the audio 120 ms before it",
       {.audio_bytes = 192, .audio_lead_ms = 120, .times_ms = early, .extension_objects = {par}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string dir = make_scratch_dir();
    ASSERT_TRUE(write_file(dir + "/in.wmv", write_wmv(sample_wmv(), row.layout).bytes));
    BinaryRun run = run_tarvel_binary({"--json", "in.wmv", "out.vc1", "--timestamps", "ts.txt"}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    std::string args = mkvmerge_arguments(run.out);
    std::string mux = shell_output(
        "cd '" + dir + "' && ffmpeg -v error -i in.wmv -vn -c:a copy audio.mka && mkvmerge -o out.mkv" +
        args + " out.vc1 audio.mka >mkvmerge.log; echo $?");
    EXPECT_EQ(mux, "0\n") << args << load_file(dir + "/mkvmerge.log");
    std::string mkv = dir + "/out.mkv", wmv = dir + "/in.wmv";
    std::vector<std::string> shape = probe(mkv, "v", "stream=display_aspect_ratio");
    ASSERT_EQ(shape.size(), 1u);
    EXPECT_NEAR(ratio(shape[0]) / (400.0 / 143.0), 1.0, 0.01) << shape[0];

    // The times are the .wmv's own, moved up alike when the file starts before its preroll.
    std::vector<double> video = times(mkv, "v"), original = times(wmv, "v");
    std::vector<double> audio = times(mkv, "a"), original_audio = times(wmv, "a");
    ASSERT_EQ(video.size(), original.size());
    ASSERT_GT(video.size(), 100u);
    ASSERT_FALSE(audio.empty() || original_audio.empty());
    double moved = std::max(0.0, -std::min(original[0], original_audio[0]));
    for (size_t i = 0; i < video.size(); i++) {
      ASSERT_NEAR(video[i], original[i] + moved, 0.0015) << "frame " << i;
    }
    EXPECT_NEAR(audio[0] - video[0], original_audio[0] - original[0], 0.042);
  }
}

}  // namespace
