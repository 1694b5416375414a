// Files laid out as real encoders and muxers write their headers, made from the sample's
// frames, converted by the built binary and checked against FFmpeg's reading of the same
// file: several bitrates of one video, a Header Extension behind the streams, the aspect
// ratio in the Metadata Library, streams known only from the Header Extension, encrypted
// content and the encoder's name. Without FFmpeg the report and the files are still checked.
#include <gtest/gtest.h>

#include <algorithm>
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
  // Codec data FFmpeg cannot read: the output decodes as the sample itself does.
  bool decodes_as_sample = false;
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
  std::string reference = row.decodes_as_sample ? testdata_path("vc1ap_240x104.wmv") : input;
  std::vector<std::string> expected = decoded_frames("", reference, "-map 0:" + stream);
  EXPECT_GE(expected.size(), 60u);
  EXPECT_EQ(decoded_frames("-f vc1", output, ""), expected);
  if (row.decodes_as_sample) return;
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
  auto behind = [](Bytes before) {
    put_bytes(&before, sample_headers());
    return before;
  };
  const std::string no_wvc1 =
      "Error: No WVC1 video stream in this ASF file (stream 1: WMV3); nothing converted.\n";
  const Row rows[] = {
      {.name = "codec data from the sequence header on",
       .layout = {.codec_data = sample_headers()},
       .frames_of = 0},
      {.name = "codec data behind a zero byte", .layout = {.codec_data = behind({0x00})}, .frames_of = 0},
      {.name = "codec data behind other bytes",
       .layout = {.codec_data = behind({0x7A, 0x00, 0xFF})},
       .frames_of = 0,
       .decodes_as_sample = true},
      {.name = "frames with their own start codes, key frames with in-band headers",
       .layout = {.codec_data = sample_headers(), .elementary_frames = true},
       .report = {"Total Keyframes Written: 2\n"},
       .frames_of = 0},
      {.name = "headers only in band",
       .layout = {.codec_data = Bytes{}, .elementary_frames = true},
       .report = {"-- Note: the codec data holds no sequence header; the headers are taken from the stream's "
                  "first key frame.\n",
                  "Total Keyframes Written: 2\n"},
       .frames_of = 0,
       .decodes_as_sample = true},
      {.name = "no headers anywhere",
       .layout = {.codec_data = Bytes{}},
       .status = 1,
       .console = "Error: Stream 1 has no VC-1 sequence header, neither in its codec data nor in its first "
                  "frames; nothing converted.\n"},
      {.name = "WMV3 video, conversion",
       .layout = {.video = {{.fourcc = "WMV3"}}},
       .status = 1,
       .console = no_wvc1},
      {.name = "WMV3 video, information only",
       .layout = {.video = {{.fourcc = "WMV3"}}},
       .convert = false,
       .status = 1,
       .report = {"-- -- Video stream has incorrect encoding format - should be \"WVC1\"\n"},
       .console = no_wvc1},
      {.name = "audio only",
       .layout = {.video = {}, .audio_bytes = 300},
       .status = 1,
       .console = "Error: No video stream in this ASF file; nothing converted.\n"},
      {.name = "aspect ratio in the payload extension",
       .layout = {.video = {{.par_x = 40, .par_y = 33}}},
       .report = {"Pixel aspect ratio 40:33 from the stream's Pixel Aspect Ratio payload extension.\n",
                  "-- Inserting PAR of 40/33 (1.212)...\n"},
       .frames_of = 0},
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

namespace {

// Files other programs write, made by FFmpeg and mkvmerge in the test's own folder: WVC1
// from an elementary stream (directly, through a transport stream, through Matroska), whose
// frames carry their own start codes and key frames their own headers; and video of other
// codecs, which is refused with its FourCC named.
TEST(OtherWriters, RemuxedStreamsConvertWholeAndOtherCodecsAreNamed) {
  if (!have_ffmpeg() || shell_output("command -v mkvmerge").empty()) {
    GTEST_SKIP() << "FFmpeg or mkvmerge is not installed: no files of theirs to convert";
  }
  const std::string ff = "ffmpeg -v error -y ";
  const std::string es = " -f vc1 -i '" + testdata_path("vc1ap_240x104.vc1") + "'";
  const std::string testsrc = " -f lavfi -i testsrc=d=1:s=160x120";
  struct Case {
    const char* name;
    std::string make;     // shell commands, in the folder, that leave in.wmv
    std::string console;  // empty: a conversion of the sample's 120 frames
  };
  const Case cases[] = {
      {"from an elementary stream", ff + es + " -c copy in.wmv", ""},
      {"through a transport stream", ff + es + " -c copy es.ts && " + ff + "-i es.ts -c copy in.wmv", ""},
      {"through Matroska",
       "mkvmerge -q -o es.mkv '" + testdata_path("vc1ap_240x104.vc1") + "' && " + ff +
           "-i es.mkv -c copy in.wmv",
       ""},
      {"WMV1", ff + testsrc + " -c:v wmv1 in.wmv",
       "Error: No WVC1 video stream in this ASF file (stream 1: WMV1); nothing converted.\n"},
      {"WMV2 with sound", ff + testsrc + " -f lavfi -i sine=d=1 -c:v wmv2 -c:a wmav2 in.wmv",
       "Error: No WVC1 video stream in this ASF file (stream 1: WMV2); nothing converted.\n"},
      {"sound only", ff + "-f lavfi -i sine=d=1 -c:a wmav2 in.wmv",
       "Error: No video stream in this ASF file; nothing converted.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dir = make_scratch_dir();
    shell_output("cd '" + dir + "' && " + c.make);
    BinaryRun run = run_tarvel_binary({"-v1", dir + "/in.wmv", dir + "/out.vc1"});
    EXPECT_EQ(run.err, c.console);
    if (!c.console.empty()) {
      EXPECT_EQ(run.status, 1);
      EXPECT_FALSE(file_exists(dir + "/out.vc1"));
      continue;
    }
    EXPECT_EQ(run.status, 0);
    EsFrames out = split_elementary_stream(read_file(dir + "/out.vc1"));
    EXPECT_TRUE(out.well_formed && out.ends_with_end_code);
    ASSERT_EQ(out.frames.size(), 120u) << "a start code doubled, or frames lost";
    EXPECT_EQ(std::count(out.after_headers.begin(), out.after_headers.end(), true), 2)
        << "headers before both key frames";
    EXPECT_TRUE(out.after_headers[0]);
    std::vector<std::string> expected = decoded_frames("", dir + "/in.wmv", "-fps_mode passthrough");
    EXPECT_EQ(expected.size(), 120u);
    EXPECT_EQ(decoded_frames("-f vc1", dir + "/out.vc1", ""), expected);
  }
}

}  // namespace
