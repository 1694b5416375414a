// Files laid out as real encoders and muxers write their headers, made from the sample's
// frames, converted by the built binary and checked against FFmpeg's reading of the same
// file: several bitrates of one video, a Header Extension behind the streams, the aspect
// ratio in the Metadata Library, streams known only from the Header Extension, encrypted
// content and the encoder's name. Without FFmpeg the report and the files are still checked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/asf_builder.h"
#include "tests/support/frame_check.h"
#include "tests/support/run_binary.h"
#include "tests/support/wmv_writer.h"

namespace {

struct Row {
  std::string name;
  WmvLayout layout;
  std::vector<std::string> options;  // before the paths
  bool convert = true;               // an output path is given
  bool existing_output = false;      // the output path holds a file before the run
  int status = 0;
  std::vector<std::string> report;  // text standard output must hold, in this order
  std::string console;
  int frames_of = -1;              // the input video stream (0-based) the output decodes as; -1: no output
  std::vector<std::string> probe;  // what FFmpeg's report on the input shows
};

// The MD5s of the decoded frames.
std::vector<std::string> decoded_frames(const std::string& input_options, const std::string& path,
                                        const std::string& map) {
  std::string listing = shell_output("ffmpeg -v error " + input_options + " -i '" + path + "' " + map +
                                     " -f framemd5 - 2>/dev/null");
  std::vector<std::string> hashes;
  for (size_t at = 0, end; at < listing.size(); at = end + 1) {
    end = listing.find('\n', at);
    if (end == std::string::npos) end = listing.size();
    std::string line = listing.substr(at, end - at);
    size_t comma = line.rfind(',');
    if (line.empty() || line[0] == '#' || comma == std::string::npos) continue;
    hashes.push_back(line.substr(line.find_first_not_of(' ', comma + 1)));
  }
  return hashes;
}

// The value of `field` in FFmpeg's description of the stream ("" when it gives none).
std::string probe_field(const std::string& input_options, const std::string& path, const std::string& stream,
                        const std::string& field) {
  std::string text = shell_output("ffprobe -v error " + input_options + " -select_streams " + stream +
                                  " -show_entries stream=" + field + " -of default=nw=1:nk=1 '" + path + "'");
  return text.substr(0, text.find('\n'));
}

void check_row(const Row& row) {
  SCOPED_TRACE(row.name);
  std::string dir = make_scratch_dir();
  std::string input = dir + "/in.wmv";
  std::string output = dir + "/out.vc1";
  ASSERT_TRUE(write_file(input, write_wmv(sample_wmv(), row.layout).bytes));
  if (row.existing_output) save_file(output, "earlier output");
  std::vector<std::string> args = row.options;
  args.push_back(input);
  if (row.convert) args.push_back(output);

  BinaryRun run = run_tarvel_binary(args);
  EXPECT_EQ(run.status, row.status) << run.out << run.err;
  EXPECT_EQ(run.err, row.console);
  size_t at = 0;
  for (const std::string& text : row.report) {
    at = run.out.find(text, at);
    EXPECT_NE(at, std::string::npos) << text << "\n" << run.out;
  }
  if (row.frames_of < 0) {  // nothing created or replaced
    EXPECT_EQ(file_exists(output), row.existing_output);
    EXPECT_TRUE(!row.existing_output || load_file(output) == "earlier output");
  }

  if (!have_ffmpeg()) return;
  std::string report = shell_output("ffprobe -v warning -show_streams -show_format '" + input + "' 2>&1");
  for (const std::string& text : row.probe) EXPECT_NE(report.find(text), std::string::npos) << text << report;
  if (row.frames_of < 0) return;
  std::string stream = "v:" + std::to_string(row.frames_of);
  std::vector<std::string> expected = decoded_frames("", input, "-map 0:" + stream);
  EXPECT_GE(expected.size(), 60u);
  EXPECT_EQ(decoded_frames("-f vc1", output, ""), expected);
  EXPECT_EQ(probe_field("-f vc1", output, "v", "sample_aspect_ratio"),
            probe_field("", input, stream, "sample_aspect_ratio"));
}

TEST(WholeHeaderRun, EachLayoutConvertsTheStreamAReaderSees) {
  const size_t kFrames = sample_wmv().frames.size();  // 120, key frames at 0 and 60
  std::vector<uint32_t> first_half, second_half;
  for (uint32_t i = 0; i < kFrames; i++) (i < kFrames / 2 ? first_half : second_half).push_back(i);
  WmvLayout bitrates = {
      .video = {{.number = 1, .ext_bitrate = 300000, .frame_period = 417083, .listed_bitrate = 300000},
                {.number = 2,
                 .frames = second_half,
                 .ext_bitrate = 1000000,
                 .frame_period = 417083,
                 .listed_bitrate = 1000000},
                {.number = 3,
                 .frames = first_half,
                 .ext_bitrate = 600000,
                 .frame_period = 417083,
                 .listed_bitrate = 600000}},
      .header_objects = {build_bitrate_mutual_exclusion({1, 2, 3})}};
  const std::vector<MetadataRecordSpec> aspect = {{.name = "AspectRatioX", .data = metadata_dword(40)},
                                                  {.name = "AspectRatioY", .data = metadata_dword(33)}};
  WmvLayout encrypted = {.video = {{.encrypted = true}},
                         .header_objects = {build_content_encryption(), build_ext_content_encryption()}};
  const std::string usable = "-- Usable video stream ";
  const Row rows[] = {
      {.name = "several bitrates: the highest",
       .layout = bitrates,
       .report = {usable + "1: 240 x 104, bitrate = 300 Kb/s\n" + usable +
                  "2: 240 x 104, bitrate = 1000 Kb/s\n" + usable + "3: 240 x 104, bitrate = 600 Kb/s\n" +
                  "Video stream with highest bitrate is stream 2 (bitrate = 1000 Kb/s)\n"},
       .frames_of = 1,
       .probe = {"index=2\ncodec_name=vc1", "bit_rate=300000", "bit_rate=1000000", "bit_rate=600000"}},
      {.name = "several bitrates: --stream=1",
       .layout = bitrates,
       .options = {"--stream=1"},
       .report = {"Video stream 1 chosen on the command line (bitrate = 300 Kb/s)\n"},
       .frames_of = 0},
      {.name = "several bitrates: -s3",
       .layout = bitrates,
       .options = {"-s3"},
       .report = {"Video stream 3 chosen on the command line (bitrate = 600 Kb/s)\n"},
       .frames_of = 2},
      {.name = "several bitrates: a stream that is not there",
       .layout = bitrates,
       .options = {"-s4"},
       .status = 1,
       .console = "Error: Stream 4 is not a usable WVC1 video stream.\n"},
      {.name = "Header Extension behind the streams",
       .layout = {.video = {{.ext_bitrate = 1000000, .frame_period = 417083}},
                  .extension_objects = {build_metadata(aspect)},
                  .extension_last = true},
       .report = {"Video stream with highest bitrate is stream 1 (bitrate = 1000 Kb/s)\n",
                  "-- Inserting Frame Period: 41708 uSecs (23.976 FPS)...\n",
                  "-- Inserting PAR of 40/33 (1.212)...\n"},
       .frames_of = 0,
       .probe = {"sample_aspect_ratio=40:33", "bit_rate=1000000"}},
      {.name = "aspect ratio in the Metadata Library",
       .layout = {.extension_objects = {build_metadata_library(aspect)}},
       .report = {"-- Inserting PAR of 40/33 (1.212)...\n"},
       .frames_of = 0,
       .probe = {"sample_aspect_ratio=40:33"}},
      {.name = "Stream Properties only inside the Header Extension",
       .layout = {.video = {{.frame_period = 417083, .embedded = true}}},
       .report = {"Video stream with highest bitrate is stream 1 (bitrate = 0 Kb/s)\n"},
       .frames_of = 0},
      {.name = "encrypted, information only",
       .layout = encrypted,
       .convert = false,
       .console = "Warning: stream 1 is encrypted (DRM); its frames cannot be converted.\n",
       .probe = {"DRM protected stream detected"}},
      {.name = "encrypted, conversion",
       .layout = encrypted,
       .existing_output = true,
       .status = 1,
       .console = "Error: Stream 1 is encrypted (DRM); its frames cannot be converted.\n"},
      {.name = "encrypted flag alone, conversion",
       .layout = {.video = {{.encrypted = true}}},
       .status = 1,
       .console = "Error: Stream 1 is encrypted (DRM); its frames cannot be converted.\n"},
      {.name = "encoder named",
       .layout = {.header_objects = {build_ext_content_description(
                      {{.name = "WM/ToolName", .value = utf16("Studio Encoder", true)},
                       {.name = "WM/ToolVersion", .value = utf16("9.1", true)}})}},
       .report = {"Video stream with highest bitrate is stream 1 (bitrate = 0 Kb/s)\n"
                  "Encoded with: Studio Encoder 9.1\n"},
       .frames_of = 0,
       .probe = {"TAG:WM/ToolName=Studio Encoder", "TAG:WM/ToolVersion=9.1"}},
  };
  for (const Row& row : rows) check_row(row);
  if (!have_ffmpeg()) GTEST_SKIP() << "FFmpeg is not installed: the runs were checked without it";
}

}  // namespace
