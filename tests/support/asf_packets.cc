// Byte-level builder of ASF Data Objects and data packets for the tests.
#include "tests/support/asf_packets.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

uint32_t length_code_width(uint8_t code) {
  static const uint32_t kWidths[4] = {0, 1, 2, 4};
  return kWidths[code & 3];
}

uint32_t packet_header_size(const PacketLayout& packet) {
  uint32_t size = packet.error_correction ? 3 : 0;
  size += 2;  // Length Type Flags, Property Flags
  size += length_code_width(packet.packet_length_code) + length_code_width(packet.sequence_code) +
          length_code_width(packet.padding_code);
  size += 6;  // Send Time, Duration
  if (packet.multiple_payloads) size += 1;
  return size;
}

uint32_t payload_header_size(const PacketLayout& packet, const PayloadLayout& payload) {
  uint32_t size = 1 + length_code_width(packet.object_number_code) + length_code_width(packet.offset_code) +
                  length_code_width(packet.replicated_code) + 8;
  if (payload.replicated_length > 8) size += payload.replicated_length - 8;
  if (packet.multiple_payloads) size += length_code_width(packet.payload_length_code);
  return size;
}

uint32_t single_payload_capacity(const PacketLayout& packet, uint32_t max_packet_size) {
  const PayloadLayout empty;
  const PayloadLayout& payload = packet.payloads.empty() ? empty : packet.payloads[0];
  return max_packet_size - packet_header_size(packet) - payload_header_size(packet, payload) -
         packet.padding_length;
}

bool fit_single_payload(PacketLayout* packet, uint32_t max_packet_size) {
  packet->padding_length = 0;
  uint32_t capacity = single_payload_capacity(*packet, max_packet_size);
  uint32_t size = static_cast<uint32_t>(packet->payloads.at(0).data.size());
  if (size > capacity || capacity > max_packet_size) return false;
  packet->padding_length = capacity - size;
  return true;
}

void append(Bytes* out, const Bytes& more) { out->insert(out->end(), more.begin(), more.end()); }

namespace {

void append_compressed_payload(Bytes* out, const PacketLayout& packet, const PayloadLayout& payload) {
  out->push_back(static_cast<uint8_t>((payload.stream_number & 0x7F) | (payload.key_frame ? 0x80 : 0)));
  put_le(out, static_cast<uint64_t>(payload.object_number < 0 ? 0 : payload.object_number),
         length_code_width(packet.object_number_code));
  put_le(out, payload.presentation_time, length_code_width(packet.offset_code));
  put_le(out, 1, length_code_width(packet.replicated_code));
  out->push_back(payload.time_delta);
  Bytes run;
  for (const Bytes& sub : payload.sub_payloads) {
    run.push_back(static_cast<uint8_t>(sub.size()));
    append(&run, sub);
  }
  if (packet.multiple_payloads) {
    uint64_t length = payload.length_field >= 0 ? static_cast<uint64_t>(payload.length_field) : run.size();
    put_le(out, length, length_code_width(packet.payload_length_code));
  }
  append(out, run);
}

}  // namespace

void append_packet(Bytes* out, const PacketLayout& packet) {
  if (packet.error_correction) {
    out->push_back(packet.error_correction_flags);
    out->push_back(0x00);
    out->push_back(0x00);
  }
  uint8_t length_type =
      static_cast<uint8_t>((packet.multiple_payloads ? 1 : 0) | (packet.sequence_code & 3) << 1 |
                           (packet.padding_code & 3) << 3 | (packet.packet_length_code & 3) << 5);
  uint8_t properties = static_cast<uint8_t>((packet.replicated_code & 3) | (packet.offset_code & 3) << 2 |
                                            (packet.object_number_code & 3) << 4 | 1 << 6);
  out->push_back(length_type);
  out->push_back(properties);
  put_le(out, packet.packet_length, length_code_width(packet.packet_length_code));
  put_le(out, packet.sequence, length_code_width(packet.sequence_code));
  put_le(out, packet.padding_length, length_code_width(packet.padding_code));
  put_le(out, packet.send_time, 4);
  put_le(out, packet.duration, 2);
  if (packet.multiple_payloads) {
    int count = packet.payload_count >= 0 ? packet.payload_count : static_cast<int>(packet.payloads.size());
    out->push_back(static_cast<uint8_t>((count & 0x3F) | (packet.payload_length_code & 3) << 6));
  }
  for (const PayloadLayout& payload : packet.payloads) {
    if (!payload.sub_payloads.empty()) {
      append_compressed_payload(out, packet, payload);
      continue;
    }
    out->push_back(static_cast<uint8_t>((payload.stream_number & 0x7F) | (payload.key_frame ? 0x80 : 0)));
    // A field never filled in (a packet appended on its own) is written as 0.
    put_le(out, static_cast<uint64_t>(payload.object_number < 0 ? 0 : payload.object_number),
           length_code_width(packet.object_number_code));
    put_le(out, static_cast<uint64_t>(payload.offset_into_object < 0 ? 0 : payload.offset_into_object),
           length_code_width(packet.offset_code));
    put_le(out, payload.replicated_length, length_code_width(packet.replicated_code));
    put_le(out, payload.object_size, 4);
    put_le(out, payload.presentation_time, 4);
    if (payload.replicated_length > 8) out->insert(out->end(), payload.replicated_length - 8, 0xAA);
    if (packet.multiple_payloads) {
      uint64_t length =
          payload.length_field >= 0 ? static_cast<uint64_t>(payload.length_field) : payload.data.size();
      put_le(out, length, length_code_width(packet.payload_length_code));
    }
    append(out, payload.data);
  }
  out->insert(out->end(), packet.padding_length, 0xEE);
}

Bytes data_object_header(uint64_t object_size, uint64_t total_packets) {
  static const uint8_t kDataObjectGuid[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  Bytes out(std::begin(kDataObjectGuid), std::end(kDataObjectGuid));
  put_le(&out, object_size, 8);
  for (int i = 0; i < 16; ++i) out.push_back(static_cast<uint8_t>(0xF0 + i));  // File ID
  put_le(&out, total_packets, 8);
  out.push_back(0x01);  // Reserved
  out.push_back(0x01);
  return out;
}

void number_payloads(std::vector<PacketLayout>* packets) {
  struct StreamState {
    int64_t number = 0;
    uint64_t held = 0;  // bytes of the object in progress so far; 0: none in progress
  };
  StreamState streams[128];
  for (PacketLayout& packet : *packets) {
    for (PayloadLayout& payload : packet.payloads) {
      StreamState& stream = streams[payload.stream_number & 0x7F];
      if (!payload.sub_payloads.empty()) {  // whole objects, one after the other
        if (payload.object_number == kAutoField) payload.object_number = stream.number + 1;
        stream.number = payload.object_number + static_cast<int64_t>(payload.sub_payloads.size()) - 1;
        stream.held = 0;
        continue;
      }
      if (stream.held == 0) stream.number++;
      if (payload.object_number == kAutoField) payload.object_number = stream.number;
      if (payload.offset_into_object == kAutoField)
        payload.offset_into_object = static_cast<int64_t>(stream.held);
      stream.held += payload.data.size();
      if (stream.held >= payload.object_size) stream.held = 0;
    }
  }
}

Bytes build_data_object(std::vector<PacketLayout> packets, uint32_t packet_size) {
  number_payloads(&packets);
  Bytes body;
  for (const PacketLayout& packet : packets) {
    size_t start = body.size();
    append_packet(&body, packet);
    size_t length = body.size() - start;
    if (length > packet_size) {
      ADD_FAILURE() << "a packet of " << length << " bytes does not fit the packet size " << packet_size;
    } else {
      body.resize(start + packet_size, 0x00);
    }
  }
  Bytes out = data_object_header(kDataObjectHeaderBytes + body.size(), packets.size());
  append(&out, body);
  return out;
}

PacketLayout single_payload_packet(uint8_t stream, bool key_frame, uint32_t object_size, Bytes data,
                                   uint32_t max_packet_size) {
  PacketLayout packet;
  PayloadLayout payload;
  payload.stream_number = stream;
  payload.key_frame = key_frame;
  payload.object_size = object_size;
  payload.data = std::move(data);
  packet.payloads.push_back(std::move(payload));
  if (!fit_single_payload(&packet, max_packet_size)) {
    ADD_FAILURE() << "payload of " << packet.payloads[0].data.size() << " bytes does not fit a packet of "
                  << max_packet_size;
  }
  return packet;
}

Bytes filler_packet_header(uint8_t stream, uint32_t max_packet_size) {
  PacketLayout filler;
  PayloadLayout payload;
  payload.stream_number = stream;
  payload.object_number = 0;
  payload.offset_into_object = 0;
  filler.payloads = {payload};
  uint32_t capacity = single_payload_capacity(filler, max_packet_size);
  filler.payloads[0].object_size = capacity;
  Bytes header;
  append_packet(&header, filler);  // no data yet: the header alone
  return header;
}

PacketLayout whole_object_packet(uint8_t stream, bool key_frame, Bytes data) {
  PacketLayout packet;
  packet.multiple_payloads = true;
  PayloadLayout payload;
  payload.stream_number = stream;
  payload.key_frame = key_frame;
  payload.object_size = static_cast<uint32_t>(data.size());
  payload.data = std::move(data);
  packet.payloads.push_back(std::move(payload));
  return packet;
}

Bytes expected_frame(const Bytes& headers, const Bytes& frame) {
  Bytes out = headers;
  append(&out, {0x00, 0x00, 0x01, 0x0D});
  append(&out, frame);
  return out;
}

Bytes end_of_sequence() { return {0x00, 0x00, 0x01, 0x0A}; }

Bytes pattern_bytes(size_t n, uint32_t seed) {
  Bytes out(n);
  uint32_t state = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < n; ++i) {
    state = state * 1103515245u + 12345u;
    out[i] = static_cast<uint8_t>(state >> 16);
  }
  return out;
}
