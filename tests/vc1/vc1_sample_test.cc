// The codec data of a real ASF sample: parsed, written back unchanged, and rewritten with
// a frame rate and an aspect ratio that an independent decoder then reads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vc1/vc1.h"

namespace {

std::string testdata_path(const char* name) {
  const char* dir = std::getenv("TARVEL_TESTDATA");
  return std::string(dir != nullptr ? dir : TARVEL_SOURCE_DIR "/testdata") + "/" + name;
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  uint8_t chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  std::fclose(f);
  return bytes;
}

uint32_t read_le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t read_le64(const uint8_t* p) { return read_le32(p) | (static_cast<uint64_t>(read_le32(p + 4)) << 32); }

const uint8_t kHeaderObject[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                   0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const uint8_t kStreamProperties[16] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                       0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const uint8_t kVideoMedia[16] = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                                 0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};

struct VideoCodecData {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> bytes;  // what follows the bitmap header, up to the end of the
                               // type-specific data
};

// Finds the video Stream Properties Object among the Header Object's children and takes
// its codec data, bounded by the Type-Specific Data Length.
bool find_video_codec_data(const std::vector<uint8_t>& file, VideoCodecData* out) {
  if (file.size() < 30 || std::memcmp(file.data(), kHeaderObject, 16) != 0) return false;
  uint64_t header_end = read_le64(&file[16]);
  if (header_end > file.size()) return false;
  uint64_t at = 30;
  while (at + 24 <= header_end) {
    const uint8_t* object = &file[at];
    uint64_t size = read_le64(object + 16);
    if (size < 24 || size > header_end - at) return false;
    if (std::memcmp(object, kStreamProperties, 16) == 0 && size >= 78 &&
        std::memcmp(object + 24, kVideoMedia, 16) == 0) {
      uint32_t specific_length = read_le32(object + 64);
      if (78 + static_cast<uint64_t>(specific_length) > size || specific_length < 11 + 40) return false;
      const uint8_t* specific = object + 78;
      out->width = read_le32(specific);
      out->height = read_le32(specific + 4);
      const uint8_t* bitmap = specific + 11;
      if (std::memcmp(bitmap + 16, "WVC1", 4) != 0) return false;
      out->bytes.assign(bitmap + 40, specific + specific_length);
      return true;
    }
    at += size;
  }
  return false;
}

size_t find_bytes(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle) {
  for (size_t i = 0; i + needle.size() <= hay.size(); i++) {
    if (std::memcmp(&hay[i], needle.data(), needle.size()) == 0) return i;
  }
  return std::string::npos;
}

const std::vector<uint8_t> kSequenceCode = {0x00, 0x00, 0x01, 0x0F};
const std::vector<uint8_t> kEntryPointCode = {0x00, 0x00, 0x01, 0x0E};
const std::vector<uint8_t> kFrameCode = {0x00, 0x00, 0x01, 0x0D};

HeaderBuffer make_buffer(const std::vector<uint8_t>& bytes) {
  HeaderBuffer b;
  std::memset(&b, 0, sizeof b);
  std::memcpy(b.data, bytes.data(), bytes.size());
  b.count = static_cast<uint32_t>(bytes.size());
  return b;
}

std::vector<uint8_t> bytes_of(const HeaderBuffer& b) { return std::vector<uint8_t>(b.data, b.data + b.count); }

// Parses the sample's codec data; fails the test when the sample cannot be read.
bool parse_sample(Vc1HeaderTable* table, VideoCodecData* codec) {
  std::vector<uint8_t> file = read_file(testdata_path("vc1ap_240x104.wmv"));
  EXPECT_FALSE(file.empty()) << "cannot read the sample";
  if (!find_video_codec_data(file, codec)) {
    ADD_FAILURE() << "no video codec data in the sample";
    return false;
  }
  if (codec->bytes.size() > kHeaderBufferSize) return false;
  HeaderBuffer b = make_buffer(codec->bytes);
  vc1_table_init(table);
  EXPECT_EQ(vc1_parse_headers(&b, table), 1);
  return true;
}

TEST(Vc1Sample, CodecDataIsReproducedExactlyWhenWrittenUnedited) {
  Vc1HeaderTable t;
  VideoCodecData codec;
  ASSERT_TRUE(parse_sample(&t, &codec));
  ASSERT_EQ(codec.bytes.size(), 27u);
  EXPECT_EQ(codec.bytes[0], 0x25);
  size_t sequence = find_bytes(codec.bytes, kSequenceCode);
  size_t entry_point = find_bytes(codec.bytes, kEntryPointCode);
  ASSERT_EQ(sequence, 1u);
  ASSERT_NE(entry_point, std::string::npos);

  EXPECT_EQ(vc1_get_field(&t, VC1_PROFILE), 3u);
  EXPECT_EQ(vc1_get_field(&t, VC1_MAX_CODED_WIDTH), codec.width / 2 - 1);
  EXPECT_EQ(vc1_get_field(&t, VC1_MAX_CODED_HEIGHT), codec.height / 2 - 1);

  HeaderBuffer out;
  vc1_write_headers(0, &t, &out);
  EXPECT_EQ(bytes_of(out), std::vector<uint8_t>(codec.bytes.begin() + 1, codec.bytes.end()));
  vc1_write_headers(1, &t, &out);
  EXPECT_EQ(bytes_of(out), std::vector<uint8_t>(codec.bytes.begin() + static_cast<long>(entry_point),
                                                codec.bytes.end()));

  // The elementary-stream version of the same video starts with the same two headers.
  std::vector<uint8_t> stream = read_file(testdata_path("vc1ap_240x104.vc1"));
  size_t first_frame = find_bytes(stream, kFrameCode);
  ASSERT_NE(first_frame, std::string::npos);
  vc1_write_headers(0, &t, &out);
  EXPECT_EQ(bytes_of(out), std::vector<uint8_t>(stream.begin(), stream.begin() + static_cast<long>(first_frame)));
}

// The sample's headers with a frame period and aspect ratio put in, followed by its frames.
std::vector<uint8_t> rewritten_stream(uint32_t period_us, uint32_t x, uint32_t y) {
  Vc1HeaderTable t;
  VideoCodecData codec;
  if (!parse_sample(&t, &codec)) return {};
  vc1_insert_frame_period(period_us, &t);
  vc1_insert_par(x, y, &t);
  HeaderBuffer out;
  vc1_write_headers(0, &t, &out);
  std::vector<uint8_t> stream = bytes_of(out);
  std::vector<uint8_t> sample = read_file(testdata_path("vc1ap_240x104.vc1"));
  size_t first_frame = find_bytes(sample, kFrameCode);
  if (first_frame == std::string::npos) return {};
  stream.insert(stream.end(), sample.begin() + static_cast<long>(first_frame), sample.end());
  return stream;
}

TEST(Vc1Sample, InsertedRateAndAspectRatioParseBack) {
  std::vector<uint8_t> stream = rewritten_stream(41667, 40, 33);
  ASSERT_FALSE(stream.empty());
  size_t first_frame = find_bytes(stream, kFrameCode);
  ASSERT_NE(first_frame, std::string::npos);
  HeaderBuffer b = make_buffer(std::vector<uint8_t>(stream.begin(), stream.begin() + static_cast<long>(first_frame)));
  Vc1HeaderTable t;
  vc1_table_init(&t);
  ASSERT_EQ(vc1_parse_headers(&b, &t), 1);
  EXPECT_EQ(vc1_get_field(&t, VC1_FRAMERATE_FLAG), 1u);
  EXPECT_EQ(vc1_get_field(&t, VC1_FRAMERATEIND), 0u);
  EXPECT_EQ(vc1_get_field(&t, VC1_FRAMERATENR), 1u);
  EXPECT_EQ(vc1_get_field(&t, VC1_FRAMERATEDR), 1u);
  EXPECT_EQ(vc1_get_field(&t, VC1_ASPECT_RATIO_FLAG), 1u);
  EXPECT_EQ(vc1_get_field(&t, VC1_ASPECT_RATIO), 5u);
  EXPECT_EQ(vc1_get_field(&t, VC1_MAX_CODED_WIDTH), 119u);
}

bool have_ffprobe() { return std::system("command -v ffprobe >/dev/null 2>&1") == 0; }

// Runs ffprobe -show_streams on the bytes and returns what it printed.
std::string probe(const std::vector<uint8_t>& stream) {
  std::string path = testing::TempDir() + "vc1_sample_XXXXXX";
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return "";
  bool written = write(fd, stream.data(), stream.size()) == static_cast<ssize_t>(stream.size());
  close(fd);
  std::string text;
  if (written) {
    std::string command = "ffprobe -v error -f vc1 -show_streams '" + std::string(name.data()) + "' 2>&1";
    FILE* p = popen(command.c_str(), "r");
    if (p != nullptr) {
      char line[512];
      while (std::fgets(line, sizeof line, p) != nullptr) text += line;
      pclose(p);
    }
  }
  unlink(name.data());
  return text;
}

TEST(Vc1Sample, DecoderReadsTheInsertedRateAndAspectRatio) {
  if (!have_ffprobe()) GTEST_SKIP() << "ffprobe is not installed: the rewritten stream is not probed";
  // 24 fps at 40:33 is what the conversion inserts; 25 fps at 16:11 shows that the
  // decoder's answer follows the header rather than a default.
  struct Case {
    uint32_t period, x, y;
    const char* rate;
    const char* aspect;
  };
  const Case cases[] = {{41667, 40, 33, "r_frame_rate=24/1\n", "sample_aspect_ratio=40:33\n"},
                        {40000, 16, 11, "r_frame_rate=25/1\n", "sample_aspect_ratio=16:11\n"}};
  for (const Case& c : cases) {
    std::vector<uint8_t> stream = rewritten_stream(c.period, c.x, c.y);
    ASSERT_FALSE(stream.empty());
    std::string text = probe(stream);
    EXPECT_NE(text.find("codec_name=vc1\n"), std::string::npos) << text;
    EXPECT_NE(text.find(c.rate), std::string::npos) << text;
    EXPECT_NE(text.find(c.aspect), std::string::npos) << text;
  }
}

}  // namespace
