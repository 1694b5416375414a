// The Stream Bitrate Properties Object: each stream's Average Bitrate, which the stream
// choice compares when no Extended Stream Properties Object gives a Data Bitrate.
#include "asf/asf.h"
#include "asf/le_bytes.h"

namespace {

constexpr uint32_t kRecordsOffset = kAsfObjectHeaderSize + 2;  // after the record count
constexpr uint32_t kRecordSize = 6;                            // Flags, Average Bitrate

}  // namespace

bool asf_parse_stream_bitrate_properties(const uint8_t* object, uint32_t size, AsfParserContext* context) {
  if (size < kRecordsOffset) return false;
  uint32_t count = read_le16(object + kAsfObjectHeaderSize);
  uint32_t pos = kRecordsOffset;
  for (uint32_t i = 0; i < count && size - pos >= kRecordSize; i++, pos += kRecordSize) {
    // Flags: bits 0-6 the stream number.
    AsfStreamRecord* record = asf_find_or_create_stream_quietly(context, object[pos] & 0x7F);
    if (record != nullptr) record->average_bitrate = read_le32(object + pos + 2);
  }
  return false;
}
