// The remux the README shows, end to end: tarvel writes the stream and its timestamps
// file, FFmpeg copies the audio, and the mkvmerge command tarvel prints muxes the two. The
// Matroska file must show the .wmv's display aspect ratio, its frames at the .wmv's times
// (moved up alike when the file starts before its preroll) and the audio's offset against
// the video as in the .wmv, within one frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_binary.h"
#include "tests/support/wmv_writer.h"

namespace {

// ffprobe's values of `entries` for stream `stream` ("v" or "a"), as text.
std::string probe(const std::string& path, const std::string& stream, const std::string& entries) {
  return shell_output("ffprobe -v error -select_streams " + stream + " -show_entries " + entries +
                      " -of csv=p=0 '" + path + "'");
}

// The video frames' times as decoded, or the audio packets' times, sorted.
std::vector<double> times(const std::string& path, const std::string& stream) {
  std::istringstream lines(
      probe(path, stream, stream == "v" ? "frame=best_effort_timestamp_time" : "packet=pts_time"));
  std::vector<double> out;
  for (std::string t; lines >> t;) {
    if (t != "N/A") out.push_back(std::stod(t));
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Remux, MatroskaKeepsTheShapeTimingAndSoundOfTheWmv) {
  if (shell_output("command -v mkvmerge && command -v ffmpeg && command -v ffprobe").find("ffprobe") ==
      std::string::npos) {
    GTEST_SKIP() << "mkvtoolnix or FFmpeg is not installed";
  }
  const Bytes par =
      build_metadata({{.stream_number = 1, .name = "AspectRatioX", .data = metadata_dword(40)},
                      {.stream_number = 1, .name = "AspectRatioY", .data = metadata_dword(33)}});
  std::vector<uint32_t> early;  // the first frame 1000 ms before the preroll
  for (const WmvFrame& f : sample_wmv().frames) early.push_back(f.time_ms - 1000);
  const WmvLayout layouts[] = {
      {.audio_bytes = 192, .extension_objects = {par}},
      {.audio_bytes = 192, .audio_lead_ms = 120, .times_ms = early, .extension_objects = {par}},
  };
  for (const WmvLayout& layout : layouts) {
    SCOPED_TRACE(layout.times_ms.empty() ? "the sample's times" : "before the preroll, the audio first");
    std::string dir = make_scratch_dir(), mkv = dir + "/out.mkv", wmv = dir + "/in.wmv";
    ASSERT_TRUE(write_file(wmv, write_wmv(sample_wmv(), layout).bytes));
    BinaryRun run = run_tarvel_binary({"-v1", "in.wmv", "out.vc1", "--timestamps", "ts.txt"}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    size_t at = run.out.find("\nRemux: ");
    ASSERT_NE(at, std::string::npos);
    std::string command = run.out.substr(at + 8, run.out.find('\n', at + 1) - at - 8);
    EXPECT_EQ(shell_output("cd '" + dir + "' && ffmpeg -v error -i in.wmv -vn -c:a copy audio.mka && " +
                           command + " audio.mka >mkvmerge.log; echo $?"),
              "0\n")
        << command << load_file(dir + "/mkvmerge.log");

    std::string shape = probe(mkv, "v", "stream=display_aspect_ratio");  // "400:143"
    ASSERT_NE(shape.find(':'), std::string::npos);
    EXPECT_NEAR(std::stod(shape) / std::stod(shape.substr(shape.find(':') + 1)) / (400.0 / 143.0), 1.0, 0.01);
    std::vector<double> video = times(mkv, "v"), original = times(wmv, "v");
    std::vector<double> audio = times(mkv, "a"), original_audio = times(wmv, "a");
    ASSERT_EQ(video.size(), original.size());
    ASSERT_TRUE(video.size() > 100 && !audio.empty() && !original_audio.empty());
    double moved = std::max(0.0, -std::min(original[0], original_audio[0]));
    for (size_t i = 0; i < video.size(); i++)
      ASSERT_NEAR(video[i], original[i] + moved, 0.0015) << "frame " << i;
    EXPECT_NEAR(audio[0] - video[0], original_audio[0] - original[0], 0.042);
  }
}

}  // namespace
