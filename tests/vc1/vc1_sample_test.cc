// The codec data of a real ASF sample: parsed, written back unchanged, and rewritten with
// a frame rate and an aspect ratio that an independent decoder then reads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/run_binary.h"
#include "vc1/vc1.h"

namespace {

uint32_t read_le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; i++) v |= static_cast<uint32_t>(static_cast<uint8_t>(s[at + i])) << (8 * i);
  return v;
}
uint64_t read_le64(const std::string& s, size_t at) {
  return read_le32(s, at) | static_cast<uint64_t>(read_le32(s, at + 4)) << 32;
}

const std::string kHeaderObject("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
const std::string kStreamProperties("\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65", 16);
const std::string kVideoMedia("\xC0\xEF\x19\xBC\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 16);
const std::string kFrameCode("\x00\x00\x01\x0D", 4);

// The codec data of the first video Stream Properties Object among the Header Object's
// children: what follows the 40-byte bitmap header, up to the end of the type-specific
// data as its length field gives it. Empty when there is none.
std::string video_codec_data(const std::string& file, uint32_t* width, uint32_t* height) {
  if (file.size() < 30 || file.compare(0, 16, kHeaderObject) != 0) return "";
  uint64_t header_end = read_le64(file, 16);
  if (header_end > file.size()) return "";
  for (uint64_t at = 30; at + 24 <= header_end;) {
    uint64_t size = read_le64(file, at + 16);
    if (size < 24 || size > header_end - at) return "";
    if (size >= 78 && file.compare(at, 16, kStreamProperties) == 0 &&
        file.compare(at + 24, 16, kVideoMedia) == 0) {
      uint32_t specific_length = read_le32(file, at + 64);
      size_t specific = at + 78;
      if (specific_length < 51 || 78 + uint64_t{specific_length} > size) return "";
      if (file.compare(specific + 11 + 16, 4, "WVC1") != 0) return "";
      *width = read_le32(file, specific);
      *height = read_le32(file, specific + 4);
      return file.substr(specific + 51, specific_length - 51);
    }
    at += size;
  }
  return "";
}

HeaderBuffer make_buffer(const std::string& bytes) {
  HeaderBuffer b;
  std::memset(&b, 0, sizeof b);
  b.count = static_cast<uint32_t>(bytes.size() < kHeaderBufferSize ? bytes.size() : kHeaderBufferSize);
  std::memcpy(b.data, bytes.data(), b.count);
  return b;
}

std::string written(const Vc1HeaderTable& t, bool entry_point_only) {
  HeaderBuffer out;
  vc1_write_headers(entry_point_only, &t, &out);
  return std::string(reinterpret_cast<const char*>(out.data), out.count);
}

// The sample's frames, everything from the first frame start code on.
std::string sample_frames() {
  std::string stream = load_file(testdata_path("vc1ap_240x104.vc1"));
  size_t first = stream.find(kFrameCode);
  return first == std::string::npos ? "" : stream.substr(first);
}

TEST(Vc1Sample, CodecDataIsReproducedExactlyWhenWrittenUnedited) {
  uint32_t width = 0;
  uint32_t height = 0;
  std::string codec = video_codec_data(load_file(testdata_path("vc1ap_240x104.wmv")), &width, &height);
  ASSERT_EQ(codec.size(), 27u);
  ASSERT_EQ(codec.find(std::string("\x00\x00\x01\x0F", 4)), 1u);  // after one leading byte
  size_t entry_point = codec.find(std::string("\x00\x00\x01\x0E", 4));
  ASSERT_NE(entry_point, std::string::npos);

  HeaderBuffer b = make_buffer(codec);
  Vc1HeaderTable t;
  vc1_table_init(&t);
  ASSERT_EQ(vc1_parse_headers(&b, &t), kVc1HeadersWhole);
  EXPECT_EQ(vc1_get_field(&t, VC1_MAX_CODED_WIDTH), width / 2 - 1);
  EXPECT_EQ(vc1_get_field(&t, VC1_MAX_CODED_HEIGHT), height / 2 - 1);
  EXPECT_EQ(written(t, false), codec.substr(1));
  EXPECT_EQ(written(t, true), codec.substr(entry_point));
  // The elementary-stream copy of the same video starts with the same two headers.
  std::string stream = load_file(testdata_path("vc1ap_240x104.vc1"));
  EXPECT_EQ(written(t, false), stream.substr(0, stream.find(kFrameCode)));
}

// The sample's headers with a frame period and aspect ratio put in, then its frames.
std::string rewritten_stream(uint32_t period_us, uint32_t x, uint32_t y) {
  uint32_t width = 0;
  uint32_t height = 0;
  HeaderBuffer b =
      make_buffer(video_codec_data(load_file(testdata_path("vc1ap_240x104.wmv")), &width, &height));
  Vc1HeaderTable t;
  vc1_table_init(&t);
  EXPECT_EQ(vc1_parse_headers(&b, &t), kVc1HeadersWhole);
  vc1_insert_frame_period(period_us, &t);
  vc1_insert_par(x, y, &t);
  return written(t, false) + sample_frames();
}

TEST(Vc1Sample, InsertedRateAndAspectRatioParseBack) {
  std::string stream = rewritten_stream(41667, 40, 33);
  HeaderBuffer b = make_buffer(stream.substr(0, stream.find(kFrameCode)));
  Vc1HeaderTable t;
  vc1_table_init(&t);
  ASSERT_EQ(vc1_parse_headers(&b, &t), kVc1HeadersWhole);
  const int ids[] = {VC1_FRAMERATE_FLAG,    VC1_FRAMERATEIND, VC1_FRAMERATENR,    VC1_FRAMERATEDR,
                     VC1_ASPECT_RATIO_FLAG, VC1_ASPECT_RATIO, VC1_MAX_CODED_WIDTH};
  const uint32_t values[] = {1, 0, 1, 1, 1, 5, 119};
  for (int i = 0; i < 7; i++) EXPECT_EQ(vc1_get_field(&t, ids[i]), values[i]) << ids[i];
}

// Runs ffprobe -show_streams on the bytes as a raw VC-1 stream and returns its report.
std::string probe(const std::string& stream) {
  std::string path = write_temp_file(Bytes(stream.begin(), stream.end()));
  if (path.empty()) return "";
  std::string text = shell_output("ffprobe -v error -f vc1 -show_streams " + path + " 2>&1");
  remove_temp_file(path);
  return text;
}

TEST(Vc1Sample, DecoderReadsTheInsertedRateAndAspectRatio) {
  if (std::system("command -v ffprobe >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "ffprobe is not installed: the rewritten stream is not probed";
  }
  ASSERT_FALSE(sample_frames().empty());
  // The sample already says 24 fps, so 25 fps at 16:11 shows that the decoder's answer
  // follows the rewritten header rather than the original or a default.
  struct Case {
    uint32_t period, x, y;
    const char* rate;
    const char* aspect;
  };
  const Case cases[] = {{41667, 40, 33, "r_frame_rate=24/1\n", "sample_aspect_ratio=40:33\n"},
                        {40000, 16, 11, "r_frame_rate=25/1\n", "sample_aspect_ratio=16:11\n"}};
  for (const Case& c : cases) {
    std::string text = probe(rewritten_stream(c.period, c.x, c.y));
    EXPECT_NE(text.find("codec_name=vc1\n"), std::string::npos) << text;
    EXPECT_NE(text.find(c.rate), std::string::npos) << text;
    EXPECT_NE(text.find(c.aspect), std::string::npos) << text;
  }
}

}  // namespace
