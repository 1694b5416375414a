// The packet walker: one data packet decoded where its bytes lie, inside its bounds.
//
// A data packet is the packet header (error correction bytes, length type and property
// flags, the length-coded Packet Length, Sequence and Padding Length, send time and
// duration, and for several payloads the payload flags) followed by its payloads (stream
// number, length-coded object number, offset and replicated data length, the replicated
// data, and for several payloads a length-coded payload length, then the data) and its
// padding. Nothing may pass the packet's end: a field that would is damage. A payload of a
// stream the header does not describe, framed by its own length, is one damaged field and
// passed over alone where the payload behind it parses (or it fills the packet exactly to
// its padding); so is a payload count that goes on past payloads that fill the packet.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "asf/le_bytes.h"
#include "demux/demux_stages.h"

namespace {

// Width in bytes of a field by its 2-bit length code.
constexpr uint32_t kCodeWidth[4] = {0, 1, 2, 4};
constexpr uint32_t kSendTimeAndDuration = 4 + 2;
constexpr uint32_t kObjectSizeAndTime = 4 + 4;

// A cursor over the packet's bytes: `end` is where the packet ends, `available` where the
// given bytes do (the input may have ended inside the packet).
struct Cursor {
  const uint8_t* bytes;
  uint32_t at;
  uint32_t end;
  uint32_t available;
  PacketStatus failure;  // why the last take failed
  uint32_t opened;       // the payload being read has its stream, number and offset read
};

// Makes sure n more bytes lie inside the packet and were given; on failure records why.
bool have(Cursor* c, uint32_t n) {
  if (n > c->end - c->at) {
    c->failure = kPacketDamaged;
    return false;
  }
  if (n > c->available - c->at) {
    c->failure = kPacketCut;
    return false;
  }
  return true;
}

bool take_coded(Cursor* c, uint32_t code, uint32_t* value) {
  uint32_t width = kCodeWidth[code & 3];
  if (!have(c, width)) return false;
  *value = static_cast<uint32_t>(read_le_width(c->bytes + c->at, width));
  c->at += width;
  return true;
}

// The layout the packet header gives its payloads.
struct PayloadLayout {
  uint32_t multiple;
  uint32_t replicated_code;
  uint32_t offset_code;
  uint32_t number_code;
  uint32_t length_code;
  uint32_t padding;
};

// Whether the header describes the stream.
bool stream_known(const uint32_t* known_streams, uint32_t number) {
  return number != 0 && (known_streams[number / 32] >> (number % 32) & 1) != 0;
}

// The replicated data of `replicated` bytes: a compressed payload's time delta, or the
// object's size and time and any further data. False when it does not fit.
bool take_replicated(Cursor* c, uint32_t replicated, PacketPayload* p) {
  if (replicated == 1) {
    // A compressed payload: one byte of time delta; its Offset field is its time.
    if (!have(c, 1)) return false;
    p->compressed = 1;
    p->time_delta = c->bytes[c->at++];
    p->presentation_time = p->offset;
    p->object_size = 0;
    return true;
  }
  if (replicated >= 2 && replicated < kObjectSizeAndTime) {
    c->failure = kPacketDamaged;  // too short to hold the object's size and time
    return false;
  }
  // Media object size and presentation time, then any further replicated data. A length
  // of 0 still has the size and time in front of the data.
  uint32_t skip = replicated > kObjectSizeAndTime ? replicated : kObjectSizeAndTime;
  if (!have(c, skip)) return false;
  p->object_size = read_le32(c->bytes + c->at);
  p->presentation_time = read_le32(c->bytes + c->at + 4);
  p->extension_offset = c->at + kObjectSizeAndTime;
  p->extension_length = skip - kObjectSizeAndTime;
  c->at += skip;
  return true;
}

// The payload's length and data. A compressed payload's data is a run of sub-payloads,
// each a length byte and that many bytes: they must fill the payload exactly. False when
// it does not fit.
bool take_data(Cursor* c, const PayloadLayout& layout, PacketPayload* p) {
  if (layout.multiple) {
    if (!take_coded(c, layout.length_code, &p->length)) return false;
  } else {
    // A single payload runs to the end of the packet, less its padding.
    if (layout.padding > c->end - c->at) {
      c->failure = kPacketDamaged;
      return false;
    }
    p->length = c->end - c->at - layout.padding;
  }
  if (!have(c, p->length)) return false;
  p->data_offset = c->at;
  if (p->compressed) {
    uint32_t at = 0;
    while (at < p->length) at += 1 + c->bytes[c->at + at];
    if (at != p->length) {
      c->failure = kPacketDamaged;
      return false;
    }
  }
  c->at += p->length;
  return true;
}

// Decodes one payload header and places its data. False when it does not fit, or names a
// stream the header does not describe in a packet that gives its payloads no lengths.
bool take_payload(Cursor* c, const PayloadLayout& layout, const uint32_t* known_streams, PacketPayload* p) {
  if (!have(c, 1)) return false;
  uint8_t stream_byte = c->bytes[c->at++];
  p->stream_number = stream_byte & 0x7F;
  p->key_frame = stream_byte >> 7;
  p->number_width = kCodeWidth[layout.number_code];
  p->has_offset = layout.offset_code != 0;
  uint32_t replicated = 0;
  if (!take_coded(c, layout.number_code, &p->object_number) ||
      !take_coded(c, layout.offset_code, &p->offset) || !take_coded(c, layout.replicated_code, &replicated)) {
    return false;
  }
  if (!stream_known(known_streams, p->stream_number)) {
    // Only payloads with their own lengths can be passed over and the packet still be
    // checked to the end.
    if (!layout.multiple) {
      c->failure = kPacketDamaged;
      return false;
    }
    p->foreign = 1;
  } else {
    c->opened = 1;
  }
  return take_replicated(c, replicated, p) && take_data(c, layout, p);
}

// Whether a number differs from the one expected in a single bit.
bool one_bit_from(uint32_t number, uint32_t expected) {
  uint32_t x = number ^ expected;
  return x != 0 && (x & (x - 1)) == 0;
}

// Whether payload k's number alone is damaged. A whole object between two payloads of its
// stream whose numbers are two apart should have the one between. The first payload, the
// tail of an object, should have the number before the next payload's; the last, the head
// of one, the number after the payload's before it: there only a number one bit away is
// taken for damaged, as bytes of another place joined there would rarely be.
bool lone_number(const ParsedPacket* packet, uint32_t k) {
  const PacketPayload& p = packet->payloads[k];
  const PacketPayload* before = k > 0 ? &packet->payloads[k - 1] : nullptr;
  const PacketPayload* after = k + 1 < packet->payload_count ? &packet->payloads[k + 1] : nullptr;
  for (const PacketPayload* q : {before, after}) {
    if (q != nullptr &&
        (q->stream_number != p.stream_number || q->compressed || q->number_width != p.number_width)) {
      return false;
    }
  }
  uint32_t mask = object_number_mask(p.number_width);
  if (before != nullptr && after != nullptr) {
    return p.offset == 0 && p.length == p.object_size &&
           ((after->object_number - before->object_number) & mask) == 2;
  }
  if (after != nullptr) {
    return p.offset != 0 && p.offset + p.length == p.object_size && after->offset == 0 &&
           one_bit_from(p.object_number, (after->object_number - 1) & mask);
  }
  return before != nullptr && p.offset == 0 &&
         one_bit_from(p.object_number, (before->object_number + 1) & mask);
}

// Gives payload k, whose number alone is damaged, the number its neighbours say it has.
void renumber(ParsedPacket* packet, uint32_t k) {
  PacketPayload& p = packet->payloads[k];
  uint32_t mask = object_number_mask(p.number_width);
  if (k > 0) {
    p.object_number = (packet->payloads[k - 1].object_number + 1) & mask;
  } else {
    p.object_number = (packet->payloads[k + 1].object_number - 1) & mask;
  }
}

// Whether two payloads of one object in the packet at `bytes` hold the same bytes where they
// overlap (or do not overlap): bytes sent twice, however they were cut, are no step back.
bool same_bytes_where_they_overlap(const uint8_t* bytes, const PacketPayload& a, const PacketPayload& b) {
  uint32_t from = a.offset > b.offset ? a.offset : b.offset;
  uint64_t a_end = uint64_t{a.offset} + a.length;
  uint64_t b_end = uint64_t{b.offset} + b.length;
  uint64_t to = a_end < b_end ? a_end : b_end;
  if (to <= from) return true;
  return std::memcmp(bytes + a.data_offset + (from - a.offset), bytes + b.data_offset + (from - b.offset),
                     static_cast<size_t>(to - from)) == 0;
}

// Within one packet a stream's objects only go forward. The index of the first payload
// that goes back to an object before the one its stream's previous payload carried, or
// overlaps that payload's bytes with other bytes (bytes sent twice are no step back),
// or 0: bytes of two places of the file were joined there (a repeated stretch). A whole
// object between two payloads whose numbers agree with each other is one damaged number,
// no step back: it takes the number between them (so too a first or last payload one bit
// from its number).
uint32_t first_step_back(const uint8_t* bytes, ParsedPacket* packet) {
  for (uint32_t i = 1; i < packet->payload_count; ++i) {
    const PacketPayload& p = packet->payloads[i];
    if (p.compressed || p.foreign || p.number_width == 0 || !p.has_offset) continue;
    for (uint32_t j = i; j-- > 0;) {
      const PacketPayload& before = packet->payloads[j];
      if (before.stream_number != p.stream_number) continue;
      if (before.compressed) break;
      bool back =
          (p.object_number == before.object_number && !same_bytes_where_they_overlap(bytes, before, p)) ||
          in_repeat_window(p.object_number, before.object_number, p.number_width);
      if (!back) break;
      // One damaged number takes the number its neighbours give it, so that its object is
      // put in its place.
      if (j == i - 1 && lone_number(packet, j)) {
        renumber(packet, j);
      } else if (j == i - 1 && lone_number(packet, i)) {
        renumber(packet, i);
      } else {
        return i;
      }
      break;
    }
  }
  return 0;
}

// Reads the packet header: the opening bytes into `out`, the payloads' layout and their
// count; the cursor then stands at the first payload. False, with the cursor's failure,
// when a field does not fit or the Packet Length cannot be the packet's.
bool take_packet_header(Cursor* c, ParsedPacket* out, PayloadLayout* layout, uint32_t* count) {
  const uint8_t* bytes = c->bytes;
  if (!have(c, 1)) return false;
  uint8_t flags = bytes[c->at++];
  if (flags & 0x80) {
    // Error correction data: always two bytes, whatever the flags' low bits say.
    if (!have(c, 3)) return false;
    std::memcpy(out->opening, bytes, 3);
    out->opening_length = 3;
    c->at += 2;
    flags = bytes[c->at++];
  }
  if (!have(c, 1)) return false;
  uint8_t properties = bytes[c->at++];
  out->opening[out->opening_length++] = properties;
  layout->multiple = flags & 1;
  layout->replicated_code = properties & 3;
  layout->offset_code = (properties >> 2) & 3;
  layout->number_code = (properties >> 4) & 3;
  uint32_t packet_length = 0;
  uint32_t sequence = 0;
  if (!take_coded(c, (flags >> 5) & 3, &packet_length) || !take_coded(c, (flags >> 1) & 3, &sequence) ||
      !take_coded(c, (flags >> 3) & 3, &layout->padding) || !have(c, kSendTimeAndDuration)) {
    return false;
  }
  c->at += kSendTimeAndDuration;
  // A Packet Length below the packet's size leaves padding behind the packet; one above it
  // cannot be.
  if (packet_length > c->end || (packet_length != 0 && packet_length < c->at)) {
    c->failure = kPacketDamaged;
    return false;
  }
  if (packet_length != 0) c->end = packet_length;
  *count = 1;
  if (layout->multiple) {
    if (!have(c, 1)) return false;
    uint8_t payload_flags = bytes[c->at++];
    *count = payload_flags & 0x3F;
    layout->length_code = payload_flags >> 6;
  }
  return true;
}

// Decodes the `count` payloads in turn. True when one of them settles the packet's status
// (in *status): a payload count that goes on past payloads filling the packet (repaired),
// a payload of no known stream whose next one does not parse, or a payload that does not
// fit. False when every payload was taken: the packet's checks follow.
bool take_payloads(Cursor* c, const PayloadLayout& layout, uint32_t count, const uint32_t* known_streams,
                   ParsedPacket* out, PacketStatus* status) {
  for (uint32_t i = 0; i < count; ++i) {
    // Payloads that already fill the packet to its padding leave no room for another but
    // an empty one of a known stream.
    bool filled = i > 0 && c->end - c->at == layout.padding;
    PacketPayload* payload = &out->payloads[i];
    std::memset(payload, 0, sizeof *payload);
    c->opened = 0;
    bool taken = take_payload(c, layout, known_streams, payload);
    if (filled && (!taken || payload->foreign || payload->length != 0)) {
      // The count goes on past them: the count is the damaged field.
      out->repaired = 1;
      *status = kPacketWhole;
      return true;
    }
    if (i > 0 && out->payloads[i - 1].foreign && (!taken || payload->foreign)) {
      // A payload of no known stream is passed over only where the next one parses: here
      // the packet is damaged from it on.
      out->payload_count = i - 1;
      *status = kPacketDamaged;
      return true;
    }
    if (!taken) {
      out->failed_payload_opened = c->opened;
      *status = c->failure;
      return true;
    }
    out->repaired |= payload->foreign;
    out->payload_count = i + 1;
  }
  return false;
}

// The checks of a packet whose payloads were all taken: what lies behind them, and the
// order of each stream's objects. Returns the packet's status; a damaged packet keeps the
// payloads before the damage.
PacketStatus check_payloads(const Cursor& c, const PayloadLayout& layout, ParsedPacket* out) {
  if (out->repaired && c.end - c.at != layout.padding) {
    // Payloads of no known stream are passed over in a whole packet only when the payloads
    // fill it exactly, which tells that their lengths are right.
    uint32_t first = 0;
    while (!out->payloads[first].foreign) first++;
    out->payload_count = first;
    return kPacketDamaged;
  }
  // The declared padding must fit behind the payloads.
  if (layout.padding > c.end - c.at) return kPacketDamaged;
  uint32_t back = first_step_back(c.bytes, out);
  if (back != 0) {
    out->payload_count = back;
    return kPacketDamaged;
  }
  if (layout.multiple && layout.length_code != 0 && c.end - c.at > layout.padding) {
    // Bytes left over that no padding accounts for, and an empty object: a few zeroed
    // bytes read as its header. The packet is damaged behind that payload, which is the
    // one given up in front of the damage.
    for (uint32_t i = 0; i < out->payload_count; ++i) {
      if (!out->payloads[i].compressed && out->payloads[i].object_size == 0) {
        out->payload_count = i + 1;
        return kPacketDamaged;
      }
    }
  }
  return kPacketWhole;
}

}  // namespace

PacketStatus demux_parse_packet(const uint8_t* bytes, uint32_t available, uint32_t packet_size,
                                const uint32_t* known_streams, ParsedPacket* out) {
  out->status = kPacketDamaged;
  out->header_read = 0;
  out->payloads_offset = 0;
  out->payload_count = 0;
  out->failed_payload_opened = 0;
  out->repaired = 0;
  out->opening_length = 0;
  Cursor c = {bytes, 0, packet_size, available < packet_size ? available : packet_size, kPacketDamaged, 0};
  PayloadLayout layout = {};
  uint32_t count = 0;
  if (!take_packet_header(&c, out, &layout, &count)) return out->status = c.failure;
  out->header_read = 1;
  out->payloads_offset = c.at;
  PacketStatus status = kPacketWhole;
  if (take_payloads(&c, layout, count, known_streams, out, &status)) return out->status = status;
  return out->status = check_payloads(c, layout, out);
}
