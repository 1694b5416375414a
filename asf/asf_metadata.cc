// The Metadata Object: per-stream attributes, printed, with the pixel aspect ratio taken
// from "AspectRatioX" and "AspectRatioY".
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "asf/asf.h"
#include "asf/le_bytes.h"
#include "report/report.h"

namespace {

constexpr uint32_t kRecordsOffset = kAsfObjectHeaderSize + 2;  // after the record count
constexpr uint32_t kRecordHeaderSize = 12;
constexpr uint32_t kValueTextMax = 64;  // characters of a formatted value

enum MetadataType : uint32_t {
  kTypeUnicode = 0,
  kTypeBytes = 1,
  kTypeBool = 2,
  kTypeDword = 3,
  kTypeQword = 4,
  kTypeWord = 5,
};

// The record's declared length when it fits in what remains of the object, else 0.
uint32_t declared_length(const uint8_t* record, uint32_t remaining) {
  uint64_t total = static_cast<uint64_t>(kRecordHeaderSize) + read_le16(record + 4) + read_le32(record + 8);
  return total <= remaining ? static_cast<uint32_t>(total) : 0;
}

// A Unicode value as single-byte characters: each character up to 0xFF becomes the byte
// of that value, any other one '?'.
void format_unicode(const uint8_t* data, uint32_t length, char* text) {
  uint32_t units = asf_utf16_units(data, length);
  uint32_t n = 0;
  for (uint32_t i = 0; i < units && n < kValueTextMax; i++) {
    uint16_t unit = read_le16(data + 2 * i);
    text[n++] = unit <= 0xFF ? static_cast<char>(unit) : '?';
  }
  text[n] = '\0';
}

void format_value(uint32_t type, const uint8_t* data, uint32_t length, char* text, size_t text_size) {
  switch (type) {
    case kTypeUnicode:
      format_unicode(data, length, text);
      break;
    case kTypeBytes:
      std::snprintf(text, text_size, "0x%02x, ...", static_cast<unsigned>(read_le_bounded(data, length, 1)));
      break;
    case kTypeBool:
      std::snprintf(text, text_size, "%s", read_le_bounded(data, length, 4) != 0 ? "TRUE" : "FALSE");
      break;
    case kTypeDword:
      std::snprintf(text, text_size, "%d",
                    static_cast<int>(static_cast<uint32_t>(read_le_bounded(data, length, 4))));
      break;
    case kTypeQword:
      std::snprintf(text, text_size, "%" PRId64, static_cast<int64_t>(read_le_bounded(data, length, 8)));
      break;
    case kTypeWord:
      std::snprintf(text, text_size, "%d", static_cast<int>(read_le_bounded(data, length, 2)));
      break;
    default:
      std::snprintf(text, text_size, "%s", "*ERROR*");
      break;
  }
}

}  // namespace

bool asf_parse_metadata(const uint8_t* object, uint32_t size, AsfParserContext* context) {
  if (size < kRecordsOffset) return false;  // no room for the record count
  uint32_t count = read_le16(object + kAsfObjectHeaderSize);
  print_at_level(context->report, 2, "-- -- Found ASF_Metadata_Object; processing %d objects\n",
                 static_cast<int>(count));
  uint32_t remaining = size - kRecordsOffset;
  const uint8_t* record_bytes = object + kRecordsOffset;
  for (uint32_t i = 0; i < count && remaining >= kRecordHeaderSize; i++) {
    AsfStreamRecord* record = asf_find_or_create_stream(context, read_le16(record_bytes + 2));
    // A record of no usable stream is stepped over by its declared length.
    uint32_t consumed = record != nullptr
                            ? asf_parse_metadata_record(context->report, record_bytes, record, remaining)
                            : declared_length(record_bytes, remaining);
    if (consumed == 0) break;  // cannot be framed: the rest of the object is not read
    record_bytes += consumed;
    remaining -= consumed;
  }
  return false;
}

uint32_t asf_parse_metadata_record(Report* report, const uint8_t* record_bytes, AsfStreamRecord* record,
                                   uint32_t remaining) {
  if (remaining < kRecordHeaderSize) return 0;
  uint32_t reserved = read_le16(record_bytes);
  uint32_t stream_number = read_le16(record_bytes + 2);
  uint32_t name_length = read_le16(record_bytes + 4);
  uint32_t type = read_le16(record_bytes + 6);
  uint32_t data_length = read_le32(record_bytes + 8);
  if (reserved != 0) return declared_length(record_bytes, remaining);
  if (remaining - kRecordHeaderSize < name_length) return kRecordHeaderSize;
  if (remaining - kRecordHeaderSize - name_length < data_length) return kRecordHeaderSize + name_length;

  const uint8_t* name = record_bytes + kRecordHeaderSize;
  const uint8_t* data = name + name_length;
  if (asf_utf16_equals(name, name_length, "AspectRatioX")) {
    record->par_x = static_cast<uint32_t>(read_le_bounded(data, data_length, 4));
  } else if (asf_utf16_equals(name, name_length, "AspectRatioY")) {
    record->par_y = static_cast<uint32_t>(read_le_bounded(data, data_length, 4));
  }

  char text[kValueTextMax + 1];
  format_value(type, data, data_length, text, sizeof text);
  char* name_text = asf_utf16_to_new_utf8(name, name_length);
  if (name_text != nullptr) {
    print_at_level(report, 2, "-- -- -- Metadata for stream %d: %s = %s\n", static_cast<int>(stream_number),
                   name_text, text);
    std::free(name_text);
  }
  return kRecordHeaderSize + name_length + data_length;
}
