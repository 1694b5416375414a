// The Data Object header and the data packet walk: every packet's length-coded fields,
// every payload header, and the hand-over of each payload's data to the frame writer.
//
// Before every read the walk asks the reader whether the bytes are in the file, so that
// a file cut short inside the Data Object stops the walk instead of feeding stale bytes
// to the output.
#include <cinttypes>
#include <cstdint>

#include "asf/asf.h"
#include "asf/le_bytes.h"
#include "demux/demux.h"
#include "io/file_reader.h"
#include "report/report.h"

namespace {

// Packets are only parsed while more than this many bytes of the Data Object are left.
constexpr uint64_t kMinPacketBytes = 32;

// Width in bytes of a field by its 2-bit length code.
constexpr uint32_t kCodeWidth[4] = {0, 1, 2, 4};

// Reads n (at most 8) bytes into bytes; false, consuming nothing, when the file ends first.
bool take_bytes(FileReader* reader, uint32_t n, uint8_t* bytes) {
  if (!reader_available(reader, n)) return false;
  reader_read(reader, n, bytes);
  return true;
}

bool take_u8(FileReader* reader, uint8_t* value) { return take_bytes(reader, 1, value); }

// Skips n bytes; false, consuming nothing, when the file ends first.
bool pass_over(FileReader* reader, uint32_t n) {
  if (n == 0) return true;
  if (!reader_available(reader, n)) return false;
  reader_skip(reader, n);
  return true;
}

// Reads a field whose width is given by a length code; 0 when the code says absent.
bool take_coded(FileReader* reader, uint32_t code, uint32_t* value) {
  uint8_t bytes[4];
  uint32_t width = kCodeWidth[code & 3];
  *value = 0;
  if (width == 0) return true;
  if (!take_bytes(reader, width, bytes)) return false;
  *value = static_cast<uint32_t>(read_le_width(bytes, width));
  return true;
}

struct PacketLayout {
  uint64_t start;  // reader position before the packet's first byte
  uint32_t multiple_payloads;
  uint32_t replicated_code;
  uint32_t offset_code;
  uint32_t object_number_code;
  uint32_t padding_length;
  uint32_t payload_count;
  uint32_t payload_length_code;
};

// Reads the packet's fields up to its first payload header.
bool read_packet_header(FileReader* reader, PacketLayout* packet) {
  uint8_t flags = 0;
  if (!take_u8(reader, &flags)) return false;
  if (flags & 0x80) {
    // Error correction data: always two bytes, whatever the flags' low bits say.
    if (!pass_over(reader, 2) || !take_u8(reader, &flags)) return false;
  }
  packet->multiple_payloads = flags & 1;
  uint32_t sequence_code = (flags >> 1) & 3;
  uint32_t padding_code = (flags >> 3) & 3;
  uint32_t packet_length_code = (flags >> 5) & 3;

  uint8_t properties = 0;
  if (!take_u8(reader, &properties)) return false;
  packet->replicated_code = properties & 3;
  packet->offset_code = (properties >> 2) & 3;
  packet->object_number_code = (properties >> 4) & 3;

  uint32_t ignored = 0;
  if (!take_coded(reader, packet_length_code, &ignored)) return false;
  if (!take_coded(reader, sequence_code, &ignored)) return false;
  if (!take_coded(reader, padding_code, &packet->padding_length)) return false;
  if (!pass_over(reader, 4 + 2)) return false;  // send time, duration

  packet->payload_count = 1;
  packet->payload_length_code = 0;
  if (packet->multiple_payloads) {
    uint8_t payload_flags = 0;
    if (!take_u8(reader, &payload_flags)) return false;
    packet->payload_count = payload_flags & 0x3F;
    packet->payload_length_code = payload_flags >> 6;
  }
  return true;
}

struct PayloadHeader {
  uint32_t stream_number;
  uint32_t key_frame;
  uint32_t object_size;
  uint32_t length;
};

// Reads one payload header; the reader then stands at the payload's data. False also
// when a write of the frames before a warning failed (demux_finish tells the two apart).
bool read_payload_header(AsfStreamRecord* record, DemuxState* state, PlatformFile output,
                         const PacketLayout& packet, PayloadHeader* payload) {
  FileReader* reader = record->reader;
  uint8_t stream_byte = 0;
  if (!take_u8(reader, &stream_byte)) return false;
  payload->key_frame = stream_byte >> 7;
  payload->stream_number = stream_byte & 0x7F;
  if (!pass_over(reader, kCodeWidth[packet.object_number_code])) return false;
  if (!pass_over(reader, kCodeWidth[packet.offset_code])) return false;

  uint32_t replicated_length = 0;
  if (!take_coded(reader, packet.replicated_code, &replicated_length)) return false;
  if (replicated_length == 1) {
    if (!demux_before_message(record, state, output, 2)) return false;
    print_at_level(2, "Warning: ASF ReplicatedLen of '1' not handled yet; ignoring.\n");
  }
  // Media object size and presentation time are always there, whatever the length says.
  uint8_t size_and_time[8];
  if (!take_bytes(reader, 8, size_and_time)) return false;
  payload->object_size = read_le32(size_and_time);
  if (replicated_length > 8 && !pass_over(reader, replicated_length - 8)) return false;

  if (packet.multiple_payloads) {
    return take_coded(reader, packet.payload_length_code, &payload->length);
  }
  // A single payload runs to the end of the packet, less its padding.
  uint32_t used = static_cast<uint32_t>(reader->position - packet.start);
  payload->length = record->max_packet_size - used - packet.padding_length;
  return true;
}

// A stop request takes effect between two frames of the chosen stream: a frame in hand is
// finished first, so the output holds whole frames only.
bool stop_requested(const AsfStreamRecord* record, DemuxState* state) {
  if (platform_interrupt_signal() == 0 || state->bytes_left[record->stream_number % kMaxStreams] != 0) {
    return false;
  }
  state->interrupted = 1;
  return true;
}

// Walks one packet. False when the walk must stop (end of input, a failed write or a
// stop request).
bool walk_packet(AsfStreamRecord* record, DemuxState* state, PlatformFile output) {
  FileReader* reader = record->reader;
  PacketLayout packet = {};
  packet.start = reader->position;
  if (!read_packet_header(reader, &packet)) {
    state->truncated = 1;
    return false;
  }
  for (uint32_t i = 0; i < packet.payload_count; ++i) {
    PayloadHeader payload = {};
    if (!read_payload_header(record, state, output, packet, &payload) ||
        !reader_available(reader, payload.length)) {
      state->truncated = 1;
      return false;
    }
    if (!demux_take_payload(record, state, output, payload.stream_number, payload.key_frame,
                            payload.object_size, payload.length) ||
        stop_requested(record, state)) {
      return false;
    }
  }
  if (!pass_over(reader, packet.padding_length)) {
    state->truncated = 1;
    return false;
  }
  return state->write_failed == 0;  // a write made while the reader refilled may have failed
}

}  // namespace

DemuxResult demux_packets(uint64_t packet_bytes, AsfStreamRecord* record, PlatformFile output) {
  DemuxState state;
  if (!demux_prepare(record, &state, output)) return kDemuxNoMemory;
  FileReader* reader = record->reader;
  uint64_t bytes_left = packet_bytes;
  while (bytes_left > kMinPacketBytes && !stop_requested(record, &state)) {
    uint64_t start = reader->position;
    if (!walk_packet(record, &state, output)) break;
    uint64_t used = reader->position - start;
    bytes_left = used > bytes_left ? 0 : bytes_left - used;
  }
  return demux_finish(record, &state, output);
}

DemuxResult demux_data_object(AsfStreamRecord* record, PlatformFile output) {
  FileReader* reader = record->reader;
  uint8_t guid[16];
  if (!reader_available(reader, sizeof guid)) return kDemuxNoDataObject;
  reader_read(reader, sizeof guid, guid);
  if (!guid_equal(guid, ASF_Data_Object)) return kDemuxNoDataObject;

  constexpr uint32_t kRestOfHeader = kDataObjectHeaderSize - sizeof guid;
  if (!reader_available(reader, kRestOfHeader)) {
    // The object's header itself is cut short: nothing to walk, but the stream is
    // still closed and the report given, as for any truncated Data Object.
    print_at_level(2, "\nFound ASF_Data_Object\n");
    DemuxState state;
    if (!demux_prepare(record, &state, output)) return kDemuxNoMemory;
    state.truncated = 1;
    return demux_finish(record, &state, output);
  }
  uint8_t size_bytes[8];
  uint8_t count_bytes[8];
  reader_read(reader, sizeof size_bytes, size_bytes);
  reader_skip(reader, 16);  // File ID
  reader_read(reader, sizeof count_bytes, count_bytes);
  uint64_t object_size = read_le64(size_bytes);
  uint64_t total_packets = read_le64(count_bytes);

  print_at_level(2, "\nFound ASF_Data_Object\n");
  print_at_level(2, "-- len = %" PRIu64 " bytes; contains %" PRIu64 " data packets\n", object_size,
                 total_packets);
  reader_skip(reader, 2);  // Reserved
  print_at_level(2, "Starting ASF demux / VC-1 write...\n\n");

  uint64_t packet_bytes = object_size < kDataObjectHeaderSize ? 0 : object_size - kDataObjectHeaderSize;
  return demux_packets(packet_bytes, record, output);
}
