// Stream records, kept by stream number in the parser context, and the Stream Properties
// Object: is the stream "WVC1" video, and the VC-1 sequence and entry-point header bytes
// out of its codec-specific data.
#include <cstdlib>
#include <cstring>

#include "asf/asf.h"
#include "asf/asf_objects.h"
#include "asf/le_bytes.h"
#include "report/report.h"

namespace {

struct StreamTypeName {
  const uint8_t* guid;
  const char* name;
};

const StreamTypeName kStreamTypes[] = {
    {ASF_Audio_Media, "ASF_Audio_Media"},
    {ASF_Video_Media, "ASF_Video_Media"},
    {ASF_Command_Media, "ASF_Command_Media"},
    {ASF_JFIF_Media, "ASF_JFIF_Media"},
    {ASF_Degradable_JPEG_Media, "ASF_Degradable_JPEG_Media"},
    {ASF_File_Transfer_Media, "ASF_File_Transfer_Media"},
    {ASF_Binary_Media, "ASF_Binary_Media"},
};

// Where the sequence header's start code 00 00 01 0F begins in bytes[0, length), or length.
uint32_t sequence_header_at(const uint8_t* bytes, uint32_t length) {
  for (uint32_t i = 0; i + 4 <= length; i++) {
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0x0F) return i;
  }
  return length;
}

void print_type_specific_overrun(Report* report, const char* prefix, AsfStreamRecord* record) {
  report_error(report, 2, "%s-- Error: Type-Specific Data runs past the end of the object; stream not used\n",
               prefix);
  record->is_wvc1 = 0;
}

// Copies the VC-1 headers out of the codec-specific data of a WVC1 Stream Properties
// Object. True when the stream is usable: it has more than the video header's 52 bytes of
// type-specific data, all inside the object.
bool take_codec_data(Report* report, const uint8_t* object, uint32_t size, AsfStreamRecord* record,
                     const char* prefix) {
  uint32_t type_specific_length = read_le32(object + kStreamPropertiesTypeSpecificLengthOffset);
  if (type_specific_length > size - kStreamPropertiesFixedSize) {
    print_type_specific_overrun(report, prefix, record);
    return false;
  }
  if (type_specific_length <= kStreamPropertiesVideoHeaderBytes) return false;
  // The headers are taken from the sequence header's start code on, wherever the writer
  // put it: behind the one byte encoders write, at the codec data's very start, or behind
  // other bytes. Codec data without one is taken as it stands, from its second byte.
  const uint8_t* codec = object + kStreamPropertiesCodecDataOffset - 1;
  uint32_t codec_length = type_specific_length - (kStreamPropertiesVideoHeaderBytes - 1);
  uint32_t at = sequence_header_at(codec, codec_length);
  bool found = at < codec_length;
  if (!found) at = 1;
  uint32_t n = codec_length - at;
  // Codec data too long to be headers alone is copied only from a sequence header on: the
  // headers lie in its first bytes.
  if (n > kHeaderBufferSize) {
    if (!found) return true;
    n = kHeaderBufferSize;
  }

  print_at_level(report, 2, "%s-- Found Sequence and Entry Point Bytes; now copying...\n", prefix);
  std::memcpy(record->retrieved_headers.data, codec + at, n);
  record->retrieved_headers.count = n;
  return true;
}

}  // namespace

AsfStreamRecord* asf_stream_record_init(AsfStreamRecord* record, uint32_t stream_number) {
  std::memset(record, 0, sizeof *record);
  record->stream_number = stream_number;
  return record;
}

AsfStreamRecord* asf_find_or_create_stream(AsfParserContext* context, uint32_t stream_number) {
  if (stream_number == 0 || stream_number >= static_cast<uint32_t>(kMaxStreams)) {
    // Shown at every verbosity level.
    report_warning(context->report, kLevelAlways, "Invalid stream #%d\n", static_cast<int>(stream_number));
    return nullptr;
  }
  return asf_find_or_create_stream_quietly(context, stream_number);
}

AsfStreamRecord* asf_find_or_create_stream_quietly(AsfParserContext* context, uint32_t stream_number) {
  if (stream_number == 0 || stream_number >= static_cast<uint32_t>(kMaxStreams)) return nullptr;
  if (context->streams[stream_number] == nullptr) {
    AsfStreamRecord* record = static_cast<AsfStreamRecord*>(std::malloc(sizeof(AsfStreamRecord)));
    if (record != nullptr) {
      context->streams[stream_number] = asf_stream_record_init(record, stream_number);
    }
  }
  return context->streams[stream_number];
}

AsfStreamRecord* asf_get_stream(AsfParserContext* context, uint32_t stream_number) {
  if (stream_number == 0 || stream_number >= static_cast<uint32_t>(kMaxStreams)) return nullptr;
  return context->streams[stream_number];
}

void asf_release_streams(AsfParserContext* context) {
  for (AsfStreamRecord*& record : context->streams) {
    std::free(record);
    record = nullptr;
  }
}

bool asf_handle_stream_properties(const uint8_t* object, uint32_t size, AsfParserContext* context) {
  // Too short for its fixed part: not a usable object, and no stream number to name.
  if (size < kStreamPropertiesFixedSize) return false;
  AsfStreamRecord* record = asf_find_or_create_stream(context, object[kStreamPropertiesFlagsOffset] & 0x7F);
  if (record == nullptr) return false;
  return asf_parse_stream_properties(context->report, object, size, record, false);
}

const char* asf_stream_type_name(const uint8_t* guid) {
  for (const StreamTypeName& type : kStreamTypes) {
    if (guid_equal(guid, type.guid)) return type.name;
  }
  return "<unknown>";
}

bool asf_parse_stream_properties(Report* report, const uint8_t* object, uint32_t size,
                                 AsfStreamRecord* record, bool hidden) {
  // Shorter than its fixed part: not a Stream Properties Object that can be used.
  if (size < kStreamPropertiesFixedSize) return false;
  const char* prefix = hidden ? "-- -- -- " : "-- ";
  const uint8_t* stream_type = object + kStreamPropertiesStreamTypeOffset;

  print_at_level(report, 2, "%sFound ASF_Stream_Properties_Object for ASF stream %d\n", prefix,
                 object[kStreamPropertiesFlagsOffset] & 0x7F);
  print_at_level(report, 2, "%sStream type: %s\n", prefix, asf_stream_type_name(stream_type));
  std::memcpy(record->stream_properties, object, kStreamPropertiesFixedSize);
  record->has_properties = 1;
  record->encrypted =
      (read_le16(object + kStreamPropertiesFlagsOffset) & kStreamPropertiesEncryptedFlag) != 0;

  if (!guid_equal(stream_type, ASF_Video_Media)) {
    print_at_level(report, 2, "%s-- (Non-video stream; no further processing)\n", prefix);
    return false;
  }
  record->is_video = 1;
  // The FourCC lies in the video type-specific data; an object that ends before it
  // cannot be a usable video stream.
  if (size < kStreamPropertiesFourccEnd) {
    print_type_specific_overrun(report, prefix, record);
    return false;
  }
  const uint8_t* fourcc = object + kStreamPropertiesFourccOffset;
  std::memcpy(record->fourcc, fourcc, 4);
  record->width = read_le32(object + kStreamPropertiesWidthOffset);
  record->height = read_le32(object + kStreamPropertiesHeightOffset);
  print_at_level(report, 2, "%s-- FourCC: %c%c%c%c\n", prefix, fourcc[0], fourcc[1], fourcc[2], fourcc[3]);
  if (std::memcmp(fourcc, "WVC1", 4) != 0) {
    print_at_level(report, 2, "%s-- Video stream has incorrect encoding format - should be \"WVC1\"\n",
                   prefix);
    print_at_level(report, 2, "%s-- Will not attempt to use this stream...\n", prefix);
    return false;
  }
  print_at_level(report, 2, "%s-- Stream correctly marked as VC-1 Advanced Profile\n", prefix);
  print_at_level(report, 2, "%s-- Now looking for Sequence and Entry Point Bytes...\n", prefix);
  record->is_wvc1 = 1;

  return take_codec_data(report, object, size, record, prefix);
}
