// The Metadata Object: value formats, the pixel aspect ratio, and records that cannot be
// used or run past the object.
#include <gtest/gtest.h>

#include <string>

#include "asf/asf.h"
#include "report/report.h"
#include "tests/support/asf_builder.h"
#include "tests/support/captured_report.h"

namespace {

struct Metadata {
  CapturedReport captured;
  AsfParserContext* context = asf_context_create(kInvalidFile, &captured.report);
  std::string& out = captured.out;
  ~Metadata() { asf_context_free(context); }
  AsfStreamRecord* stream(uint32_t n) { return asf_get_stream(context, n); }
};

// Runs the metadata walk on exactly the object's bytes; `out` holds the record lines only.
void run(const Bytes& object, Metadata* m, uint32_t verbosity = 2) {
  Bytes copy(object);
  m->captured.report.verbosity = verbosity;
  asf_parse_metadata(copy.data(), static_cast<uint32_t>(copy.size()), m->context);
  std::string head = "-- -- Found ASF_Metadata_Object; processing ";
  if (m->out.compare(0, head.size(), head) == 0) m->out.erase(0, m->out.find('\n') + 1);
}

std::string line(int stream, const std::string& name, const std::string& text) {
  return "-- -- -- Metadata for stream " + std::to_string(stream) + ": " + name + " = " + text + "\n";
}

TEST(AsfMetadata, AspectRatioSetsThePixelAspectRatioOfItsStream) {
  Metadata m;
  run(build_metadata({{.stream_number = 2, .name = "AspectRatioX", .data = metadata_dword(40)},
                      {.stream_number = 2, .name = "AspectRatioY", .data = metadata_dword(33)},
                      {.stream_number = 3, .name = "aspectratiox", .data = metadata_dword(9)}}),
      &m);
  EXPECT_EQ(m.out,
            line(2, "AspectRatioX", "40") + line(2, "AspectRatioY", "33") + line(3, "aspectratiox", "9"));
  EXPECT_EQ(m.stream(2)->par_x, 40u);
  EXPECT_EQ(m.stream(2)->par_y, 33u);
  EXPECT_EQ(m.stream(3)->par_x, 0u);  // the name differs in case
}

TEST(AsfMetadata, EveryDataTypeIsFormattedByItsOwnRule) {
  Bytes latin = utf16("caf", false);
  put_le16(&latin, 0xE9);    // é: a character up to 0xFF is the byte of that value
  put_le16(&latin, 0x263A);  // above 0xFF: '?'
  put_le16(&latin, 0);
  struct Case {
    uint16_t type;
    Bytes data;
    std::string text;
  };
  const Case cases[] = {
      {0, metadata_unicode("Hello"), "Hello"},
      {0, latin, "caf\xE9?"},
      {0, metadata_unicode(std::string(70, 'x')), std::string(64, 'x')},
      {1, Bytes({0xAB, 0xCD}), "0xab, ..."},
      {1, Bytes(), "0x00, ..."},
      {2, metadata_dword(0x100), "TRUE"},
      {2, metadata_dword(0), "FALSE"},
      {3, metadata_dword(0xFFFFFFFFu), "-1"},
      {4, metadata_qword(0x123456789ull), "4886718345"},
      {4, metadata_qword(0xFFFFFFFFFFFFFFFEull), "-2"},
      {5, metadata_word(0xFFFF), "65535"},
      {6, Bytes(16, 1), "*ERROR*"},
      {200, Bytes(), "*ERROR*"},
  };
  for (const Case& c : cases) {
    Metadata m;
    run(build_metadata({{.stream_number = 7, .name = "N", .data_type = c.type, .data = c.data}}), &m);
    EXPECT_EQ(m.out, line(7, "N", c.text)) << "type " << c.type;
  }
}

TEST(AsfMetadata, ShortValuesAreReadOnlyAsFarAsTheyGo) {
  Metadata m;
  run(build_metadata({{.name = "AspectRatioX", .data = Bytes({0x2A})},
                      {.name = "AspectRatioY", .data_type = 2, .data = Bytes({0, 1})},
                      {.name = "D", .data_type = 3, .data = Bytes({0x34, 0x12})},
                      {.name = "Q", .data_type = 4, .data = Bytes({5, 0, 0, 0, 1})},
                      {.name = "W", .data_type = 5, .data = Bytes({9})}}),
      &m);
  EXPECT_EQ(m.out, line(1, "AspectRatioX", "42") + line(1, "AspectRatioY", "TRUE") + line(1, "D", "4660") +
                       line(1, "Q", "4294967301") + line(1, "W", "9"));
  EXPECT_EQ(m.stream(1)->par_x, 42u);
  EXPECT_EQ(m.stream(1)->par_y, 256u);
}

TEST(AsfMetadata, RecordWithReservedFieldOrInvalidStreamIsSkippedByItsLength) {
  Metadata m;
  run(build_metadata({{.reserved = 1, .stream_number = 4, .name = "AspectRatioX", .data = metadata_dword(5)},
                      {.stream_number = 0, .name = "AspectRatioX", .data = metadata_dword(6)},
                      {.stream_number = 4, .name = "AspectRatioY", .data = metadata_dword(7)}}),
      &m, 0);
  EXPECT_EQ(m.out, "Invalid stream #0\n");  // at every verbosity
  EXPECT_EQ(m.stream(4)->par_x, 0u);
  EXPECT_EQ(m.stream(4)->par_y, 7u);
}

TEST(AsfMetadata, RecordThatCannotBeFramedEndsTheWalk) {
  Metadata m;  // a reserved record whose declared length runs past the object
  run(build_metadata({{.reserved = 1, .name = "A", .data_length_override = 1000},
                      {.stream_number = 2, .name = "AspectRatioX", .data = metadata_dword(5)}}),
      &m);
  EXPECT_EQ(m.out, "");
  EXPECT_EQ(m.stream(2), nullptr);
}

TEST(AsfMetadata, RecordRunningPastTheObjectIsNotPrintedAndTheWalkMovesOn) {
  // A name longer than the rest of the object consumes only the record's 12 bytes; the
  // bytes after them are read as the next record.
  Bytes inner = build_metadata({{.stream_number = 3, .name = "AspectRatioX", .data = metadata_dword(8)}});
  Bytes object = build_metadata({{.stream_number = 2, .name = "", .name_length_override = 4000}}, 2);
  // Place the inner record right after the bad record's 12 bytes.
  object.resize(24 + 2 + 12);
  object.insert(object.end(), inner.begin() + 26, inner.end());
  object[16] = static_cast<uint8_t>(object.size());
  Metadata m;
  run(object, &m);
  EXPECT_EQ(m.out, line(3, "AspectRatioX", "8"));
  EXPECT_EQ(m.stream(3)->par_x, 8u);

  Metadata data;  // data longer than the rest: 12 + name length consumed, nothing printed
  run(build_metadata({{.stream_number = 2,
                       .name = "AspectRatioX",
                       .data = metadata_dword(1),
                       .data_length_override = 5}}),
      &data);
  EXPECT_EQ(data.out, "");
  EXPECT_EQ(data.stream(2)->par_x, 0u);
}

TEST(AsfMetadata, RecordCountAndShortObjectBoundTheWalk) {
  Metadata m;
  run(build_metadata({{.name = "A", .data = metadata_dword(1)}, {.name = "B", .data = metadata_dword(2)}}, 1),
      &m);
  EXPECT_EQ(m.out, line(1, "A", "1"));
  Bytes tiny = build_object(kGuidMetadata, Bytes(1, 0));
  Metadata t;
  run(tiny, &t);
  EXPECT_EQ(t.out, "");
  Bytes named = build_metadata({{.name = "AspectRatioX"}}, 5);
  uint32_t remaining = static_cast<uint32_t>(named.size() - 26);
  AsfStreamRecord record;
  asf_stream_record_init(&record, 1);
  CapturedReport captured;
  EXPECT_EQ(asf_parse_metadata_record(&captured.report, named.data() + 26, &record, 11), 0u);
  EXPECT_EQ(asf_parse_metadata_record(&captured.report, named.data() + 26, &record, remaining), remaining);
}

}  // namespace

namespace {

TEST(AsfText, Utf16NamesBecomeUtf8UpToTheirZeroAndWithinTheirLength) {
  Bytes text = utf16("A", false);
  put_le16(&text, 0xE9);    // é
  put_le16(&text, 0xD83D);  // U+1F600 as a surrogate pair
  put_le16(&text, 0xDE00);
  put_le16(&text, 0xDC00);  // a lone low surrogate
  put_le16(&text, 0);
  put_le16(&text, 'Z');  // after the zero: not part of the name
  char out[64];
  EXPECT_EQ(asf_utf16_to_utf8(text.data(), static_cast<uint32_t>(text.size()), out, sizeof out), 10u);
  EXPECT_STREQ(out, "A\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD");
  EXPECT_EQ(asf_utf16_to_utf8(text.data(), 3, out, sizeof out), 1u);  // an odd length: whole characters only
  EXPECT_STREQ(out, "A");
  EXPECT_EQ(asf_utf16_to_utf8(text.data(), static_cast<uint32_t>(text.size()), out, 4),
            3u);  // cut at a boundary
  EXPECT_STREQ(out, "A\xC3\xA9");
}

}  // namespace
