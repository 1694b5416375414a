// The packet framing: where each data packet stands in the packet area, which of its
// payloads the walk can use and where damage lies (the rules are in demux_stages.h).
#include <cstdint>
#include <cstring>

#include "demux/demux_stages.h"

namespace {

// The index objects that follow the Data Object: where a walk to the input's end meets one,
// the packets are over.
constexpr uint8_t kIndexObjects[][16] = {
    // 33000890-E5B1-11CF-89F4-00A0C90349CB: Simple Index
    {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB},
    // D6E229D3-35DA-11D1-9034-00A0C90349BE: Index
    {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE},
    // FEB103F8-12AD-4C64-840F-2A1D2F7AD48C: Media Object Index
    {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C, 0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4, 0x8C},
};

bool is_index_object(const uint8_t* bytes, uint32_t available) {
  if (available < 16) return false;
  for (const uint8_t* guid : kIndexObjects) {
    if (std::memcmp(bytes, guid, 16) == 0) return true;
  }
  return false;
}

// Where the first index object begins in bytes [from, length), or `length`.
uint32_t index_object_at(const uint8_t* bytes, uint32_t from, uint32_t length) {
  for (uint32_t at = from; at + 16 <= length; ++at) {
    for (const uint8_t* guid : kIndexObjects) {
      if (bytes[at] == guid[0] && std::memcmp(bytes + at, guid, 16) == 0) return at;
    }
  }
  return length;
}

ParsedPacket* ahead_of(PacketFraming* f) { return &f->packets[f->ahead_slot]; }
ParsedPacket* current_of(PacketFraming* f) { return &f->packets[f->ahead_slot ^ 1]; }

PacketStatus decode(const PacketFraming* f, const uint8_t* bytes, uint32_t available, uint32_t length,
                    ParsedPacket* out) {
  return demux_parse_packet(bytes, available, length, f->known_streams, out);
}

// Whether the bytes at `bytes` open a packet the way the file's packets do; before any
// packet was used, the way every packet does: the Property Flags' stream number is a byte.
bool opens_like_the_file(const PacketFraming* f, const uint8_t* bytes, uint32_t available) {
  if (f->opening_length == 4) {
    return available >= 5 && std::memcmp(bytes, f->opening, 3) == 0 && bytes[4] == f->opening[3];
  }
  if (f->opening_length == 1) return available >= 2 && (bytes[0] & 0x80) == 0 && bytes[1] == f->opening[0];
  uint32_t properties = (bytes[0] & 0x80) != 0 ? 4 : 1;
  return available > properties && (bytes[properties] & 0xC0) == 0x40;
}

// Bytes inserted before the end move the last packets across the Data Object's declared
// end. How many packets stand at input offset `at` all the same: none; 1, a packet that
// starts well followed by the input's end or an index object, or the last packet cut short
// by an input that ends before the Data Object does; or 2, a packet that starts well
// followed by another. Decodes into `scratch`.
uint32_t packets_across_end(const PacketFraming* f, uint64_t at, const uint8_t* bytes, uint32_t available,
                            bool input_end, ParsedPacket* scratch) {
  uint32_t length = f->packet_size;
  if (available < length) {
    if (!input_end || at + available >= f->data_end || !opens_like_the_file(f, bytes, available)) return 0;
    decode(f, bytes, available, length, scratch);
    return scratch->status != kPacketDamaged && scratch->payload_count > 0 && !scratch->repaired ? 1 : 0;
  }
  // A packet damaged inside still stands when it starts well and what follows it fits.
  decode(f, bytes, length, length, scratch);
  if (scratch->payload_count == 0 || !framing_starts_well(f, scratch, bytes, length)) return 0;
  const uint8_t* next = bytes + length;
  uint32_t rest = available - length;
  if (rest == 0) return input_end ? 1 : 0;
  if (is_index_object(next, rest)) return 1;
  if (!opens_like_the_file(f, next, rest)) return 0;
  decode(f, next, rest, length, scratch);
  return framing_starts_well(f, scratch, next, rest) ? 2 : 0;
}

// Whether a whole packet stands at `bytes`, where the declared end says none does: it opens
// like the file's packets and decodes whole with a payload. Decodes into `scratch`.
bool whole_packet_behind_end(const PacketFraming* f, const uint8_t* bytes, uint32_t available,
                             ParsedPacket* scratch) {
  if (available < f->packet_size || is_index_object(bytes, available) ||
      !opens_like_the_file(f, bytes, available)) {
    return false;
  }
  return decode(f, bytes, available, f->packet_size, scratch) == kPacketWhole && scratch->payload_count > 0 &&
         !scratch->repaired;
}

// Whether a packet can be framed at input offset `at`: it opens like the file's packets,
// decodes whole, and the one behind it starts well or the packets end. A repaired packet is
// not evidence enough of where packets stand. Decodes into `scratch`.
bool packet_found_at(const PacketFraming* f, uint64_t at, const uint8_t* bytes, uint32_t available,
                     bool input_end, ParsedPacket* scratch) {
  if (!opens_like_the_file(f, bytes, available)) return false;
  if (f->data_end != kNoDataEnd && at + f->packet_size > f->data_end) {
    return packets_across_end(f, at, bytes, available, input_end, scratch) != 0;
  }
  uint32_t length = framing_packet_length(f, at);
  if (decode(f, bytes, available, length, scratch) != kPacketWhole || scratch->repaired) return false;
  if (available <= length || framing_packets_end_at(f, at + length, bytes + length, available - length)) {
    return true;
  }
  decode(f, bytes + length, available - length, framing_packet_length(f, at + length), scratch);
  return framing_starts_well(f, scratch, bytes + length, available - length);
}

// Whether a packet at least starts at `at`: it opens like the file's packets and its header
// and first payload fit. Damage further inside it is met when it is walked.
bool packet_starts_at(const PacketFraming* f, uint64_t at, const uint8_t* bytes, uint32_t available,
                      ParsedPacket* scratch) {
  if (!opens_like_the_file(f, bytes, available)) return false;
  decode(f, bytes, available, framing_packet_length(f, at), scratch);
  return scratch->payload_count > 0 && framing_starts_well(f, scratch, bytes, available);
}

// Whether the packet at `bytes`, cut to `length` bytes by the Data Object's declared end,
// is whole at its full size with all its payloads before that end: then it is decoded so
// into `packet`.
bool payloads_before_end(const PacketFraming* f, const uint8_t* bytes, uint32_t available, uint32_t length,
                         ParsedPacket* packet) {
  if (length >= f->packet_size || available < f->packet_size ||
      decode(f, bytes, available, f->packet_size, packet) != kPacketWhole || packet->repaired ||
      packet->payload_count == 0) {
    return false;
  }
  const PacketPayload& last = packet->payloads[packet->payload_count - 1];
  return last.data_offset + last.length <= length;
}

// Whether the payload header that `parsed` could not read whole begins where `before` ends:
// it names the same stream and goes on with its object (the next bytes of the same one, or
// the next one from its start). Then `before` ends where it should, and the damage lies
// behind it.
bool continues(const PacketPayload& before, const ParsedPacket* parsed) {
  if (!parsed->failed_payload_opened || before.compressed || before.number_width == 0 || !before.has_offset) {
    return false;
  }
  const PacketPayload& next = parsed->payloads[parsed->payload_count];
  if (next.stream_number != before.stream_number) return false;
  uint32_t mask = object_number_mask(before.number_width);
  if (next.object_number == before.object_number) return next.offset == before.offset + before.length;
  return next.object_number == ((before.object_number + 1) & mask) && next.offset == 0;
}

// Whether two payloads carry pieces of one object (its number, size and time) whose bytes
// overlap.
bool same_bytes_of_object(const PacketPayload& a, const PacketPayload& b) {
  return a.object_number == b.object_number && a.object_size == b.object_size &&
         a.presentation_time == b.presentation_time && ranges_overlap(a.offset, a.length, b.offset, b.length);
}

// A payload's header as a piece, without its bytes: for questions to the assembler.
MediaPiece header_piece(const PacketPayload& p) {
  return MediaPiece{p.object_number, p.number_width,      p.offset, p.has_offset, p.object_size,
                    p.key_frame,     p.presentation_time, nullptr,  p.length,     0};
}

// Whether the packet only brings again objects met already, while the next packet (null:
// none follows) goes on from where the walk stood before it: a packet sent again far later
// (a copy fault), passed over whole. Where the next packet does not go on from there, a
// packet of objects met may be the file playing again from its start.
bool repeated_between(const PacketFraming* f, const ObjectAssembler* assembler, const ParsedPacket* packet,
                      const ParsedPacket* next) {
  uint32_t ours = 0;
  for (uint32_t i = 0; i < packet->payload_count; ++i) {
    const PacketPayload& p = packet->payloads[i];
    if (p.stream_number != f->stream_number) continue;
    MediaPiece piece = header_piece(p);
    if (p.compressed || p.number_width == 0 || !assembler_met(assembler, &piece)) return false;
    ours++;
  }
  if (next == nullptr) return ours > 0;
  for (uint32_t i = 0; ours > 0 && i < next->payload_count; ++i) {
    const PacketPayload& q = next->payloads[i];
    if (q.stream_number != f->stream_number) continue;
    MediaPiece piece = header_piece(q);
    return !q.compressed && assembler_in_line(assembler, &piece) && !assembler_met(assembler, &piece);
  }
  return false;
}

// Whether the payload `p` brings bytes met already: the assembler has them, or a payload of
// `packet` holds bytes of the same object where it lies.
bool piece_met(const ObjectAssembler* assembler, const ParsedPacket* packet, const PacketPayload& p) {
  MediaPiece piece = header_piece(p);
  if (assembler_met(assembler, &piece)) return true;
  for (uint32_t i = 0; i < packet->payload_count; ++i) {
    const PacketPayload& q = packet->payloads[i];
    if (q.stream_number == p.stream_number && !q.compressed && same_bytes_of_object(q, p)) return true;
  }
  return false;
}

// Whether the packet that follows goes back to an object before this packet's last payload
// (of the chosen stream) with bytes met already, or to that payload's own bytes: the file
// repeats a stretch there, and where a repeated stretch is joined on, that payload may hold
// the tail of another packet. Its bytes come again with the repeat. A packet that goes back
// with bytes not met yet was only moved: nothing is given up for it.
bool repeats_behind(const PacketFraming* f, const ObjectAssembler* assembler, const ParsedPacket* packet,
                    const ParsedPacket* next) {
  if (packet->payload_count == 0) return false;
  const PacketPayload& last = packet->payloads[packet->payload_count - 1];
  if (last.stream_number != f->stream_number || last.compressed || last.number_width == 0 ||
      !last.has_offset) {
    return false;
  }
  for (uint32_t i = 0; i < next->payload_count; ++i) {
    const PacketPayload& p = next->payloads[i];
    if (p.stream_number != last.stream_number) continue;
    if (p.number_width != last.number_width) return false;
    // The same object: bytes of that payload again (a piece that fills a gap before it is
    // a piece out of order, not a repeat).
    if (p.object_number == last.object_number) return same_bytes_of_object(p, last);
    return in_repeat_window(p.object_number, last.object_number, last.number_width) && !p.compressed &&
           piece_met(assembler, packet, p);
  }
  return false;
}

// Where this window's search must stop: an index object, or the Data Object's end (its
// last kMinTailBytes hold no packet), whatever the offsets it passes over on the way.
uint32_t search_stop(const PacketFraming* f, uint64_t at, const uint8_t* bytes, uint32_t from,
                     uint32_t available) {
  uint32_t stop = index_object_at(bytes, from, available);
  if (f->data_end != kNoDataEnd) {
    uint64_t tail =
        at >= f->data_end || f->data_end - at <= kMinTailBytes ? 0 : f->data_end - at - kMinTailBytes;
    if (tail < stop) stop = static_cast<uint32_t>(tail < from ? from : tail);
  }
  return stop;
}

// The first offset from `i` on, before `last`, that may open a packet like the file's: its
// first byte (error correction flags), or else the Property Flags behind the first, is
// the file's. Every offset before a packet was used; `last` when there is none.
uint32_t next_candidate(const PacketFraming* f, const uint8_t* bytes, uint32_t i, uint32_t last) {
  if (f->opening_length == 0) return i;
  uint32_t lead = f->opening_length == 4 ? 0 : 1;
  if (i + lead >= last) return last;
  const void* hit = std::memchr(bytes + i + lead, f->opening[0], last - i - lead);
  if (hit == nullptr) return last;
  return static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - bytes) - lead;
}

}  // namespace

void framing_init(PacketFraming* framing, uint32_t packet_size, const uint32_t* known_streams,
                  uint32_t stream_number, uint64_t data_end) {
  std::memset(framing, 0, sizeof *framing);
  framing->packet_size = packet_size;
  framing->known_streams = known_streams;
  framing->stream_number = stream_number;
  framing->data_end = data_end;
  framing->ahead_slot = 1;
}

uint32_t framing_packet_length(const PacketFraming* f, uint64_t at) {
  if (f->data_end == kNoDataEnd || f->data_end - at >= f->packet_size) return f->packet_size;
  return static_cast<uint32_t>(f->data_end - at);
}

uint32_t framing_look_length(const PacketFraming* f, uint64_t at) {
  uint64_t two = 2ull * f->packet_size;
  return static_cast<uint32_t>(f->data_end == kNoDataEnd || f->data_end - at >= two ? two : f->data_end - at);
}

bool framing_near_end(const PacketFraming* f, uint64_t at) {
  return f->data_end != kNoDataEnd && at + 2 * uint64_t{f->packet_size} > f->data_end;
}

bool framing_packets_end_at(const PacketFraming* f, uint64_t at, const uint8_t* bytes, uint32_t available) {
  if (f->data_end != kNoDataEnd && (at >= f->data_end || f->data_end - at <= kMinTailBytes)) return true;
  return (f->data_end == kNoDataEnd && available == 0) || is_index_object(bytes, available);
}

PacketPlace framing_place(const PacketFraming* f, uint64_t at, const uint8_t* bytes, uint32_t available) {
  PacketPlace place = {framing_packet_length(f, at), 0, 0};
  // The last packet holds the start of an index object: bytes were lost inside it, and it
  // ends there.
  if (f->data_end != kNoDataEnd && at + place.length == f->data_end) {
    uint32_t window = place.length < available ? place.length : available;
    uint32_t end = index_object_at(bytes, 1, window);
    if (end < window) {
      place.length = end;
      place.index_inside = 1;
    }
  }
  place.packets_end = framing_packets_end_at(f, at, bytes, available);
  return place;
}

const ParsedPacket* framing_decode_packet(PacketFraming* f, uint64_t at, const uint8_t* bytes,
                                          uint32_t available, const PacketPlace* place) {
  bool kept = f->ahead_kept && f->ahead_at == at && !place->index_inside;
  f->ahead_kept = 0;
  if (kept) {
    f->ahead_slot ^= 1;
    return current_of(f);
  }
  ParsedPacket* packet = current_of(f);
  if (place->index_inside || !payloads_before_end(f, bytes, available, place->length, packet)) {
    decode(f, bytes, available, place->length, packet);
  }
  return packet;
}

bool framing_starts_well(const PacketFraming* f, const ParsedPacket* packet, const uint8_t* bytes,
                         uint32_t available) {
  if (packet->status == kPacketCut) return true;
  if (!packet->header_read || (packet->status == kPacketDamaged && packet->payload_count == 0)) return false;
  return packet->payload_count > 0 || opens_like_the_file(f, bytes, available);
}

NextPacket framing_decode_next(PacketFraming* f, uint64_t at, const uint8_t* bytes, uint32_t available,
                               const ParsedPacket* packet, uint32_t length) {
  NextPacket next = {nullptr, 1};
  if (packet->status != kPacketWhole || available <= length ||
      framing_packets_end_at(f, at + length, bytes + length, available - length)) {
    return next;
  }
  uint32_t next_length = framing_packet_length(f, at + length);
  ParsedPacket* ahead = ahead_of(f);
  decode(f, bytes + length, available - length, next_length, ahead);
  next.packet = ahead;
  next.starts_well = framing_starts_well(f, ahead, bytes + length, available - length);
  f->ahead_at = at + length;
  f->ahead_kept = next.starts_well && available - length >= next_length;
  return next;
}

PacketVerdict framing_verdict(const PacketFraming* f, const ParsedPacket* packet, NextPacket next,
                              const ObjectAssembler* assembler) {
  PacketVerdict v = {};
  bool damaged = packet->status == kPacketDamaged;
  v.suspect = damaged || !next.starts_well;
  v.spoilt = damaged || packet->repaired;
  v.usable = packet->payload_count;
  if (v.suspect && v.usable > 0) {
    // Unless what follows it shows that it ends where it should.
    const ParsedPacket* after = damaged ? packet : next.packet;
    if (!continues(packet->payloads[v.usable - 1], after)) v.usable--;
  }
  v.give_up = v.suspect;
  if (!v.suspect && repeated_between(f, assembler, packet, next.packet)) {
    v.usable = 0;
  } else if (!v.suspect && next.packet != nullptr && v.usable > 0 &&
             repeats_behind(f, assembler, packet, next.packet)) {
    v.usable--;
    v.give_up = 1;
  }
  const PacketPayload* last = v.usable > 0 ? &packet->payloads[v.usable - 1] : nullptr;
  v.resume = last != nullptr ? last->data_offset + last->length : packet->payloads_offset;
  return v;
}

uint64_t framing_packets_spanned(const PacketFraming* f, uint64_t from, uint64_t to) {
  return to > from ? (to - from + f->packet_size - 1) / f->packet_size : 1;
}

void framing_learn_opening(PacketFraming* f, const ParsedPacket* packet) {
  if (f->opening_length != 0) return;
  std::memcpy(f->opening, packet->opening, packet->opening_length);
  f->opening_length = packet->opening_length;
}

bool framing_extend_end(PacketFraming* f, uint64_t at, const uint8_t* bytes, uint32_t available,
                        bool input_end) {
  f->ahead_kept = 0;
  uint64_t declared = f->data_end;
  if (at >= declared || declared - at <= kMinTailBytes) {
    if (whole_packet_behind_end(f, bytes, available, ahead_of(f))) f->data_end = kNoDataEnd;
  } else {
    uint32_t packets = packets_across_end(f, at, bytes, available, input_end, ahead_of(f));
    if (packets != 0) f->data_end = at + static_cast<uint64_t>(packets) * f->packet_size;
  }
  return f->data_end > declared;
}

SeekStep framing_seek(PacketFraming* f, uint64_t at, const uint8_t* bytes, uint32_t available, uint32_t first,
                      uint64_t framed_at, ReaderEnd ended) {
  f->ahead_kept = 0;
  ParsedPacket* scratch = ahead_of(f);
  bool input_end = ended == kReaderEndOfInput;
  uint32_t last = ended != kReaderOpen || available < f->packet_size ? available : available - f->packet_size;
  uint32_t i = first < available ? first : available;
  uint32_t stop = search_stop(f, at, bytes, i, available);
  // The packets end at the stop, when the search reaches it.
  bool stops = stop <= last;
  if (stops) last = stop;
  while (i < last) {
    i = next_candidate(f, bytes, i, last);
    if (i >= last) break;
    bool framed = (at + i - framed_at) % f->packet_size == 0;
    if (framing_packets_end_at(f, at + i, bytes + i, available - i) ||
        packet_found_at(f, at + i, bytes + i, available - i, input_end, scratch) ||
        (framed && packet_starts_at(f, at + i, bytes + i, available - i, scratch))) {
      return SeekStep{i, 1};
    }
    ++i;
  }
  return SeekStep{i, stops ? 1u : 0u};
}
