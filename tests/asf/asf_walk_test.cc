// The Header Object walk over whole files: not-ASF results, the walk's bounds and counts,
// where the file offset is left, the packet size, and the real sample file's header.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "asf/asf.h"
#include "report/report.h"
#include "tests/support/asf_builder.h"
#include "tests/support/captured_report.h"

namespace {

struct Walk {
  bool result = false;
  CapturedReport captured;
  std::string& out = captured.out;
  AsfParserContext* context = nullptr;
  uint64_t offset = 0;    // the file's offset after the walk
  uint8_t next[16] = {};  // the 16 bytes at that offset
  ~Walk() { asf_context_free(context); }
};

void walk_file(const std::string& path, Walk* w, uint32_t verbosity = 2) {
  PlatformFile file = platform_open_read(path.c_str());
  ASSERT_NE(file, kInvalidFile);
  w->captured.report.verbosity = verbosity;
  w->context = asf_context_create(file, &w->captured.report);
  ASSERT_NE(w->context, nullptr);
  w->result = asf_read_header(w->context);
  EXPECT_EQ(w->captured.console, "");
  platform_tell(file, &w->offset);
  uint32_t got = 0;
  platform_read(file, w->next, 16, &got);
  platform_close(file);
}

void walk(const Bytes& bytes, Walk* w, uint32_t verbosity = 2) {
  std::string path = write_temp_file(bytes);
  walk_file(path, w, verbosity);
  remove_temp_file(path);
}

Bytes wvc1(uint16_t flags, size_t codec_bytes = 20) {
  return build_stream_properties({.flags = flags, .codec_data = Bytes(codec_bytes, 0x0F)});
}

Bytes with_data_object(Bytes header) {
  put_bytes(&header, build_object(kGuidDataObject, Bytes(26, 0)));
  return header;
}

TEST(AsfHeaderWalk, ShortFileWrongGuidOrTinyObjectSizeIsNotAsf) {
  Bytes header = with_data_object(build_header_object({wvc1(1)}));
  for (const Bytes& bytes :
       {Bytes(header.begin(), header.begin() + 29), build_object(kGuidDataObject, Bytes(200, 0)),
        build_header_object({wvc1(1)}, {.size_override = 29})}) {
    Walk w;
    walk(bytes, &w);
    EXPECT_FALSE(w.result);
  }
  Bytes alone = build_header_object({wvc1(1)});
  Walk cut;  // the child area runs past the end of the file
  walk(Bytes(alone.begin(), alone.end() - 1), &cut);
  EXPECT_FALSE(cut.result);
  EXPECT_EQ(cut.out, "Found ASF_Header_Object\n\n");
}

TEST(AsfHeaderWalk, FirstUsableStreamEndsTheWalkAtTheDeclaredHeaderEnd) {
  Bytes header = build_header_object({build_file_properties(3200), wvc1(2), wvc1(3)});
  Walk w;
  walk(with_data_object(header), &w);
  EXPECT_TRUE(w.result);
  EXPECT_EQ(w.out,
            "Found ASF_Header_Object\n\n"
            "-- Found ASF_File_Properties_Object\n"
            "-- Found ASF_Stream_Properties_Object for ASF stream 2\n"
            "-- Stream type: ASF_Video_Media\n"
            "-- -- FourCC: WVC1\n"
            "-- -- Stream correctly marked as VC-1 Advanced Profile\n"
            "-- -- Now looking for Sequence and Entry Point Bytes...\n"
            "-- -- Found Sequence and Entry Point Bytes; now copying...\n");
  EXPECT_NE(asf_get_stream(w.context, 2), nullptr);
  // The stream behind it is read without a message.
  ASSERT_NE(asf_get_stream(w.context, 3), nullptr);
  EXPECT_EQ(asf_get_stream(w.context, 3)->retrieved_headers.count, 20u);
  EXPECT_EQ(w.context->max_packet_size, 3200u);
  EXPECT_EQ(w.context->header_end, header.size());
  EXPECT_EQ(w.offset, header.size());
  EXPECT_TRUE(guid_equal(w.next, ASF_Data_Object));
}

TEST(AsfHeaderWalk, ChildCountBoundsTheWalk) {
  Walk none;
  walk(with_data_object(build_header_object({wvc1(1)}, {.child_count = 0})), &none);
  EXPECT_FALSE(none.result);
  EXPECT_EQ(none.out, "Found ASF_Header_Object\n\n");
  Walk one;
  walk(with_data_object(build_header_object({build_file_properties(100), wvc1(1)}, {.child_count = 1})),
       &one);
  EXPECT_FALSE(one.result);
  EXPECT_EQ(one.out, "Found ASF_Header_Object\n\n-- Found ASF_File_Properties_Object\n");
  EXPECT_EQ(asf_get_stream(one.context, 1), nullptr);
}

TEST(AsfHeaderWalk, ChildOfExactlyAnObjectHeaderAtTheAreaEndIsNotVisited) {
  Walk w;
  walk(with_data_object(
           build_header_object({build_file_properties(100), build_object(kGuidHeaderExtension, {})})),
       &w);
  EXPECT_EQ(w.out, "Found ASF_Header_Object\n\n-- Found ASF_File_Properties_Object\n");
  Walk longer;  // one byte more and it is
  walk(with_data_object(build_header_object({build_object(kGuidHeaderExtension, Bytes(1, 0))})), &longer);
  EXPECT_EQ(longer.out, "Found ASF_Header_Object\n\n-- Found ASF_Header_Extension_Object\n");
}

TEST(AsfHeaderWalk, ChildTooSmallOrRunningPastTheAreaEndsTheWalk) {
  for (uint64_t bad_size : {0ull, 23ull, 1ull << 32, 0xFFFFFFFFFFFFFFFFull}) {
    Walk w;
    Bytes bad = build_object(kGuidPadding, Bytes(8, 0));
    for (int i = 0; i < 8; i++) bad[16 + i] = static_cast<uint8_t>(bad_size >> (8 * i));
    walk(with_data_object(build_header_object({bad, wvc1(1)})), &w);
    EXPECT_FALSE(w.result) << bad_size;
    EXPECT_EQ(w.out, "Found ASF_Header_Object\n\n") << bad_size;
  }
  Bytes stream = wvc1(1);
  Walk past;  // the stream's declared end lies 1 byte beyond the area
  stream[16] = static_cast<uint8_t>(stream.size() + 1);
  walk(with_data_object(build_header_object({stream})), &past);
  EXPECT_FALSE(past.result);
  EXPECT_EQ(asf_get_stream(past.context, 1), nullptr);
}

TEST(AsfHeaderWalk, PacketSizeIsTakenWhereverFilePropertiesStands) {
  Bytes ext = build_header_extension({build_ext_stream_properties({.stream_number = 4})});
  Walk after_ext;  // the record of stream 4 is made before the File Properties Object
  walk(with_data_object(build_header_object({ext, build_file_properties(1600), wvc1(4)})), &after_ext);
  EXPECT_TRUE(after_ext.result);
  EXPECT_EQ(after_ext.context->max_packet_size, 1600u);

  Walk behind;  // standing behind the stream that ended the walk: found silently
  walk(with_data_object(build_header_object({ext, wvc1(4), build_file_properties(2400)})), &behind);
  EXPECT_TRUE(behind.result);
  EXPECT_EQ(behind.context->max_packet_size, 2400u);
  EXPECT_EQ(behind.out.find("File_Properties"), std::string::npos);

  Walk short_one;  // too short to hold the field
  walk(with_data_object(build_header_object({build_file_properties(2400, 99), wvc1(4)})), &short_one);
  EXPECT_TRUE(short_one.result);
  EXPECT_EQ(short_one.context->max_packet_size, 0u);
}

TEST(AsfHeaderWalk, MaximumDataPacketSizeIsUsedNotTheMinimum) {
  Walk w;
  walk(with_data_object(build_header_object({build_file_properties(1600, 104, 1200), wvc1(1)})), &w);
  EXPECT_TRUE(w.result);
  EXPECT_EQ(w.context->max_packet_size, 1600u);
}

TEST(AsfHeaderWalk, InvalidStreamNumberIsShownAtEveryVerbosity) {
  Walk w;
  walk(with_data_object(build_header_object({wvc1(0x80), wvc1(0x81)})), &w, 0);
  EXPECT_TRUE(w.result);
  EXPECT_EQ(w.out, "Invalid stream #0\n");
  EXPECT_NE(asf_get_stream(w.context, 1), nullptr);
}

TEST(AsfHeaderWalk, StreamOnlyEmbeddedInTheExtensionIsAsf) {
  Bytes ext =
      build_header_extension({build_ext_stream_properties({.stream_number = 6, .embedded = wvc1(6)})});
  Bytes header = build_header_object({ext});
  Walk w;
  walk(with_data_object(header), &w);
  EXPECT_TRUE(w.result);
  ASSERT_NE(asf_get_stream(w.context, 6), nullptr);
  EXPECT_EQ(asf_get_stream(w.context, 6)->is_wvc1, 1u);
  EXPECT_EQ(w.offset, header.size());
  // Without codec data the embedded stream is not enough.
  Walk bare;
  walk(with_data_object(build_header_object({build_header_extension(
           {build_ext_stream_properties({.stream_number = 6, .embedded = wvc1(6, 0)})})})),
       &bare);
  EXPECT_FALSE(bare.result);
}

TEST(AsfHeaderWalk, LargeChildAreaIsReadWholeUpTo16MiB) {
  // A stream behind 200 KB of padding is found.
  Bytes padded = build_header_object({build_object(kGuidPadding, Bytes(200000, 0)), wvc1(1)});
  Walk w;
  walk(with_data_object(padded), &w);
  EXPECT_TRUE(w.result);
  EXPECT_EQ(w.offset, padded.size());

  // Past the first 16 MiB of children nothing is visited; before it, a stream is found
  // and the offset is still the declared end.
  const uint32_t big = kMaxHeaderChildArea;
  Walk beyond;
  walk(with_data_object(build_header_object({build_object(kGuidPadding, Bytes(big - 24, 0)), wvc1(1)})),
       &beyond);
  EXPECT_FALSE(beyond.result);
  Bytes trailing = build_header_object({wvc1(1), build_object(kGuidPadding, Bytes(big, 0))});
  Walk within;
  walk(with_data_object(trailing), &within);
  EXPECT_TRUE(within.result);
  EXPECT_EQ(within.context->header_end, trailing.size());
  EXPECT_EQ(within.offset, trailing.size());
  EXPECT_TRUE(guid_equal(within.next, ASF_Data_Object));
  Walk cut;  // declared end beyond the file: cut short inside the header
  walk(Bytes(trailing.begin(), trailing.end() - 1), &cut);
  EXPECT_FALSE(cut.result);
}

TEST(AsfHeaderWalk, SampleFileYieldsItsWvc1StreamAndAspectRatio) {
  const char* dir = std::getenv("TARVEL_TESTDATA");
  std::string base = dir != nullptr ? dir : TARVEL_SOURCE_DIR "/testdata";
  Walk w;
  walk_file(base + "/vc1ap_240x104.wmv", &w);
  EXPECT_TRUE(w.result);
  EXPECT_EQ(w.out,
            "Found ASF_Header_Object\n\n"
            "-- Found ASF_File_Properties_Object\n"
            "-- Found ASF_Header_Extension_Object\n"
            "-- -- Found ASF_Metadata_Object; processing 2 objects\n"
            "-- -- -- Metadata for stream 1: AspectRatioX = 40\n"
            "-- -- -- Metadata for stream 1: AspectRatioY = 33\n"
            "-- Found ASF_Stream_Properties_Object for ASF stream 1\n"
            "-- Stream type: ASF_Video_Media\n"
            "-- -- FourCC: WVC1\n"
            "-- -- Stream correctly marked as VC-1 Advanced Profile\n"
            "-- -- Now looking for Sequence and Entry Point Bytes...\n"
            "-- -- Found Sequence and Entry Point Bytes; now copying...\n");
  AsfStreamRecord* record = asf_get_stream(w.context, 1);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(w.context->max_packet_size, 3200u);
  EXPECT_EQ(record->par_x, 40u);
  EXPECT_EQ(record->par_y, 33u);
  EXPECT_EQ(record->ext_stream_properties.data_bitrate, 0u);
  ASSERT_GE(record->retrieved_headers.count, 4u);
  EXPECT_EQ(record->retrieved_headers.data[3], 0x0F);  // sequence header start code
  EXPECT_TRUE(guid_equal(w.next, ASF_Data_Object));
  for (int n = 2; n < kMaxStreams; n++) EXPECT_EQ(asf_get_stream(w.context, n), nullptr);
  EXPECT_EQ(asf_get_stream(w.context, 0), nullptr);
  EXPECT_EQ(asf_get_stream(w.context, 128), nullptr);
}

}  // namespace
