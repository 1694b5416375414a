// The Stream Properties handler: messages, stored fields, the codec-data bounds; the GUID
// constants and the stream-type names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "asf/asf.h"
#include "report/report.h"
#include "tests/support/asf_builder.h"
#include "tests/support/captured_report.h"

namespace {

struct Parsed {
  bool result = false;
  std::string out;
  AsfStreamRecord record;
};

// Runs the handler on exactly the object's bytes (a heap copy, so that a read past them
// is caught by the address sanitizer).
Parsed parse(const Bytes& object, bool hidden = false) {
  Parsed p;
  asf_stream_record_init(&p.record, 1);
  Bytes copy(object);
  CapturedReport capture;
  p.result = asf_parse_stream_properties(&capture.report, copy.data(), static_cast<uint32_t>(copy.size()),
                                         &p.record, hidden);
  p.out = capture.out;
  return p;
}

Bytes codec(size_t n) {
  Bytes out(n);
  for (size_t i = 0; i < n; i++) out[i] = static_cast<uint8_t>(i * 3 + 1);
  return out;
}

const char kWvc1Lines[] =
    "-- -- FourCC: WVC1\n"
    "-- -- Stream correctly marked as VC-1 Advanced Profile\n"
    "-- -- Now looking for Sequence and Entry Point Bytes...\n";

TEST(AsfGuids, ConstantsAreTheStoredFormOfTheirText) {
  EXPECT_TRUE(guid_equal(ASF_Header_Object, kGuidHeaderObject.data()));
  EXPECT_TRUE(guid_equal(ASF_File_Properties_Object, kGuidFileProperties.data()));
  EXPECT_TRUE(guid_equal(ASF_Stream_Properties_Object, kGuidStreamProperties.data()));
  EXPECT_TRUE(guid_equal(ASF_Header_Extension_Object, kGuidHeaderExtension.data()));
  EXPECT_TRUE(guid_equal(ASF_Extended_Stream_Properties_Object, kGuidExtStreamProperties.data()));
  EXPECT_TRUE(guid_equal(ASF_Metadata_Object, kGuidMetadata.data()));
  EXPECT_TRUE(guid_equal(ASF_Data_Object, kGuidDataObject.data()));
  const uint8_t stored[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  EXPECT_TRUE(guid_equal(ASF_Header_Object, stored));
  EXPECT_FALSE(guid_equal(ASF_Header_Object, ASF_Data_Object));
}

TEST(AsfStreamTypes, TableNamesEveryKnownTypeAndUnknownOtherwise) {
  const std::pair<Guid, const char*> cases[] = {
      {kGuidAudioMedia, "ASF_Audio_Media"},
      {kGuidVideoMedia, "ASF_Video_Media"},
      {kGuidCommandMedia, "ASF_Command_Media"},
      {kGuidJfifMedia, "ASF_JFIF_Media"},
      {kGuidDegradableJpegMedia, "ASF_Degradable_JPEG_Media"},
      {kGuidFileTransferMedia, "ASF_File_Transfer_Media"},
      {kGuidBinaryMedia, "ASF_Binary_Media"},
      {kGuidPadding, "<unknown>"},
  };
  for (const auto& [guid, name] : cases) EXPECT_STREQ(asf_stream_type_name(guid.data()), name);
}

TEST(AsfStreamRecord, InitZeroesAllButTheNumber) {
  AsfStreamRecord record;
  std::memset(&record, 0xA5, sizeof record);
  EXPECT_EQ(asf_stream_record_init(&record, 7), &record);
  EXPECT_EQ(record.stream_number, 7u);
  EXPECT_EQ(record.is_wvc1, 0u);
  EXPECT_EQ(record.retrieved_headers.count, 0u);
  EXPECT_EQ(record.ext_stream_properties.data_bitrate, 0u);
  EXPECT_EQ(record.par_x + record.par_y, 0u);
}

TEST(AsfStreamProperties, Wvc1StreamCopiesItsCodecDataAndPrintsEveryStep) {
  Bytes object = build_stream_properties({.flags = 0x8005, .codec_data = codec(40)});
  Parsed p = parse(object);
  EXPECT_TRUE(p.result);
  EXPECT_EQ(p.out, std::string("-- Found ASF_Stream_Properties_Object for ASF stream 5\n"
                               "-- Stream type: ASF_Video_Media\n") +
                       kWvc1Lines + "-- -- Found Sequence and Entry Point Bytes; now copying...\n");
  EXPECT_EQ(p.record.is_video, 1u);
  EXPECT_EQ(p.record.is_wvc1, 1u);
  EXPECT_EQ(0, std::memcmp(p.record.stream_properties, object.data(), 78));
  ASSERT_EQ(p.record.retrieved_headers.count, 40u);
  EXPECT_EQ(Bytes(p.record.retrieved_headers.data, p.record.retrieved_headers.data + 40), codec(40));
}

TEST(AsfStreamProperties, HiddenObjectUsesTheDeepPrefixOnEveryLine) {
  Parsed p = parse(build_stream_properties({.flags = 9, .codec_data = codec(3)}), true);
  EXPECT_TRUE(p.result);
  EXPECT_EQ(p.out,
            "-- -- -- Found ASF_Stream_Properties_Object for ASF stream 9\n"
            "-- -- -- Stream type: ASF_Video_Media\n"
            "-- -- -- -- FourCC: WVC1\n"
            "-- -- -- -- Stream correctly marked as VC-1 Advanced Profile\n"
            "-- -- -- -- Now looking for Sequence and Entry Point Bytes...\n"
            "-- -- -- -- Found Sequence and Entry Point Bytes; now copying...\n");
}

TEST(AsfStreamProperties, NonVideoStreamStopsAfterTheTypeLine) {
  Parsed p = parse(build_stream_properties({.stream_type = kGuidPadding, .video_header = false}));
  EXPECT_FALSE(p.result);
  EXPECT_EQ(p.out,
            "-- Found ASF_Stream_Properties_Object for ASF stream 1\n"
            "-- Stream type: <unknown>\n"
            "-- -- (Non-video stream; no further processing)\n");
  EXPECT_EQ(p.record.is_video, 0u);
}

TEST(AsfStreamProperties, FourccOtherThanExactlyWvc1IsRejected) {
  for (const char* fourcc : {"wvc1", "WMV3"}) {
    Parsed p = parse(build_stream_properties({.fourcc = fourcc, .codec_data = codec(40)}));
    EXPECT_FALSE(p.result);
    EXPECT_EQ(p.out, std::string("-- Found ASF_Stream_Properties_Object for ASF stream 1\n"
                                 "-- Stream type: ASF_Video_Media\n"
                                 "-- -- FourCC: ") +
                         fourcc +
                         "\n"
                         "-- -- Video stream has incorrect encoding format - should be \"WVC1\"\n"
                         "-- -- Will not attempt to use this stream...\n");
    EXPECT_EQ(p.record.is_video, 1u);
    EXPECT_EQ(p.record.is_wvc1, 0u);
    EXPECT_EQ(p.record.retrieved_headers.count, 0u);
  }
}

TEST(AsfStreamProperties, CodecDataLengthBoundsDecideCopyAndResult) {
  struct Case {
    size_t codec_bytes;  // after the 52 bytes of video header
    bool result;
    uint32_t count;
  };
  for (Case c : {Case{0, false, 0}, Case{1, true, 1}, Case{1024, true, 1024}, Case{1025, true, 0}}) {
    Parsed p = parse(build_stream_properties({.codec_data = codec(c.codec_bytes)}));
    EXPECT_EQ(p.result, c.result) << c.codec_bytes;
    EXPECT_EQ(p.record.is_wvc1, 1u);
    EXPECT_EQ(p.record.retrieved_headers.count, c.count);
    bool copied = p.out.find("now copying") != std::string::npos;
    EXPECT_EQ(copied, c.count != 0) << c.codec_bytes;
    const uint8_t* data = p.record.retrieved_headers.data;
    EXPECT_EQ(Bytes(data, data + c.count), codec(c.count));
  }
}

TEST(AsfStreamProperties, TypeSpecificDataPastTheObjectIsReportedAndNotUsed) {
  Parsed p = parse(build_stream_properties({.codec_data = codec(40), .type_specific_length = 93}));
  EXPECT_FALSE(p.result);
  EXPECT_EQ(p.out, std::string("-- Found ASF_Stream_Properties_Object for ASF stream 1\n"
                               "-- Stream type: ASF_Video_Media\n") +
                       kWvc1Lines +
                       "-- -- Error: Type-Specific Data runs past the end of the object; stream not used\n");
  EXPECT_EQ(p.record.is_wvc1, 0u);
  EXPECT_EQ(p.record.retrieved_headers.count, 0u);
  // A length that fits exactly is used.
  p = parse(build_stream_properties({.codec_data = codec(40), .type_specific_length = 92}));
  EXPECT_TRUE(p.result);
}

TEST(AsfStreamProperties, ObjectTooShortForItsFixedPartOrFourccIsNotUsed) {
  Bytes object = build_stream_properties({.video_header = false});
  ASSERT_EQ(object.size(), 78u);
  Parsed p = parse(Bytes(object.begin(), object.end() - 1));
  EXPECT_FALSE(p.result);
  EXPECT_EQ(p.out, "");
  p = parse(object);  // video without room for the FourCC
  EXPECT_FALSE(p.result);
  EXPECT_EQ(p.record.is_video, 1u);
  EXPECT_EQ(p.record.is_wvc1, 0u);
  EXPECT_EQ(p.out,
            "-- Found ASF_Stream_Properties_Object for ASF stream 1\n"
            "-- Stream type: ASF_Video_Media\n"
            "-- -- Error: Type-Specific Data runs past the end of the object; stream not used\n");
}

}  // namespace
