// The light stream-piece reader (see asf_payloads.h).
#include "fuzz/asf_payloads.h"

#include <cstring>

namespace {

const uint8_t kHeaderObjectGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                       0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint32_t kWidths[4] = {0, 1, 2, 4};

// A packet's bytes: fields must lie before `end` (the packet's end) and `available` (the
// input's); a single payload's data may be cut by the input's end.
struct Packet {
  const uint8_t* bytes;
  uint32_t at;
  uint32_t end;
  uint32_t available;

  bool field(uint32_t code, uint32_t* value) {
    uint32_t width = kWidths[code & 3];
    if (width > end - at || width > available - at) return false;
    *value = 0;
    for (uint32_t i = width; i-- > 0;) *value = *value << 8 | bytes[at + i];
    at += width;
    return true;
  }
  bool skip(uint32_t n) {
    if (n > end - at || n > available - at) return false;
    at += n;
    return true;
  }
};

// The sub-payloads of a compressed payload: each a length byte and that many bytes, a
// whole object.
void take_sub_payloads(const uint8_t* data, uint32_t length, std::vector<StreamPiece>* out) {
  for (uint32_t at = 0; at < length && data[at] <= length - at - 1; at += 1 + data[at]) {
    out->push_back(StreamPiece{data[at], 0, true, data + at + 1, data[at]});
  }
}

// The payloads of the packet that would start at `p.bytes`, up to the first that does not
// fit.
void read_packet(Packet p, uint32_t packet_size, uint32_t stream, std::vector<StreamPiece>* out) {
  uint32_t flags = 0;
  uint32_t properties = 0;
  if (!p.field(1, &flags)) return;
  if ((flags & 0x80) != 0 && (!p.skip(2) || !p.field(1, &flags))) return;  // error correction data
  uint32_t packet_length = 0, sequence = 0, padding = 0, count = 1, length_code = 0;
  if (!p.field(1, &properties) || !p.field(flags >> 5, &packet_length) || !p.field(flags >> 1, &sequence) ||
      !p.field(flags >> 3, &padding) || !p.skip(6)) {
    return;
  }
  if (packet_length > packet_size || (packet_length != 0 && packet_length < p.at)) return;
  if (packet_length != 0) p.end = packet_length;
  bool multiple = (flags & 1) != 0;
  if (multiple) {
    if (!p.field(1, &count)) return;
    length_code = count >> 6;
    count &= 0x3F;
  }
  for (uint32_t i = 0; i < count; i++) {
    uint32_t stream_byte = 0, number = 0, offset = 0, replicated = 0, object_size = 0, length = 0;
    if (!p.field(1, &stream_byte) || !p.field(properties >> 4, &number) ||
        !p.field(properties >> 2, &offset) || !p.field(properties, &replicated)) {
      return;
    }
    bool compressed = replicated == 1;
    if (compressed) {
      if (!p.skip(1)) return;  // the time delta
    } else {
      if (replicated >= 2 && replicated < 8) return;
      if (!p.skip(8)) return;
      object_size = static_cast<uint32_t>(p.bytes[p.at - 8]) | p.bytes[p.at - 7] << 8 |
                    p.bytes[p.at - 6] << 16 | static_cast<uint32_t>(p.bytes[p.at - 5]) << 24;
      if (replicated > 8 && !p.skip(replicated - 8)) return;
    }
    if (multiple) {
      if (!p.field(length_code, &length) || length > p.end - p.at) return;
    } else {
      if (padding > p.end - p.at) return;
      length = p.end - p.at - padding;
    }
    uint32_t held = length < p.available - p.at ? length : p.available - p.at;
    if (held < length && multiple) return;
    if ((stream_byte & 0x7F) == stream) {
      if (compressed) {
        take_sub_payloads(p.bytes + p.at, held, out);
      } else {
        bool placed = (properties >> 4 & 3) != 0 && (properties >> 2 & 3) != 0;
        out->push_back(StreamPiece{object_size, offset, placed, p.bytes + p.at, held});
      }
    }
    p.at += held;
    if (held < length) return;
  }
}

}  // namespace

std::vector<StreamPiece> asf_stream_pieces(const uint8_t* input, size_t size, size_t from,
                                           uint32_t packet_size, uint32_t stream) {
  std::vector<StreamPiece> pieces;
  if (packet_size == 0) return pieces;
  for (size_t x = from; x < size; x++) {
    uint32_t available = size - x < packet_size ? static_cast<uint32_t>(size - x) : packet_size;
    read_packet(Packet{input + x, 0, packet_size, available}, packet_size, stream, &pieces);
  }
  return pieces;
}

uint64_t asf_header_size(const uint8_t* input, size_t size) {
  if (size < 24 || std::memcmp(input, kHeaderObjectGuid, 16) != 0) return 0;
  uint64_t value = 0;
  for (int i = 8; i-- > 0;) value = value << 8 | input[16 + i];
  return value;
}
