// Whole runs of the built binary compared with expected text kept in testdata/expected:
// standard output (<case>.stdout), console text (<case>.console; the run has no terminal,
// so it arrives on standard error), exit status (<case>.status) and, where the run
// writes one, the elementary stream (<case>.stream: its size and 64-bit FNV-1a digest,
// so that every platform's build is held to the very bytes). Every case runs again with
// --json: the same console text, status and stream, and the document (<case>.json),
// which Python parses and checks against the schema and the text run's report where
// Python is there. Inputs are the sample files and ASF files built here. Run with
// TARVEL_REGENERATE=1 to rewrite the expected files after a deliberate change, then
// review the diff line by line.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#ifdef _WIN32
#include <filesystem>
#include <fstream>

#include "platform/platform.h"
#endif

#include "tests/support/asf_builder.h"
#include "tests/support/asf_packets.h"
#include "tests/support/run_binary.h"

namespace {

// A sequence header and an entry-point header, behind the one byte the codec data skips.
const Bytes kCodecHeaders = {0x00, 0x00, 0x01, 0x0F, 0xDB, 0xFF, 0x3B, 0xF2, 0x1B,
                             0x08, 0x80, 0x00, 0x00, 0x01, 0x0E, 0x58, 0x68, 0x80};

struct Case {
  std::string name;
  std::vector<std::string> args;  // "IN" stands for the input copied into the scratch dir
  std::string input;              // file under testdata, or bytes given below
  Bytes bytes;
  bool output_expected = false;  // whether "out.vc1" may exist after the run
};

std::string to_string(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The banner names the built version; the expected files hold a token in its place, so
// that a new version does not touch them.
std::string with_version_token(std::string text) {
  const std::string built = "TARVEL version " TARVEL_VERSION;
  const std::string token = "TARVEL version <version>";
  for (size_t at = text.find(built); at != std::string::npos; at = text.find(built, at + token.size())) {
    text.replace(at, built.size(), token);
  }
  return text;
}

// "<size> <FNV-1a 64 in hex>\n" of a file's bytes.
std::string stream_digest(const std::string& bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::to_string(bytes.size()) + " " + hex + "\n";
}

std::string input_name(const Case& c) { return c.input.empty() ? "input.bin" : c.input; }

// The case's input in a new scratch directory, and its arguments naming it there.
std::string prepare_case(const Case& c, std::vector<std::string>* args) {
  std::string dir = make_scratch_dir();
  std::string input = input_name(c);
  save_file(dir + "/" + input, c.input.empty() ? to_string(c.bytes) : load_file(testdata_path(c.input)));
  for (const std::string& a : c.args) args->push_back(a == "IN" ? input : a);
  return dir;
}

// The document names the built version; the expected documents hold a token instead.
std::string with_json_version_token(std::string document) {
  const std::string built = "\"tarvel\": \"" TARVEL_VERSION "\"";
  size_t at = document.find(built);
  if (at != std::string::npos) document.replace(at, built.size(), "\"tarvel\": \"<version>\"");
  return document;
}

#ifndef _WIN32
// The Debian interpreter, where python3-jsonschema installs the schema checker.
// What json_report_check.py finds wrong with the document `dir`/doc.json of the run on
// `input` (in `dir`), given the rest of its arguments: "" when nothing.
std::string json_check_problems(const std::string& dir, const std::string& input, const std::string& rest) {
  const std::string script = TARVEL_SOURCE_DIR "/tests/e2e/json_report_check.py";
  const std::string schema = TARVEL_SOURCE_DIR "/docs/tarvel-report.schema.json";
  return shell_output(python() + " " + script + " " + schema + " '" + dir + "/doc.json' '" + dir + "/" +
                      input + "' " + rest + " 2>&1");
}
#endif

// The case again with --json: level-0 text, status and stream as without it, and the
// document as expected; on POSIX, checked by the schema and against the text run.
void check_json_case(const Case& c, const BinaryRun& text_run, const std::string& stream) {
  std::vector<std::string> args = {"--json"};
  std::string dir = prepare_case(c, &args);
  BinaryRun run = run_tarvel_binary(args, dir);
  EXPECT_EQ(with_version_token(run.err), text_run.err) << c.name << " --json";
  EXPECT_EQ(run.status, text_run.status) << c.name << " --json";
  EXPECT_EQ(c.output_expected ? stream_digest(load_file(dir + "/out.vc1")) : "", stream)
      << c.name << " --json";

  std::string expected = testdata_path("expected/" + c.name + ".json");
  if (std::getenv("TARVEL_REGENERATE") != nullptr) save_file(expected, with_json_version_token(run.out));
  EXPECT_EQ(with_json_version_token(run.out), load_file(expected)) << c.name;
#ifndef _WIN32
  save_file(dir + "/doc.json", run.out);
  save_file(dir + "/text.stdout", text_run.out);
  save_file(dir + "/text.console", text_run.err);
  EXPECT_EQ(json_check_problems(dir, input_name(c),
                                "'" + dir + "/text.stdout' '" + dir + "/text.console' '" TARVEL_BINARY "'"),
            "")
      << c.name;
#endif
}

void check_case(const Case& c) {
  std::vector<std::string> args;
  std::string dir = prepare_case(c, &args);
  BinaryRun run = run_tarvel_binary(args, dir);
  run.out = with_version_token(run.out);
  run.err = with_version_token(run.err);

  std::string base = testdata_path("expected/" + c.name);
  std::string stream = c.output_expected ? stream_digest(load_file(dir + "/out.vc1")) : "";
  if (std::getenv("TARVEL_REGENERATE") != nullptr) {
    save_file(base + ".stdout", run.out);
    save_file(base + ".console", run.err);
    save_file(base + ".status", std::to_string(run.status) + "\n");
    if (c.output_expected) save_file(base + ".stream", stream);
  }
  EXPECT_EQ(run.out, load_file(base + ".stdout")) << c.name;
  EXPECT_EQ(run.err, load_file(base + ".console")) << c.name;
  EXPECT_EQ(std::to_string(run.status) + "\n", load_file(base + ".status")) << c.name;
  EXPECT_EQ(file_exists(dir + "/out.vc1"), c.output_expected) << c.name;
  if (c.output_expected) {
    EXPECT_EQ(stream, load_file(base + ".stream")) << c.name;
  }
  check_json_case(c, run, stream);
}

Bytes wvc1_stream(uint16_t number, const std::string& fourcc = "WVC1") {
  return build_stream_properties({.flags = number, .fourcc = fourcc, .codec_data = kCodecHeaders});
}

Bytes ext_stream(uint16_t number, uint32_t bitrate, uint64_t avg_time_per_frame, Bytes embedded = {}) {
  return build_ext_stream_properties({.stream_number = number,
                                      .data_bitrate = bitrate,
                                      .max_object_size = 4000,
                                      .avg_time_per_frame = avg_time_per_frame,
                                      .embedded = embedded});
}

TEST(GoldenRun, SampleInformationAtEachVerbosity) {
  check_case({"sample_info_v0", {"-v0", "IN"}, "vc1ap_240x104.wmv", {}});
  check_case({"sample_info_v1", {"IN", "--verbose=1"}, "vc1ap_240x104.wmv", {}});
  check_case({"sample_info_v2", {"IN"}, "vc1ap_240x104.wmv", {}});
  check_case({"sample_info_v3", {"-v3", "IN"}, "vc1ap_240x104.wmv", {}});
}

TEST(GoldenRun, SampleConversionReports) {
  check_case({"sample_convert_v0", {"-v0", "IN", "out.vc1"}, "vc1ap_240x104.wmv", {}, true});
  check_case({"sample_convert_v1", {"-v1", "IN", "out.vc1"}, "vc1ap_240x104.wmv", {}, true});
  check_case({"sample_convert_v2", {"IN", "out.vc1"}, "vc1ap_240x104.wmv", {}, true});
  check_case({"sample_convert_v3", {"-v3", "IN", "out.vc1"}, "vc1ap_240x104.wmv", {}, true});
  check_case({"sample_convert_options",
              {"-nseq", "-nfrm", "-npar", "IN", "out.vc1"},
              "vc1ap_240x104.wmv",
              {},
              true});
}

TEST(GoldenRun, ElementaryStreamInputIsInterpretedButNeverConverted) {
  check_case({"es_info", {"IN"}, "vc1ap_240x104.vc1", {}});
  check_case({"es_with_output", {"IN", "out.vc1"}, "vc1ap_240x104.vc1", {}});
}

TEST(GoldenRun, ShortEmptyAndForeignFilesAreNotRecognised) {
  check_case({"empty_file", {"IN"}, "", {}});
  check_case({"short_file", {"IN", "out.vc1"}, "", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}});
}

TEST(GoldenRun, AsfWhoseOnlyVideoIsNotWvc1IsRefusedWithItsFourcc) {
  Bytes file = build_header_object({build_file_properties(3200), wvc1_stream(1, "WMV3")});
  check_case({"asf_wmv3_only", {"IN"}, "", file});
}

TEST(GoldenRun, HighestBitrateWvc1StreamIsChosen) {
  // Stream 2 is known only through the stream properties embedded in its extended
  // stream properties; stream 3 is the top-level stream that ends the header walk.
  Bytes extension = build_header_extension(
      {ext_stream(2, 2000000, 417083, wvc1_stream(2)), ext_stream(3, 1000000, 400000)});
  Bytes file = build_header_object({build_file_properties(3200), extension, wvc1_stream(3)});
  check_case({"asf_two_wvc1", {"IN"}, "", file});
}

TEST(GoldenRun, Wvc1StreamIsChosenOverAFasterForeignVideo) {
  Bytes extension = build_header_extension({ext_stream(1, 9000000, 333670), ext_stream(2, 500, 333670)});
  Bytes file =
      build_header_object({build_file_properties(3200), extension, wvc1_stream(1, "WMV3"), wvc1_stream(2)});
  check_case({"asf_wmv3_and_wvc1", {"IN"}, "", file});
}

// Metadata naming a stream number that no Stream Properties Object has describes no stream.
TEST(GoldenRun, MetadataOfAMissingStreamMakesNoStream) {
  Bytes library =
      build_metadata_library({{.stream_number = 2, .name = "AspectRatioX", .data = metadata_dword(4)}});
  Bytes file =
      build_header_object({build_file_properties(3200), build_header_extension({library}), wvc1_stream(1)});
  check_case({"asf_metadata_of_no_stream", {"IN"}, "", file});
}

// Found before the output is opened: nothing is created.
TEST(GoldenRun, ConversionWithoutDataObjectFailsBeforeTheOutput) {
  Bytes file = build_header_object({build_file_properties(3200), wvc1_stream(1)});
  check_case({"asf_no_data_object", {"-v1", "IN", "out.vc1"}, "", file, false});
}

}  // namespace

#ifndef _WIN32
namespace {

// The picture types that the listing gives without decoding are the ones FFmpeg's decoder
// finds in the sample's 120 frames.
TEST(GoldenRun, JsonPictureTypesOfTheSampleAreTheDecodersOwn) {
  if (shell_output("command -v ffprobe").empty()) GTEST_SKIP() << "ffprobe is not installed";
  std::string dir = make_scratch_dir();
  save_file(dir + "/in.wmv", load_file(testdata_path("vc1ap_240x104.wmv")));
  BinaryRun run = run_tarvel_binary({"--json", "-v3", "in.wmv", "nul"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  save_file(dir + "/doc.json", run.out);
  EXPECT_EQ(json_check_problems(dir, "in.wmv", "--ffprobe"), "120 frames match\n");
}

}  // namespace
#endif

namespace {

TEST(GoldenRun, TruncatedSampleStopsEarlyAndFails) {
  std::string whole = load_file(testdata_path("vc1ap_240x104.wmv"));
  Bytes cut(whole.begin(), whole.begin() + 60000);  // inside the Data Object
  check_case({"sample_truncated", {"-v1", "IN", "out.vc1"}, "", cut, true});
}

}  // namespace

namespace {

// A built file converted whole: frame rate from the extended stream properties (ten times
// a period of the frame-rate table), an AspectRatioX without AspectRatioY (shown as a
// ratio of 0.000, the headers left without one), and three frames in two packets of 61
// bytes each.
TEST(GoldenRun, BuiltFileWithFrameRateAndHalfAnAspectRatio) {
  const uint32_t kPacketSize = 61;
  Bytes metadata = build_metadata({{.stream_number = 1, .name = "AspectRatioX", .data = metadata_dword(40)}});
  Bytes extension = build_header_extension({ext_stream(1, 800000, 333670), metadata});
  Bytes file = build_header_object({build_file_properties(kPacketSize), extension, wvc1_stream(1)});
  PacketLayout first = whole_object_packet(1, true, Bytes{0xC5, 0x01, 0x02, 0x03});
  first.payloads.push_back({.stream_number = 1, .object_size = 3, .data = Bytes{0x12, 0x34, 0x56}});
  first.padding_length = 9;
  PacketLayout second = whole_object_packet(1, false, Bytes{0x9A, 0x00});
  second.padding_length = 31;
  append(&file, build_data_object({first, second}, kPacketSize));
  check_case({"asf_built_convert", {"-v3", "IN", "out.vc1"}, "", file, true});
}

}  // namespace

#ifdef _WIN32
namespace {

// The Windows build's own cases, on the golden runs' inputs and expected text.

std::filesystem::path fs_path(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

// Text as read back from the binary's output: CR LF as LF.
std::string text_lines(std::string text) {
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
  return text;
}

std::string scratch_with_sample(const std::string& name) {
  std::string dir = make_scratch_dir();
  std::filesystem::copy_file(testdata_path("vc1ap_240x104.wmv"), fs_path(dir + "/" + name));
  return dir;
}

TEST(WindowsRun, UnicodeNamesAreOpenedCreatedAndPrinted) {
  std::string dir = scratch_with_sample("サンプル動画.wmv");
  BinaryRun run = run_tarvel_binary({"-v0", "サンプル動画.wmv", "出力.vc1"}, dir);
  EXPECT_EQ(run.status, 0);
  std::filesystem::rename(fs_path(dir + "/出力.vc1"), fs_path(dir + "/out.vc1"));
  EXPECT_EQ(stream_digest(load_file(dir + "/out.vc1")),
            load_file(testdata_path("expected/sample_convert_v0.stream")));

  run = run_tarvel_binary({"見つからない.wmv"}, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Unable to open input file 見つからない.wmv: " + text_lines(system_text(2)) + "\n");
}

TEST(WindowsRun, NulIsTheNullDeviceAndStandardOutputIsText) {
  std::string dir = scratch_with_sample("in.wmv");
  std::string expected = load_file(testdata_path("expected/sample_convert_v1.stdout"));
  expected.erase(expected.find("\nRemux: "));  // a command for a file, not for the null device
  std::string crlf;
  for (char c : expected) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (std::string name : {"nul", "NUL:"}) {
    BinaryRun run = run_tarvel_binary({"-v1", "in.wmv", name}, dir);
    EXPECT_EQ(run.status, 0) << name;
    EXPECT_EQ(with_version_token(run.raw_out), crlf) << name;
    EXPECT_EQ(run.err, "") << name;
  }
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) entries += entry.exists() ? 1 : 0;
  EXPECT_EQ(entries, 1);  // the input alone
}

TEST(WindowsRun, OutputInAMissingFolderGetsTheSystemsText) {
  std::string dir = make_scratch_dir();
  BinaryRun run =
      run_tarvel_binary({"-v1", testdata_path("vc1ap_240x104.wmv"), dir + "/no/such/dir/out.vc1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "Unable to create output file " + dir + "/no/such/dir/out.vc1: " + text_lines(system_text(3)));
}

TEST(WindowsRun, DataObjectAboveFourGibibytesOnASparseFile) {
  // Packets of an audio stream, each a single payload of zero bytes filling its packet,
  // put the second frame past 4 GiB. Only their headers are written: the file is sparse.
  const uint32_t kMaxPacket = 0x40000;
  const uint64_t kFillerPackets = 16385;
  StreamPropertiesSpec audio = {.stream_type = kGuidAudioMedia, .flags = 2, .video_header = false};
  Bytes header = build_header_object(
      {build_file_properties(kMaxPacket), wvc1_stream(1), build_stream_properties(audio)});
  Bytes filler_header = filler_packet_header(2, kMaxPacket);
  Bytes first = build_data_object({whole_object_packet(1, true, Bytes{0xC5, 0x01, 0x02, 0x03})}, kMaxPacket);
  first.erase(first.begin(), first.begin() + kDataObjectHeaderBytes);
  PacketLayout last = whole_object_packet(1, false, Bytes{0x9A, 0x00});
  last.payloads[0].object_number = 2;
  last.payloads[0].offset_into_object = 0;
  Bytes second;
  append_packet(&second, last);
  second.resize(kMaxPacket, 0);

  std::string dir = make_scratch_dir();
  Bytes small = header;
  append(&small, data_object_header(50 + first.size() + second.size(), 2));
  append(&small, first);
  append(&small, second);
  save_file(dir + "/small.wmv", to_string(small));

  const uint64_t object_size = 50 + first.size() + kFillerPackets * kMaxPacket + second.size();
  Bytes big = header;
  append(&big, data_object_header(object_size, kFillerPackets + 2));
  append(&big, first);
  save_file(dir + "/big.wmv", to_string(big));
  std::filesystem::resize_file(dir + "/big.wmv", big.size() + kFillerPackets * kMaxPacket);  // sparse
  {
    std::fstream file(dir + "/big.wmv", std::ios::in | std::ios::out | std::ios::binary);
    for (uint64_t k = 0; k < kFillerPackets; ++k) {
      file.seekp(static_cast<std::streamoff>(big.size() + k * kMaxPacket));
      file.write(reinterpret_cast<const char*>(filler_header.data()),
                 static_cast<std::streamsize>(filler_header.size()));
    }
    file.seekp(static_cast<std::streamoff>(big.size() + kFillerPackets * kMaxPacket));
    file.write(reinterpret_cast<const char*>(second.data()), static_cast<std::streamsize>(second.size()));
    ASSERT_TRUE(file.good());
  }
  ASSERT_GT(std::filesystem::file_size(dir + "/big.wmv"), 1ull << 32);

  BinaryRun run = run_tarvel_binary({"-v1", "small.wmv", "small.vc1"}, dir);
  ASSERT_EQ(run.status, 0);
  run = run_tarvel_binary({"big.wmv", "big.vc1"}, dir);
  std::filesystem::remove(dir + "/big.wmv");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("-- len = " + std::to_string(object_size) + " bytes; contains " +
                         std::to_string(kFillerPackets + 2) + " data packets\n"),
            std::string::npos);
  EXPECT_EQ(load_file(dir + "/big.vc1"), load_file(dir + "/small.vc1"));
}

}  // namespace
#endif  // _WIN32
