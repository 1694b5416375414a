// The Header Extension walk and the Extended Stream Properties handler: messages, stored
// fields, stream names, payload extension systems and the embedded Stream Properties.
#include <gtest/gtest.h>

#include <string>

#include "asf/asf.h"
#include "report/report.h"
#include "tests/support/asf_builder.h"
#include "tests/support/captured_report.h"

namespace {

struct Extension {
  CapturedReport captured;
  AsfParserContext* context = asf_context_create(kInvalidFile, &captured.report);
  std::string& out = captured.out;
  ~Extension() { asf_context_free(context); }
  AsfStreamRecord* stream(uint32_t n) { return asf_get_stream(context, n); }
};

// Runs the Header Extension walk on exactly the object's bytes, around the given children.
void run(const std::vector<Bytes>& children, Extension* e) {
  Bytes object = build_header_extension(children);
  asf_parse_header_extension(object.data(), static_cast<uint32_t>(object.size()), e->context);
}

// The lines of an Extended Stream Properties Object without names or extension systems.
std::string ext_lines(int stream, const std::string& period_line, int bitrate_kbs) {
  return "-- -- Found ASF_Extended_Stream_Properties_Object for ASF stream " + std::to_string(stream) + "\n" +
         period_line +
         "-- -- -- max object size: 0 bytes\n"
         "-- -- -- leaky bucket size: 0 bytes\n"
         "-- -- -- leaky bucket init fullness: 0 bytes\n"
         "-- -- -- leaky bucket bitrate: " +
         std::to_string(bitrate_kbs) + " KB/s\n";
}

TEST(AsfExtStreamProperties, FixedPartIsPrintedAndStored) {
  Extension e;
  run({build_ext_stream_properties({.stream_number = 3,
                                    .start_time = 11,
                                    .end_time = 22,
                                    .data_bitrate = 2000000,
                                    .buffer_size = 3000,
                                    .initial_buffer_fullness = 1500,
                                    .alt_data_bitrate = 5,
                                    .max_object_size = 45000,
                                    .flags = 2,
                                    .language_index = 1,
                                    .avg_time_per_frame = 333670})},
      &e);
  EXPECT_EQ(e.out,
            "-- Found ASF_Header_Extension_Object\n"
            "-- -- Found ASF_Extended_Stream_Properties_Object for ASF stream 3\n"
            "-- -- -- avg object period: 33367 uSecs (29.970 / sec)\n"
            "-- -- -- max object size: 45000 bytes\n"
            "-- -- -- leaky bucket size: 3000 bytes\n"
            "-- -- -- leaky bucket init fullness: 1500 bytes\n"
            "-- -- -- leaky bucket bitrate: 2000 KB/s\n");
  ASSERT_NE(e.stream(3), nullptr);
  const AsfExtStreamProperties& x = e.stream(3)->ext_stream_properties;
  EXPECT_TRUE(guid_equal(x.object_id, ASF_Extended_Stream_Properties_Object));
  EXPECT_EQ(x.object_size, 88u);
  EXPECT_EQ(x.start_time, 11u);
  EXPECT_EQ(x.end_time, 22u);
  EXPECT_EQ(x.data_bitrate, 2000000u);
  EXPECT_EQ(x.alt_data_bitrate, 5u);
  EXPECT_EQ(x.max_object_size, 45000u);
  EXPECT_EQ(x.flags, 2u);
  EXPECT_EQ(x.stream_number, 3u);
  EXPECT_EQ(x.language_index, 1u);
  EXPECT_EQ(x.avg_time_per_frame, 333670u);
}

TEST(AsfExtStreamProperties, PeriodAndBitrateAreRoundedToTheNearest) {
  struct Case {
    uint64_t time_per_frame;
    uint32_t bitrate;
    const char* period_line;
    int kbs;
  };
  const Case cases[] = {
      {400000, 1499, "-- -- -- avg object period: 40000 uSecs (25.000 / sec)\n", 1},
      {14, 1500, "-- -- -- avg object period: 1 uSecs (1000000.000 / sec)\n", 2},
      {15, 499, "-- -- -- avg object period: 2 uSecs (500000.000 / sec)\n", 0},
      {4, 500, "-- -- -- avg object period: 0 uSecs (0.000 / sec)\n", 1},
      {0, 0xFFFFFFFFu, "-- -- -- Warning: average object period is zero.\n", 0},  // sum wraps
  };
  for (const Case& c : cases) {
    Extension e;
    run({build_ext_stream_properties({.data_bitrate = c.bitrate, .avg_time_per_frame = c.time_per_frame})},
        &e);
    EXPECT_EQ(e.out, "-- Found ASF_Header_Extension_Object\n" + ext_lines(1, c.period_line, c.kbs));
  }
}

TEST(AsfExtStreamProperties, NamesAndExtensionSystemsArePrintedStoredAndStepped) {
  Bytes info300(300);
  for (size_t i = 0; i < info300.size(); i++) info300[i] = static_cast<uint8_t>(i);
  Guid id = guid_from_text("399595EC-8667-4E2D-8FDB-98814CE76C1E");
  Extension e;
  run({build_ext_stream_properties(
          {.stream_number = 2,
           .avg_time_per_frame = 400000,
           // A name length of 7 advances by 4 + 6 bytes.
           .names = {{.language_index = 1, .name = utf16("abc", false), .length_override = 7},
                     {.language_index = 2, .name = utf16("Video", true)}},
           .payload_ext_systems = {{.system_id = id, .data_size = 2, .info = info300}, {.data_size = 0xFFFF}},
           .embedded = build_stream_properties({.flags = 9, .codec_data = Bytes(4, 0x44)})})},
      &e);
  EXPECT_EQ(e.out, "-- Found ASF_Header_Extension_Object\n" +
                       ext_lines(2, "-- -- -- avg object period: 40000 uSecs (25.000 / sec)\n", 0) +
                       "-- -- -- 0: Lang Idx 1, len 7, name: abc\r\n"
                       "-- -- -- 1: Lang Idx 2, len 12, name: Video\r\n"
                       "-- -- -- payload extension systems # 1:\n"
                       "-- -- -- -- Data size: 2   Bytes of extra info: 300\n"
                       "-- -- -- payload extension systems # 2:\n"
                       "-- -- -- -- Data size: 65535   Bytes of extra info: 0\n"
                       "-- -- -- Found \"Hidden\" Stream Properties Object, now processing...\n"
                       "-- -- -- Found ASF_Stream_Properties_Object for ASF stream 9\n"
                       "-- -- -- Stream type: ASF_Video_Media\n"
                       "-- -- -- -- FourCC: WVC1\n"
                       "-- -- -- -- Stream correctly marked as VC-1 Advanced Profile\n"
                       "-- -- -- -- Now looking for Sequence and Entry Point Bytes...\n"
                       "-- -- -- -- Found Sequence and Entry Point Bytes; now copying...\n");
  AsfStreamRecord* record = e.stream(2);  // the embedded object fills stream 2's record
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(e.stream(9), nullptr);
  EXPECT_EQ(record->is_wvc1, 1u);
  EXPECT_EQ(record->retrieved_headers.count, 4u);
  const AsfPayloadExtSystem& first = record->payload_ext_systems[0];
  EXPECT_TRUE(guid_equal(first.system_id, id.data()));
  EXPECT_EQ(first.data_size, 2u);
  EXPECT_EQ(first.info_length, 300u);
  EXPECT_EQ(Bytes(first.info, first.info + 256), Bytes(info300.begin(), info300.begin() + 256));
  EXPECT_EQ(record->payload_ext_systems[1].data_size, 0xFFFFu);
}

TEST(AsfExtStreamProperties, SystemsBeyondTheEighthAreSteppedOverNotStored) {
  std::vector<PayloadExtSystemSpec> systems;
  for (uint16_t k = 0; k < 10; k++)
    systems.push_back({.data_size = static_cast<uint16_t>(k + 1), .info = Bytes(k, 7)});
  Extension e;
  run({build_ext_stream_properties({.payload_ext_systems = systems,
                                    .embedded = build_stream_properties({.codec_data = Bytes(1, 1)})})},
      &e);
  EXPECT_NE(
      e.out.find("payload extension systems # 10:\n-- -- -- -- Data size: 10   Bytes of extra info: 9\n"),
      std::string::npos);
  EXPECT_NE(e.out.find("Found \"Hidden\""), std::string::npos);
  for (int k = 0; k < kMaxPayloadExtSystems; k++)
    EXPECT_EQ(e.stream(1)->payload_ext_systems[k].data_size, k + 1);
  // Nothing was stored beyond the eighth entry: the fields behind the table are intact.
  const HeaderBuffer& headers = e.stream(1)->retrieved_headers;
  EXPECT_EQ(headers.count, 1u);
  EXPECT_EQ(Bytes(headers.data + 1, headers.data + kHeaderBufferSize), Bytes(kHeaderBufferSize - 1, 0));
}

TEST(AsfExtStreamProperties, NamesAndSystemsRunningPastTheObjectStopThere) {
  Extension names;  // the name's length runs past the object; the name is cut at its end
  run({build_ext_stream_properties(
          {.names = {{.name = utf16("Clip", false), .length_override = 5000}}, .name_count_override = 3})},
      &names);
  EXPECT_NE(names.out.find("-- -- -- 0: Lang Idx 0, len 5000, name: Clip\r\n"), std::string::npos);
  EXPECT_EQ(names.out.find("-- -- -- 1:"), std::string::npos);

  Extension systems;  // counts promise more than the object holds
  run({build_ext_stream_properties(
          {.payload_ext_systems = {{.info = Bytes(3, 1), .info_length_override = 999}},
           .payload_count_override = 40})},
      &systems);
  EXPECT_NE(systems.out.find("Bytes of extra info: 999\n"), std::string::npos);
  EXPECT_EQ(systems.out.find("systems # 2:"), std::string::npos);
  EXPECT_EQ(Bytes(systems.stream(1)->payload_ext_systems[0].info,
                  systems.stream(1)->payload_ext_systems[0].info + 4),
            Bytes({1, 1, 1, 0}));

  // The embedded object's declared size runs past the object: it ends with the object,
  // and type-specific data within its declared size but past that end is not used.
  Bytes embedded = build_stream_properties({.codec_data = Bytes(10, 1)});
  embedded[16] = static_cast<uint8_t>(embedded.size() + 40);
  Extension cut;
  run({build_ext_stream_properties({.embedded = embedded})}, &cut);
  EXPECT_EQ(cut.stream(1)->retrieved_headers.count, 10u);
  embedded[64] = 62 + 40;  // Type-Specific Data Length
  Extension over;
  run({build_ext_stream_properties({.embedded = embedded})}, &over);
  EXPECT_EQ(over.stream(1)->retrieved_headers.count, 0u);
  EXPECT_NE(over.out.find(
                "-- -- -- -- Error: Type-Specific Data runs past the end of the object; stream not used\n"),
            std::string::npos);
}

TEST(AsfExtStreamProperties, EmbeddedStreamPropertiesEndAtTheirDeclaredSize) {
  // Bytes follow the embedded object inside the Extended Stream Properties Object: they
  // are not the embedded object's, so type-specific data reaching into them is not used.
  Bytes embedded = build_stream_properties({.codec_data = Bytes(10, 1)});
  put_bytes(&embedded, Bytes(20, 2));
  Extension fits;
  run({build_ext_stream_properties({.embedded = embedded})}, &fits);
  EXPECT_EQ(fits.stream(1)->retrieved_headers.count, 10u);
  embedded[64] = 62 + 20;  // Type-Specific Data Length
  Extension over;
  run({build_ext_stream_properties({.embedded = embedded})}, &over);
  EXPECT_EQ(over.stream(1)->retrieved_headers.count, 0u);
  EXPECT_EQ(over.stream(1)->is_wvc1, 0u);
}

TEST(AsfHeaderExtension, ChildrenAreFramedWithinTheObject) {
  Bytes esp = build_ext_stream_properties({.stream_number = 5});
  Extension last;  // the last child ends exactly at the object's end: handled
  run({build_object(kGuidPadding, Bytes(10, 0)), esp}, &last);
  EXPECT_NE(last.stream(5), nullptr);

  for (uint64_t bad_size : {0ull, 23ull, 200ull, 1ull << 32}) {
    Bytes bad = build_object(kGuidPadding, Bytes(10, 0));
    for (int i = 0; i < 8; i++) bad[16 + i] = static_cast<uint8_t>(bad_size >> (8 * i));
    Extension e;
    run({bad, esp}, &e);
    EXPECT_EQ(e.out, "-- Found ASF_Header_Extension_Object\n") << bad_size;
    EXPECT_EQ(e.stream(5), nullptr);
  }

  Extension tiny;  // an Extended Stream Properties Object without its fixed part is not used
  Bytes short_esp(esp.begin(), esp.begin() + 87);
  short_esp[16] = 87;
  run({short_esp}, &tiny);
  EXPECT_EQ(tiny.out, "-- Found ASF_Header_Extension_Object\n");
  EXPECT_EQ(tiny.stream(5), nullptr);
}

TEST(AsfHeaderExtension, InvalidStreamNumberIsShownAtEveryVerbosity) {
  Bytes object = build_header_extension({build_ext_stream_properties({.stream_number = 300})});
  CapturedReport captured(0);
  AsfParserContext* context = asf_context_create(kInvalidFile, &captured.report);
  asf_parse_header_extension(object.data(), static_cast<uint32_t>(object.size()), context);
  EXPECT_EQ(captured.out, "Invalid stream #300\n");
  asf_context_free(context);
}

}  // namespace
