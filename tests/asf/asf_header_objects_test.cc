// The whole header: objects behind the stream that ends the reported walk are read without
// a message, bitrates and aspect ratios come from the objects that have them, the encoder's
// name and the encryption objects are found wherever they stand.
#include <gtest/gtest.h>

#include <string>

#include "asf/asf.h"
#include "report/report.h"
#include "tests/support/asf_builder.h"
#include "tests/support/captured_report.h"

namespace {

// The header walk over a file of the header alone; `out` holds what it printed.
struct Header {
  CapturedReport captured{3};
  AsfParserContext* context = nullptr;
  bool result = false;
  std::string out;
  ~Header() { asf_context_free(context); }
  AsfStreamRecord* stream(uint32_t n) { return asf_get_stream(context, n); }
};

void read_header(const std::vector<Bytes>& children, Header* h) {
  std::string path = write_temp_file(build_header_object(children));
  PlatformFile file = platform_open_read(path.c_str());
  ASSERT_NE(file, kInvalidFile);
  h->context = asf_context_create(file, &h->captured.report);
  h->result = asf_read_header(h->context);
  h->out = h->captured.out + h->captured.console;
  platform_close(file);
  remove_temp_file(path);
}

Bytes wvc1(uint16_t flags) {
  return build_stream_properties({.flags = flags, .codec_data = Bytes(20, 0x0F)});
}

Bytes extension(const std::vector<Bytes>& children) { return build_header_extension(children); }

TEST(AsfWholeHeader, ObjectsBehindTheReportedStreamAreReadWithoutAMessage) {
  const std::vector<Bytes> reported = {build_file_properties(3200), wvc1(1)};
  Header alone;
  read_header(reported, &alone);

  std::vector<Bytes> whole = reported;
  whole.push_back(build_stream_properties({.flags = 2, .codec_data = Bytes(30, 0x0E), .width = 640}));
  whole.push_back(wvc1(0));  // an invalid stream number: not even that is said
  whole.push_back(
      extension({build_ext_stream_properties({.data_bitrate = 900000, .avg_time_per_frame = 400000}),
                 build_metadata({{.name = "AspectRatioX", .data = metadata_dword(40)},
                                 {.name = "AspectRatioY", .data = metadata_dword(33)}})}));
  whole.push_back(build_stream_bitrate_properties({{.flags = 2, .average_bitrate = 300000}}));
  Header h;
  read_header(whole, &h);
  EXPECT_TRUE(h.result);
  EXPECT_EQ(h.out, alone.out);
  ASSERT_NE(h.stream(2), nullptr);
  EXPECT_EQ(h.stream(2)->retrieved_headers.count, 30u);
  EXPECT_EQ(h.stream(2)->width, 640u);
  EXPECT_EQ(h.stream(2)->bitrate, 300000u);
  EXPECT_EQ(h.stream(1)->bitrate, 900000u);
  EXPECT_EQ(h.stream(1)->ext_stream_properties.avg_time_per_frame, 400000u);
  EXPECT_EQ(h.stream(1)->par_x, 40u);
  EXPECT_EQ(h.stream(1)->par_y, 33u);
  EXPECT_EQ(h.context->play_duration, 10000000u);
  EXPECT_EQ(h.context->preroll, 3000u);
  EXPECT_EQ(h.context->file_flags, 2u);
}

TEST(AsfWholeHeader, BitrateIsTheExtendedStreamPropertiesElseTheStreamBitrateProperties) {
  struct Case {
    uint32_t extended, average, expected;
  };
  for (const Case& c : {Case{1000000, 300000, 1000000}, Case{0, 300000, 300000}, Case{0, 0, 0}}) {
    Header h;
    read_header(
        {build_stream_bitrate_properties(
             {{.flags = 0x0083, .average_bitrate = c.average}, {.flags = 0, .average_bitrate = 5}},
             3),  // a count past the object's end
         extension({build_ext_stream_properties({.stream_number = 3, .data_bitrate = c.extended})}), wvc1(3)},
        &h);
    EXPECT_EQ(h.stream(3)->bitrate, c.expected) << c.extended << " " << c.average;
  }
}

TEST(AsfWholeHeader, AspectRatioFromTheMetadataLibraryWhenTheMetadataGivesNone) {
  struct Case {
    std::vector<MetadataRecordSpec> metadata;
    uint32_t x, y;
  };
  const MetadataRecordSpec x40 = {.name = "AspectRatioX", .data = metadata_dword(40)};
  const Case cases[] = {
      {{}, 16, 9},
      {{x40, {.name = "AspectRatioY", .data = metadata_dword(33)}}, 40, 33},
      {{x40}, 40, 0},  // the Metadata Object gave one value: the library is not asked
      {{{.name = "AspectRatioY", .data = metadata_dword(33)}}, 0, 33},
  };
  for (const Case& c : cases) {
    std::vector<Bytes> children;
    if (!c.metadata.empty()) children.push_back(build_metadata(c.metadata));
    children.push_back(
        build_metadata_library({{.stream_number = 0, .name = "AspectRatioX", .data = metadata_dword(7)},
                                {.stream_number = 1, .name = "AspectRatioX", .data = metadata_dword(16)},
                                {.stream_number = 1, .name = "AspectRatioY", .data = metadata_dword(9)},
                                {.stream_number = 1,
                                 .name = "AspectRatioY",
                                 .data = metadata_dword(1),
                                 .data_length_override = 5}}));  // one byte past the object
    Header h;
    read_header({extension(children), wvc1(1)}, &h);
    EXPECT_EQ(h.stream(1)->par_x, c.x) << c.x;
    EXPECT_EQ(h.stream(1)->par_y, c.y) << c.x;
    EXPECT_EQ(h.out.find("Invalid stream"), std::string::npos);
  }
}

TEST(AsfWholeHeader, EncoderIsTheToolNameWithItsVersionElseTheEncodingSettings) {
  const ContentDescriptorSpec tool = {.name = "WM/ToolName", .value = utf16("Studio", true)};
  const ContentDescriptorSpec version = {.name = "WM/ToolVersion", .value = utf16("9.1", true)};
  const ContentDescriptorSpec settings = {.name = "WM/EncodingSettings", .value = utf16("Lavf", true)};
  struct Case {
    std::vector<ContentDescriptorSpec> descriptors;
    std::string encoder;
  };
  const Case cases[] = {
      {{settings, version, tool}, "Studio 9.1"},
      {{tool, settings}, "Studio"},
      {{{.name = "WM/ToolName", .type = 3, .value = metadata_dword(5)}, settings}, "Lavf"},
      {{version}, ""},
      {{{.name = "Title", .value = utf16("x", true), .value_length_override = 999}, tool}, ""},
  };
  for (const Case& c : cases) {
    Header h;
    read_header({wvc1(1), build_ext_content_description(c.descriptors)}, &h);
    EXPECT_EQ(std::string(h.context->encoder), c.encoder);
  }
}

TEST(AsfWholeHeader, EncryptionObjectsAndTheEncryptedFlagMarkTheStream) {
  struct Case {
    std::vector<Bytes> children;
    bool encrypted;
  };
  const Case cases[] = {
      {{wvc1(1)}, false},
      {{wvc1(0x8001)}, true},
      {{wvc1(1), build_content_encryption()}, true},
      {{build_ext_content_encryption(), wvc1(1)}, true},
      {{wvc1(1), extension({build_advanced_content_encryption(1)})}, true},
  };
  for (const Case& c : cases) {
    Header h;
    read_header(c.children, &h);
    ASSERT_TRUE(h.result);
    EXPECT_EQ(asf_stream_is_encrypted(h.context, h.stream(1)), c.encrypted) << &c - cases;
  }
}

}  // namespace
