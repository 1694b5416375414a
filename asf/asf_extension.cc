// The Extended Stream Properties Object: bitrate, buffer model, maximum object size, frame
// period, stream names, payload extension systems and the Stream Properties Object that
// some files embed at its end.
#include <cstdlib>
#include <cstring>

#include "asf/asf.h"
#include "asf/asf_objects.h"
#include "asf/le_bytes.h"
#include "report/report.h"

namespace {

constexpr uint32_t kStreamNameHeaderSize = 4;
constexpr uint32_t kPayloadSystemHeaderSize = 22;

void decode_fixed_part(const uint8_t* object, AsfExtStreamProperties* out) {
  std::memcpy(out->object_id, object, 16);
  out->object_size = read_le64(object + kAsfObjectSizeOffset);
  out->start_time = read_le64(object + 24);
  out->end_time = read_le64(object + 32);
  out->data_bitrate = read_le32(object + 40);
  out->buffer_size = read_le32(object + 44);
  out->initial_buffer_fullness = read_le32(object + 48);
  out->alt_data_bitrate = read_le32(object + 52);
  out->alt_buffer_size = read_le32(object + 56);
  out->alt_initial_buffer_fullness = read_le32(object + 60);
  out->max_object_size = read_le32(object + 64);
  out->flags = read_le32(object + 68);
  out->stream_number = read_le16(object + kExtStreamPropertiesStreamNumberOffset);
  out->language_index = read_le16(object + 74);
  out->avg_time_per_frame = read_le64(object + 76);
  out->stream_name_count = read_le16(object + 84);
  out->payload_ext_system_count = read_le16(object + 86);
}

// Prints the stream names that start at `pos`; returns the position after them, or `size`
// when a name runs past the object (the walk of this object's tail ends there).
uint32_t print_stream_names(Report* report, const uint8_t* object, uint32_t size, uint32_t pos,
                            uint32_t count) {
  for (uint32_t i = 0; i < count; i++) {
    if (size - pos < kStreamNameHeaderSize) return size;
    uint32_t language = read_le16(object + pos);
    uint32_t length = read_le16(object + pos + 2);
    uint32_t available = size - pos - kStreamNameHeaderSize;
    uint32_t name_bytes = length < available ? length : available;
    char* name = asf_utf16_to_new_utf8(object + pos + kStreamNameHeaderSize, name_bytes);
    if (name != nullptr) {
      print_at_level(report, 2, "-- -- -- %d: Lang Idx %d, len %d, name: %s\r\n", static_cast<int>(i),
                     static_cast<int>(language), static_cast<int>(length), name);
      std::free(name);
    }
    // An odd length is rounded down to whole characters.
    uint32_t step = kStreamNameHeaderSize + (length & ~1u);
    if (step > size - pos) return size;
    pos += step;
  }
  return pos;
}

// Stores and prints the payload extension systems that start at `pos`; returns the
// position after them, or `size` when one runs past the object.
uint32_t take_payload_ext_systems(Report* report, const uint8_t* object, uint32_t size, uint32_t pos,
                                  uint32_t count, AsfStreamRecord* record) {
  for (uint32_t k = 0; k < count; k++) {
    if (size - pos < kPayloadSystemHeaderSize) return size;
    const uint8_t* system = object + pos;
    uint32_t data_size = read_le16(system + 16);
    uint32_t info_length = read_le32(system + 18);
    uint32_t available = size - pos - kPayloadSystemHeaderSize;
    if (k < static_cast<uint32_t>(kMaxPayloadExtSystems)) {
      AsfPayloadExtSystem* entry = &record->payload_ext_systems[k];
      std::memset(entry, 0, sizeof *entry);
      std::memcpy(entry->system_id, system, 16);
      entry->data_size = static_cast<uint16_t>(data_size);
      entry->info_length = info_length;
      uint32_t stored = info_length < sizeof entry->info ? info_length : sizeof entry->info;
      if (stored > available) stored = available;
      std::memcpy(entry->info, system + kPayloadSystemHeaderSize, stored);
    }
    print_at_level(report, 2, "-- -- -- payload extension systems # %d:\n", static_cast<int>(k + 1));
    print_at_level(report, 2, "-- -- -- -- Data size: %d   Bytes of extra info: %d\n",
                   static_cast<int>(data_size), static_cast<int>(info_length));
    if (info_length > available) return size;
    pos += kPayloadSystemHeaderSize + info_length;
  }
  return pos;
}

}  // namespace

bool asf_handle_ext_stream_properties(const uint8_t* object, uint32_t size, AsfParserContext* context) {
  // Shorter than its fixed part: no stream number, not used.
  if (size < kExtStreamPropertiesFixedSize) return false;
  AsfStreamRecord* record =
      asf_find_or_create_stream(context, read_le16(object + kExtStreamPropertiesStreamNumberOffset));
  if (record != nullptr && asf_parse_ext_stream_properties(context->report, object, size, record)) {
    context->embedded_stream_found = 1;
  }
  return false;
}

bool asf_parse_ext_stream_properties(Report* report, const uint8_t* object, uint32_t size,
                                     AsfStreamRecord* record) {
  if (size < kExtStreamPropertiesFixedSize) return false;
  AsfExtStreamProperties fixed;
  decode_fixed_part(object, &fixed);
  print_at_level(report, 2, "-- -- Found ASF_Extended_Stream_Properties_Object for ASF stream %d\n",
                 static_cast<int>(fixed.stream_number));

  uint64_t time_per_frame = fixed.avg_time_per_frame;
  if (time_per_frame != 0) {
    uint32_t period = asf_100ns_to_microseconds(time_per_frame);
    // A period that rounds to 0 has no rate to show.
    double rate = period != 0 ? 1000000.0 / static_cast<double>(period) : 0.0;
    print_at_level(report, 2, "-- -- -- avg object period: %d uSecs (%2.3f / sec)\n",
                   static_cast<int>(period), rate);
  } else {
    report_warning(report, 2, "-- -- -- Warning: average object period is zero.\n");
  }
  print_at_level(report, 2, "-- -- -- max object size: %d bytes\n", static_cast<int>(fixed.max_object_size));
  print_at_level(report, 2, "-- -- -- leaky bucket size: %d bytes\n", static_cast<int>(fixed.buffer_size));
  print_at_level(report, 2, "-- -- -- leaky bucket init fullness: %d bytes\n",
                 static_cast<int>(fixed.initial_buffer_fullness));
  print_at_level(report, 2, "-- -- -- leaky bucket bitrate: %d KB/s\n",
                 static_cast<int>((fixed.data_bitrate + 500u) / 1000u));
  record->ext_stream_properties = fixed;

  uint32_t pos =
      print_stream_names(report, object, size, kExtStreamPropertiesFixedSize, fixed.stream_name_count);
  pos = take_payload_ext_systems(report, object, size, pos, fixed.payload_ext_system_count, record);

  if (size - pos >= 16 && guid_equal(object + pos, ASF_Stream_Properties_Object)) {
    print_at_level(report, 2, "-- -- -- Found \"Hidden\" Stream Properties Object, now processing...\n");
    // The embedded object ends at its own declared end or at this object's, whichever
    // comes first.
    uint32_t length = size - pos;
    if (length >= kAsfObjectHeaderSize) {
      uint64_t declared = read_le64(object + pos + kAsfObjectSizeOffset);
      if (declared < length) length = static_cast<uint32_t>(declared);
    }
    return asf_parse_stream_properties(report, object + pos, length, record, true);
  }
  return false;
}

int asf_pixel_aspect_extension(const AsfStreamRecord* record, uint32_t sizes[kMaxPayloadExtSystems]) {
  uint32_t count = record->ext_stream_properties.payload_ext_system_count;
  if (count > static_cast<uint32_t>(kMaxPayloadExtSystems)) count = kMaxPayloadExtSystems;
  for (uint32_t k = 0; k < count; k++) {
    const AsfPayloadExtSystem& system = record->payload_ext_systems[k];
    sizes[k] = system.data_size;
    if (guid_equal(system.system_id, ASF_Payload_Extension_System_Pixel_Aspect_Ratio))
      return static_cast<int>(k);
  }
  return -1;
}
