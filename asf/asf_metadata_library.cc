// The Metadata Library Object: the pixel aspect ratio from "AspectRatioX" and
// "AspectRatioY", by the Metadata Object's rules. Its records are not reported; stream
// number 0 (the whole file) and other numbers outside 1..127 are stepped over.
#include "asf/asf.h"
#include "asf/le_bytes.h"

namespace {

constexpr uint32_t kRecordsOffset = kAsfObjectHeaderSize + 2;  // after the record count
// Language List Index, Stream Number, Name Length, Data Type, Data Length.
constexpr uint32_t kRecordHeaderSize = 12;

}  // namespace

bool asf_parse_metadata_library(const uint8_t* object, uint32_t size, AsfParserContext* context) {
  if (size < kRecordsOffset) return false;
  uint32_t count = read_le16(object + kAsfObjectHeaderSize);
  uint32_t pos = kRecordsOffset;
  for (uint32_t i = 0; i < count && size - pos >= kRecordHeaderSize; i++) {
    const uint8_t* record_bytes = object + pos;
    uint32_t name_length = read_le16(record_bytes + 4);
    uint32_t data_length = read_le32(record_bytes + 8);
    uint64_t total = static_cast<uint64_t>(kRecordHeaderSize) + name_length + data_length;
    if (total > size - pos) break;  // runs past the object: nothing behind it can be framed
    AsfStreamRecord* record = asf_find_or_create_stream_quietly(context, read_le16(record_bytes + 2));
    const uint8_t* name = record_bytes + kRecordHeaderSize;
    const uint8_t* data = name + name_length;
    if (record != nullptr && asf_utf16_equals(name, name_length, "AspectRatioX")) {
      record->library_par_x = static_cast<uint32_t>(read_le_bounded(data, data_length, 4));
    } else if (record != nullptr && asf_utf16_equals(name, name_length, "AspectRatioY")) {
      record->library_par_y = static_cast<uint32_t>(read_le_bounded(data, data_length, 4));
    }
    pos += static_cast<uint32_t>(total);
  }
  return false;
}
