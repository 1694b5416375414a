// Converting the sample file with the built binary, checked against FFmpeg as an
// independent reader: the same decoded frames, the same frame bytes, the inserted aspect
// ratio. The FFmpeg checks are skipped, with a message, where FFmpeg is not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/run_binary.h"

namespace {

const std::string kSequenceStart("\x00\x00\x01\x0F", 4);
const std::string kFrameStart("\x00\x00\x01\x0D", 4);
const std::string kEndOfSequence("\x00\x00\x01\x0A", 4);

bool have_ffmpeg() {
  return shell_output("command -v ffmpeg && command -v ffprobe").find("ffprobe") != std::string::npos;
}

std::string convert_sample(const std::string& dir, const std::vector<std::string>& options = {}) {
  std::string output = dir + "/out.vc1";
  std::vector<std::string> args = options;
  args.push_back(testdata_path("vc1ap_240x104.wmv"));
  args.push_back(output);
  BinaryRun run = run_tarvel_binary(args);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  return output;
}

// The decoded frames' MD5 column of FFmpeg's framemd5 listing (lines "0, dts, pts, ..., md5").
std::vector<std::string> frame_hashes(const std::string& input_options, const std::string& path) {
  std::string listing =
      shell_output("ffmpeg -v error " + input_options + " -i '" + path + "' -f framemd5 - 2>/dev/null");
  std::vector<std::string> hashes;
  size_t start = 0;
  while (start < listing.size()) {
    size_t end = listing.find('\n', start);
    if (end == std::string::npos) end = listing.size();
    std::string text = listing.substr(start, end - start);
    start = end + 1;
    size_t comma = text.rfind(',');
    if (text.rfind("0,", 0) != 0 || comma == std::string::npos) continue;
    std::string hash = text.substr(comma + 1);
    hash.erase(0, hash.find_first_not_of(' '));
    if (hash.size() == 32) hashes.push_back(hash);
  }
  return hashes;
}

struct Packet {
  bool key;
  std::string bytes;
};

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// The video packets as FFmpeg's ASF reader sees them, decoded from its hex dump: lines
// "00000010: e649 828a ...  .I..", an 8-digit offset, then up to eight 4-digit groups.
std::vector<Packet> asf_packets(const std::string& path) {
  std::string listing =
      shell_output("ffprobe -v error -select_streams v -show_packets -show_data '" + path + "'");
  std::vector<Packet> packets;
  size_t start = 0;
  while (start < listing.size()) {
    size_t end = listing.find('\n', start);
    if (end == std::string::npos) end = listing.size();
    std::string text = listing.substr(start, end - start);
    start = end + 1;
    if (text == "[PACKET]") packets.push_back({false, ""});
    if (packets.empty()) continue;
    if (text.rfind("flags=", 0) == 0) packets.back().key = text.find('K') != std::string::npos;
    if (text.size() < 10 || text[8] != ':' || !std::all_of(text.begin(), text.begin() + 8, is_hex)) continue;
    // The hex groups end at the double space before the printable column.
    size_t groups_end = text.find("  ", 10);
    std::string hex = text.substr(10, groups_end == std::string::npos ? std::string::npos : groups_end - 10);
    for (size_t i = 0; i + 1 < hex.size(); i++) {
      if (hex[i] == ' ') continue;
      packets.back().bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
      i++;
    }
  }
  return packets;
}

TEST(SampleConversion, OutputIsHeadersFramesAndEndCode) {
  std::string out = load_file(convert_sample(make_scratch_dir()));
  ASSERT_GT(out.size(), 100u);
  EXPECT_EQ(out.substr(0, 4), kSequenceStart);
  EXPECT_EQ(out.substr(out.size() - 4), kEndOfSequence);
  size_t frames = 0;
  for (size_t at = out.find(kFrameStart); at != std::string::npos; at = out.find(kFrameStart, at + 4))
    frames++;
  EXPECT_GE(frames, 120u);
}

TEST(SampleConversion, EveryFrameIsTheAsfPacketBehindItsStartCode) {
  if (!have_ffmpeg()) GTEST_SKIP() << "FFmpeg is not installed: interop check skipped";
  std::string out = load_file(convert_sample(make_scratch_dir()));
  std::vector<Packet> packets = asf_packets(testdata_path("vc1ap_240x104.wmv"));
  ASSERT_EQ(packets.size(), 120u);
  std::string headers = out.substr(0, out.find(kFrameStart));
  ASSERT_GT(headers.size(), 8u);
  std::string expected;
  for (const Packet& p : packets) expected += (p.key ? headers : "") + kFrameStart + p.bytes;
  expected += kEndOfSequence;
  EXPECT_EQ(out.size(), expected.size());
  EXPECT_TRUE(out == expected) << "output differs from the ASF packets";
}

TEST(SampleConversion, DecodesToTheSameFramesAsTheAsfInput) {
  if (!have_ffmpeg()) GTEST_SKIP() << "FFmpeg is not installed: interop check skipped";
  std::string output = convert_sample(make_scratch_dir());
  std::vector<std::string> from_asf = frame_hashes("", testdata_path("vc1ap_240x104.wmv"));
  std::vector<std::string> from_es = frame_hashes("-f vc1", output);
  EXPECT_EQ(from_asf.size(), 120u);
  EXPECT_EQ(from_es, from_asf);
}

TEST(SampleConversion, InsertedAspectRatioIsWhatAReaderSees) {
  if (!have_ffmpeg()) GTEST_SKIP() << "FFmpeg is not installed: interop check skipped";
  std::string dir = make_scratch_dir();
  std::string streams = shell_output("ffprobe -v error -f vc1 -show_streams '" + convert_sample(dir) + "'");
  EXPECT_NE(streams.find("sample_aspect_ratio=40:33"), std::string::npos) << streams;

  std::string plain_dir = make_scratch_dir();
  std::string plain =
      shell_output("ffprobe -v error -f vc1 -show_streams '" + convert_sample(plain_dir, {"-npar"}) + "'");
  EXPECT_EQ(plain.find("sample_aspect_ratio=40:33"), std::string::npos) << plain;
}

TEST(SampleConversion, NoRepeatedSequenceHeaderKeepsTheFramesDecodable) {
  if (!have_ffmpeg()) GTEST_SKIP() << "FFmpeg is not installed: interop check skipped";
  std::string dir = make_scratch_dir();
  std::string output = convert_sample(dir, {"-nseq"});
  std::string out = load_file(output);
  size_t sequence_headers = 0;
  for (size_t at = out.find(kSequenceStart); at != std::string::npos; at = out.find(kSequenceStart, at + 4)) {
    sequence_headers++;
  }
  EXPECT_EQ(sequence_headers, 1u);
  EXPECT_EQ(frame_hashes("-f vc1", output), frame_hashes("", testdata_path("vc1ap_240x104.wmv")));
}

TEST(SampleConversion, NullOutputRunsTheWholeDemuxAndWritesNothing) {
  std::string dir = make_scratch_dir();
  BinaryRun run = run_tarvel_binary({"-v1", testdata_path("vc1ap_240x104.wmv"), "NUL:"}, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Total Frames Written   : 120\n"), std::string::npos) << run.out;
  EXPECT_EQ(shell_output("ls -A '" + dir + "'"), "");
}

}  // namespace
