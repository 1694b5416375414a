// The walk that drives the demux's stages: the Data Object's packets, one after the other,
// each at its place in the packet area; their payloads to the assembler; complete objects
// to the sink; written frames to the reporter.
//
// Packet k stands at bytes [k*P, (k+1)*P) of the packet area whatever its contents say.
// A packet whose fields do not fit is damaged: the payloads before the damage are used but
// for the last of them, whose data runs up to where the damage was met, and the walk goes
// on at the next packet. Bytes lost or inserted move every later packet: when the bytes
// where a packet should start are no packet, the walk looks forward for the next offset
// where one starts (with the opening bytes every packet of the file shares, and the packet
// behind it starting well too) and frames from there. For the same reason a packet's last
// payload is used only when the packet behind it starts well: the damage that spoils the
// next packet's start may have begun inside this payload's data.
#include <cinttypes>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "asf/asf.h"
#include "asf/le_bytes.h"
#include "demux/demux.h"
#include "demux/demux_stages.h"
#include "report/report.h"

namespace {

constexpr uint8_t kEndOfSequenceCode[4] = {0x00, 0x00, 0x01, 0x0A};
// A tail of the Data Object this short holds no packet and is not walked.
constexpr uint64_t kMinTailBytes = 32;
constexpr uint64_t kNoEnd = UINT64_MAX;
// Input bytes walked between two looks at the progress line's clock.
constexpr uint64_t kProgressStep = 256 * 1024;

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

struct Demux {
  const DemuxSettings* settings;
  FileReader* reader;
  PlatformFile output;
  DemuxCounters* counters;
  uint32_t packet_size;
  uint64_t data_end;      // input offset where the packets end; kNoEnd: at the input's end
  uint64_t packet_index;  // packets walked so far (damaged stretches counted by their length)
  uint8_t opening[4];     // the opening bytes of the file's packets, once a packet was used
  uint32_t opening_length;
  uint32_t write_failed;
  uint32_t truncated;
  uint32_t interrupted;
  uint32_t past_end;     // packets were read behind the Data Object's declared end
  uint32_t stopping;     // a stop was requested: no more reading
  uint64_t progress_at;  // input offset where the progress line is next updated; kNoEnd: not shown
  // The packet at the walk's position and the one behind it, decoded; `ahead` is kept for
  // the next step when it was decoded whole from its input offset ahead_at.
  ParsedPacket packets[2];
  ParsedPacket* current;
  ParsedPacket* ahead;
  uint64_t ahead_at;
  uint32_t ahead_kept;
  ObjectAssembler assembler;
  FrameSink sink;
  DemuxDisplay display;
};

// ---- Output and messages -----------------------------------------------------------------

// Writes the sink's batch, then shows and counts each frame written whole. False when a
// write failed, now or earlier: nothing more is written.
bool flush(Demux* d) {
  if (d->write_failed) return false;
  SinkFlush result = sink_flush(&d->sink, d->output);
  d->counters->bytes_written += result.written;
  for (uint32_t i = 0; i < result.frames_whole; ++i) {
    demux_show_frame(&d->display, d->counters, d->settings, &d->sink.frames[i]);
  }
  if (result.ok) return true;
  d->write_failed = 1;
  // A write that a stop request ended (a pipe nobody reads) stops the walk as the request does.
  if (result.error == kErrorInterrupted && platform_interrupt_signal() != 0) {
    d->interrupted = 1;
    return false;
  }
  platform_set_last_error(result.error);
  print_at_level(0, "Error writing output file %s: %s", d->settings->output_path, system_error_text());
  return false;
}

// Before a message of this level: when it will show, the frames before it are written and
// shown first. False when a write failed (the message is then not printed).
bool before_message(Demux* d, uint32_t level) {
  if (level != 0 && report_verbosity() < level) return d->write_failed == 0;
  return flush(d);
}

void object_dropped(Demux* d, uint32_t number) {
  d->counters->dropped_frames++;
  if (before_message(d, 1)) {
    print_at_level(1, "Warning: incomplete media object %u of stream %d dropped.\n", number,
                   static_cast<int>(d->settings->stream_number));
  }
}

// An object too large to hold is skipped: a dropped frame too.
void object_too_large(Demux* d, uint32_t size) {
  d->counters->dropped_frames++;
  if (before_message(d, 1)) {
    print_at_level(1, "Warning: media object of %u bytes in stream %d is too large; frame skipped\n", size,
                   static_cast<int>(d->settings->stream_number));
  }
}

// Every object the assembler gave up, and every number it gave up as lost, is a dropped
// frame with its warning.
void report_losses(Demux* d, const AssemblerResult& result) {
  for (uint32_t i = 0; i < result.dropped_count; ++i) object_dropped(d, result.dropped_numbers[i]);
  for (uint32_t i = kRepeatWindow; i-- > 0;) {
    if (result.lost_bits >> i & 1) object_dropped(d, (result.lost_top - 1 - i) & result.lost_mask);
  }
  for (uint32_t i = 0; i < result.lost_run; ++i) {
    object_dropped(d, (result.lost_first + i) & result.lost_mask);
  }
  if (result.events & kAssemblerTooLarge) object_too_large(d, result.too_large_size);
}

// A packet with one damaged field whose other payloads could be used all the same.
void packet_repaired(Demux* d) {
  d->counters->damaged_packets++;
  if (before_message(d, 1)) {
    print_at_level(1, "Warning: data packet %llu is damaged; its sound payloads kept.\n",
                   static_cast<unsigned long long>(d->packet_index + 1));
  }
}

void packet_damaged(Demux* d, uint64_t packets) {
  d->counters->damaged_packets += packets;
  if (before_message(d, 1)) {
    print_at_level(1, "Warning: data packet %llu is damaged; rest of the packet skipped.\n",
                   static_cast<unsigned long long>(d->packet_index + 1));
  }
}

// The reader's window is about to move: complete frames are written and the object in
// progress copied out of the window. False when the walk must stop (a write failed).
bool hand_over(Demux* d) {
  if (!flush(d)) return false;
  uint32_t size = 0;
  while (!assembler_gather(&d->assembler, &size)) object_too_large(d, size);
  return d->write_failed == 0;
}

// Brings the next n bytes into the reader's window. Returns the bytes buffered (fewer than
// n when the input stopped), or 0 with write_failed set when a write failed. Once a stop
// is requested nothing more is read: what the window holds is converted, and the walk
// ends where it runs out, between two frames.
uint32_t bring(Demux* d, uint32_t n) {
  if (!reader_fill_moves(d->reader, n)) return reader_buffered(d->reader);
  if (platform_interrupt_signal() != 0) {
    d->stopping = 1;
    return reader_buffered(d->reader);
  }
  if (!hand_over(d)) return 0;
  return reader_fill(d->reader, n);
}

// ---- Frames ------------------------------------------------------------------------------

// The assembler's complete object goes into the batch.
bool emit_object(Demux* d) {
  const OpenObject* a = assembler_completed(&d->assembler);
  if (!sink_has_room(&d->sink, a->piece_count) && !flush(d)) return false;
  FrameRecord frame = {};
  frame.object_size = a->size;
  frame.presentation_time = a->presentation_time;
  // A frame with no picture header has no type.
  FrameOpening opening = frame_opening(a->pieces, a->piece_count, a->size);
  frame.picture_type = opening.has_picture ? classify_picture_type(opening.picture_byte, d->settings->interlaced)
                                           : kPictureUnclassified;
  frame.key_frame = frame_is_key(a->key_frame, &opening, frame.picture_type);
  sink_put(&d->sink, d->settings, &frame, &opening, a->pieces, a->piece_count);
  assembler_finish(&d->assembler);
  return !sink_should_flush(&d->sink) || flush(d);
}

// Writes the complete objects whose turn has come, in the numbers' order; with `force`,
// every complete object. False when a write failed.
bool emit_objects(Demux* d, bool force) {
  for (;;) {
    AssemblerResult given_up = {};
    bool next = assembler_next(&d->assembler, force, &given_up);
    report_losses(d, given_up);
    if (!next) break;
    if (!emit_object(d)) return false;
  }
  return d->write_failed == 0;
}

// One piece of the chosen stream. False when the walk must stop.
bool take_piece(Demux* d, const MediaPiece* piece) {
  if (!assembler_has_room(&d->assembler) && (!hand_over(d) || !assembler_has_room(&d->assembler))) {
    return d->write_failed == 0;  // the piece is not taken: its object stays incomplete
  }
  // No place for the piece's object but complete ones waiting for their turn: they go
  // first, and what they waited for is too late when it comes.
  while (assembler_must_write(&d->assembler, piece)) {
    AssemblerResult given_up = {};
    bool next = assembler_next(&d->assembler, true, &given_up);
    report_losses(d, given_up);
    if (!next || !emit_object(d)) return d->write_failed == 0;
  }
  AssemblerResult result = assembler_take(&d->assembler, piece);
  report_losses(d, result);
  return emit_objects(d, false);
}

// Hands the first `usable` payloads of the packet at `bytes` to the assembler (the chosen
// stream's; the others are passed over). False when the walk must stop.
bool take_payloads(Demux* d, const uint8_t* bytes, const ParsedPacket* packet, uint32_t usable) {
  for (uint32_t i = 0; i < usable; ++i) {
    const PacketPayload& p = packet->payloads[i];
    if (p.stream_number != d->settings->stream_number) {
      // A payload of no known stream may have been ours: objects that lay whole in it
      // count as dropped, by the numbers the next object skips.
      if (p.foreign) d->assembler.count_gap = 1;
      if (!p.foreign && d->settings->frame_times != nullptr) {
        frame_times_note_other(d->settings->frame_times, p.presentation_time);
      }
      continue;
    }
    MediaPiece piece = media_piece(p, bytes);
    if (!p.compressed) {
      if (!take_piece(d, &piece)) return false;
      continue;
    }
    // Each sub-payload is a whole object: numbers count up from the payload's, times by the
    // payload's delta.
    uint32_t mask = object_number_mask(p.number_width);
    const uint8_t* sub = bytes + p.data_offset;
    const uint8_t* end = sub + p.length;
    for (uint32_t n = 0; sub < end; ++n) {
      piece.object_number = (p.object_number + n) & mask;
      piece.offset = 0;
      piece.has_offset = 1;
      piece.object_size = piece.length = sub[0];
      piece.presentation_time = p.presentation_time + n * p.time_delta;
      piece.bytes = sub + 1;
      if (!take_piece(d, &piece)) return false;
      sub += 1 + piece.length;
    }
  }
  return true;
}

// ---- Packets -----------------------------------------------------------------------------

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

// Bytes of the packet that starts at input offset `at`: P, less where the packets end.
uint32_t packet_length_at(const Demux* d, uint64_t at) {
  if (d->data_end == kNoEnd || d->data_end - at >= d->packet_size) return d->packet_size;
  return static_cast<uint32_t>(d->data_end - at);
}

// True when the packets end at `at`: the Data Object's end, a tail too short for a packet,
// the input's end when the Data Object's size is not known, or an index object.
bool packets_end_at(const Demux* d, uint64_t at, const uint8_t* bytes, uint32_t available) {
  if (d->data_end != kNoEnd && (at >= d->data_end || d->data_end - at <= kMinTailBytes)) return true;
  // An index object where a packet should stand: the Data Object is shorter than it says.
  return (d->data_end == kNoEnd && available == 0) || is_index_object(bytes, available);
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

// Whether the bytes at `bytes` open a packet the way the file's packets do; before any
// packet was used, the way every packet does: the Property Flags' stream number is a byte.
bool opens_like_the_file(const Demux* d, const uint8_t* bytes, uint32_t available) {
  if (d->opening_length == 4) {
    return available >= 5 && std::memcmp(bytes, d->opening, 3) == 0 && bytes[4] == d->opening[3];
  }
  if (d->opening_length == 1) return available >= 2 && (bytes[0] & 0x80) == 0 && bytes[1] == d->opening[0];
  uint32_t properties = (bytes[0] & 0x80) != 0 ? 4 : 1;
  return available > properties && (bytes[properties] & 0xC0) == 0x40;
}

// Whether two payloads carry pieces of one object: its number, size and time.
bool same_object(const PacketPayload& a, const PacketPayload& b) {
  return a.object_number == b.object_number && a.object_size == b.object_size &&
         a.presentation_time == b.presentation_time;
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
bool repeated_between(const Demux* d, const ParsedPacket* packet, const ParsedPacket* next) {
  const uint32_t stream = d->settings->stream_number;
  uint32_t ours = 0;
  for (uint32_t i = 0; i < packet->payload_count; ++i) {
    const PacketPayload& p = packet->payloads[i];
    if (p.stream_number != stream) continue;
    MediaPiece piece = header_piece(p);
    if (p.compressed || p.number_width == 0 || !assembler_met(&d->assembler, &piece)) return false;
    ours++;
  }
  if (next == nullptr) return ours > 0;
  for (uint32_t i = 0; ours > 0 && i < next->payload_count; ++i) {
    const PacketPayload& q = next->payloads[i];
    if (q.stream_number != stream) continue;
    MediaPiece piece = header_piece(q);
    return !q.compressed && assembler_in_line(&d->assembler, &piece) && !assembler_met(&d->assembler, &piece);
  }
  return false;
}

// Whether the payload `p` of the packet at `bytes` brings bytes met already: the assembler
// has them, or a payload of `packet` before it holds bytes of the same object where it lies.
bool piece_met(const Demux* d, const ParsedPacket* packet, const PacketPayload& p) {
  MediaPiece piece = header_piece(p);
  if (assembler_met(&d->assembler, &piece)) return true;
  for (uint32_t i = 0; i < packet->payload_count; ++i) {
    const PacketPayload& q = packet->payloads[i];
    if (q.stream_number == p.stream_number && !q.compressed && same_object(q, p) &&
        q.offset < p.offset + p.length && p.offset < q.offset + q.length) {
      return true;
    }
  }
  return false;
}

// Whether the packet that follows goes back to an object before this packet's last payload
// (of the chosen stream) with bytes met already, or to that payload's own bytes: the file
// repeats a stretch there, and where a repeated stretch is joined on, that payload may hold
// the tail of another packet. Its bytes come again with the repeat. A packet that goes back
// with bytes not met yet was only moved: nothing is given up for it.
bool repeats_behind(const Demux* d, const ParsedPacket* packet, const ParsedPacket* next) {
  if (packet->payload_count == 0) return false;
  const PacketPayload& last = packet->payloads[packet->payload_count - 1];
  if (last.stream_number != d->settings->stream_number || last.compressed || last.number_width == 0 ||
      !last.has_offset) {
    return false;
  }
  for (uint32_t i = 0; i < next->payload_count; ++i) {
    const PacketPayload& p = next->payloads[i];
    if (p.stream_number != last.stream_number) continue;
    if (p.number_width != last.number_width) return false;
    uint32_t mask = object_number_mask(last.number_width);
    uint32_t back = (last.object_number - p.object_number) & mask;
    // The same object: bytes of that payload again (a piece that fills a gap before it is
    // a piece out of order, not a repeat).
    if (back == 0) {
      return same_object(p, last) && p.offset < last.offset + last.length &&
             last.offset < p.offset + p.length;
    }
    return back <= kRepeatWindow && !p.compressed && piece_met(d, packet, p);
  }
  return false;
}

// Whether a packet starts well: its header and its first payload (if it has any) fit, or
// the input ends before any damage shows. A header that declares no payload at all is
// little evidence (a few bytes of frame data can read as one), so it must also open the
// way the file's packets do.
bool starts_well(const Demux* d, const ParsedPacket* packet, const uint8_t* bytes, uint32_t available) {
  if (packet->status == kPacketCut) return true;
  if (!packet->header_read || (packet->status == kPacketDamaged && packet->payload_count == 0)) return false;
  return packet->payload_count > 0 || opens_like_the_file(d, bytes, available);
}

// Bytes inserted before the end move the last packets across the Data Object's declared
// end. How many packets stand at input offset `at` (its bytes at `bytes`) all the same:
// none; 1, a packet that starts well followed by the input's end or an index object, or
// the last packet cut short by an input that ends before the Data Object does; or 2, a
// packet that starts well followed by another.
uint32_t packets_across_end(Demux* d, uint64_t at, const uint8_t* bytes, uint32_t available) {
  uint32_t length = d->packet_size;
  bool at_input_end = d->reader->ended == kReaderEndOfInput;  // the bytes given reach it
  if (available < length) {
    if (!at_input_end || at + available >= d->data_end || !opens_like_the_file(d, bytes, available)) return 0;
    demux_parse_packet(bytes, available, length, d->settings->known_streams, d->ahead);
    return d->ahead->status != kPacketDamaged && d->ahead->payload_count > 0 && !d->ahead->repaired ? 1 : 0;
  }
  // A packet damaged inside still stands when it starts well and what follows it fits.
  demux_parse_packet(bytes, length, length, d->settings->known_streams, d->ahead);
  if (d->ahead->payload_count == 0 || !starts_well(d, d->ahead, bytes, length)) return 0;
  const uint8_t* next = bytes + length;
  uint32_t rest = available - length;
  if (rest == 0) return at_input_end ? 1 : 0;
  if (is_index_object(next, rest)) return 1;
  if (!opens_like_the_file(d, next, rest)) return 0;
  demux_parse_packet(next, rest, length, d->settings->known_streams, d->ahead);
  return starts_well(d, d->ahead, next, rest) ? 2 : 0;
}

// Whether a whole packet stands at `bytes`, where the declared end says none does: it opens
// like the file's packets and decodes whole with a payload.
bool whole_packet_behind_end(Demux* d, const uint8_t* bytes, uint32_t available) {
  if (available < d->packet_size || is_index_object(bytes, available) ||
      !opens_like_the_file(d, bytes, available)) {
    return false;
  }
  return demux_parse_packet(bytes, available, d->packet_size, d->settings->known_streams, d->ahead) ==
             kPacketWhole &&
         d->ahead->payload_count > 0 && !d->ahead->repaired;
}

// Packets read behind the Data Object's declared end: its size disagrees with its packets,
// which is damage, said once.
void read_past_end(Demux* d, uint64_t declared_end) {
  if (d->past_end) return;
  d->past_end = 1;
  d->counters->damaged_packets++;
  if (before_message(d, 1)) {
    print_at_level(
        1, "Warning: data packets stand behind the Data Object's declared end (byte %llu); they are read.\n",
        static_cast<unsigned long long>(declared_end));
  }
}

// Packets that stand across or behind the declared end are taken in: across it, the Data
// Object is taken to end behind them and the walk decides again at the next packet; a whole
// packet where the packets should have ended, the walk goes on to the input's end or an
// index object. Either way the same warning and damage, whatever the size declared.
void extend_to_last_packet(Demux* d, uint64_t at) {
  if (d->data_end == kNoEnd) return;
  // This packet or the next ends where the packets end, or crosses that place: what stands
  // behind it tells whether packets go on.
  if (at + 2 * uint64_t{d->packet_size} <= d->data_end) return;
  uint32_t available = bring(d, 2 * d->packet_size);
  d->ahead_kept = 0;
  if (d->write_failed) return;
  uint64_t declared = d->data_end;
  const uint8_t* bytes = reader_peek(d->reader);
  if (at >= declared || declared - at <= kMinTailBytes) {
    if (whole_packet_behind_end(d, bytes, available)) d->data_end = kNoEnd;
  } else {
    uint32_t packets = packets_across_end(d, at, bytes, available);
    if (packets != 0) d->data_end = at + static_cast<uint64_t>(packets) * d->packet_size;
  }
  if (d->data_end > declared) read_past_end(d, declared);
}

// Whether a packet can be framed at input offset `at` (its bytes at `bytes`): it opens like
// the file's packets, decodes whole, and the one behind it starts well or the packets end.
bool packet_found_at(Demux* d, uint64_t at, const uint8_t* bytes, uint32_t available) {
  if (!opens_like_the_file(d, bytes, available)) return false;
  d->ahead_kept = 0;
  if (d->data_end != kNoEnd && at + d->packet_size > d->data_end) {
    return packets_across_end(d, at, bytes, available) != 0;
  }
  uint32_t length = packet_length_at(d, at);
  // A repaired packet is not evidence enough of where packets stand.
  if (demux_parse_packet(bytes, available, length, d->settings->known_streams, d->ahead) != kPacketWhole ||
      d->ahead->repaired) {
    return false;
  }
  if (available <= length || packets_end_at(d, at + length, bytes + length, available - length)) return true;
  demux_parse_packet(bytes + length, available - length, packet_length_at(d, at + length),
                     d->settings->known_streams, d->ahead);
  return starts_well(d, d->ahead, bytes + length, available - length);
}

// Whether a packet at least starts at `at`, a whole number of packets behind the last one
// framed: it opens like the file's packets and its header and first payload fit. Damage
// further inside it is met when it is walked.
bool packet_starts_at(Demux* d, uint64_t at, const uint8_t* bytes, uint32_t available) {
  if (!opens_like_the_file(d, bytes, available)) return false;
  d->ahead_kept = 0;
  demux_parse_packet(bytes, available, packet_length_at(d, at), d->settings->known_streams, d->ahead);
  return d->ahead->payload_count > 0 && starts_well(d, d->ahead, bytes, available);
}

// Looks forward from the reader's position (from the byte after it when `skip_first`) for
// the next offset where a packet can be framed, or where the packets end, consuming the
// bytes in between, up to the input's end when there is none. A packet that only starts
// well is taken where the framing from `framed_at`, the last packet's start, puts one.
// Returns where it stopped.
uint64_t resynchronise(Demux* d, bool skip_first, uint64_t framed_at) {
  uint32_t first = skip_first ? 1 : 0;
  for (;;) {
    uint64_t at = d->reader->position;
    uint32_t available = bring(d, 2 * d->packet_size);
    if (d->write_failed) break;
    const uint8_t* bytes = reader_peek(d->reader);
    // Offsets are tried while a whole packet and the next one's start are there to look
    // at; at the input's end, up to the end.
    bool ended = d->reader->ended != kReaderOpen;
    uint32_t last = ended || available < d->packet_size ? available : available - d->packet_size;
    uint32_t i = first < available ? first : available;
    first = 0;
    // Where the packets end in this window (an index object, or the Data Object's end), the
    // search stops, whatever the offsets it passes over on the way.
    uint32_t stop = index_object_at(bytes, i, available);
    if (d->data_end != kNoEnd) {
      uint64_t tail =
          at >= d->data_end || d->data_end - at <= kMinTailBytes ? 0 : d->data_end - at - kMinTailBytes;
      if (tail < stop) stop = static_cast<uint32_t>(tail < i ? i : tail);
    }
    bool stops = stop <= last;
    if (stops) last = stop;
    bool found = false;
    while (i < last) {
      // Only offsets that open like the file's packets are tried: their first byte (error
      // correction flags), or else the Property Flags behind the first.
      if (d->opening_length != 0) {
        uint32_t lead = d->opening_length == 4 ? 0 : 1;
        if (i + lead >= last) {
          i = last;
          break;
        }
        const void* hit = std::memchr(bytes + i + lead, d->opening[0], last - i - lead);
        if (hit == nullptr) {
          i = last;
          break;
        }
        i = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - bytes) - lead;
      }
      bool framed = (at + i - framed_at) % d->packet_size == 0;
      if (packets_end_at(d, at + i, bytes + i, available - i) ||
          packet_found_at(d, at + i, bytes + i, available - i) ||
          (framed && packet_starts_at(d, at + i, bytes + i, available - i))) {
        found = true;
        break;
      }
      ++i;
    }
    if (!found && stops) found = true;  // i == stop: the packets end there
    reader_consume(d->reader, i);
    if (found || ended) break;
  }
  return d->reader->position;
}

// Damage was met: the packets from `from` (number packet_index + 1) up to where the walk
// found its feet again, `to`, are counted as the packets they span.
void count_damage(Demux* d, uint64_t from, uint64_t to) {
  d->assembler.count_gap = 1;
  uint64_t spans = to > from ? (to - from + d->packet_size - 1) / d->packet_size : 1;
  packet_damaged(d, spans);
  d->packet_index += spans;
}

// Whether the packet at `bytes`, cut to `length` bytes by the Data Object's declared end,
// is whole at its full size with all its payloads before that end: bytes were inserted
// into its padding, or moved it a little across the end. Then it is decoded so.
bool payloads_before_end(Demux* d, const uint8_t* bytes, uint32_t available, uint32_t length,
                         ParsedPacket* packet) {
  if (length >= d->packet_size || available < d->packet_size ||
      demux_parse_packet(bytes, available, d->packet_size, d->settings->known_streams, packet) !=
          kPacketWhole ||
      packet->repaired || packet->payload_count == 0) {
    return false;
  }
  const PacketPayload& last = packet->payloads[packet->payload_count - 1];
  return last.data_offset + last.length <= length;
}

// The payload `index` of the packet at `bytes`, given up at damage or before a repeat,
// leaves its object a gap where its bytes were: the same bytes may still fill it where they
// come again (a duplicated stretch of the file), else the object is dropped. Where pieces
// follow in arrival order, it cannot be completed. False when the walk must stop.
bool give_up_payload(Demux* d, const uint8_t* bytes, const ParsedPacket* packet, uint32_t index) {
  if (index >= packet->payload_count || packet->payloads[index].stream_number != d->settings->stream_number) {
    return true;
  }
  const PacketPayload& p = packet->payloads[index];
  MediaPiece given_up = media_piece(p, bytes);
  given_up.length = 0;
  given_up.spoilt = p.number_width == 0 || !p.has_offset || p.object_size == 0;
  return !assembler_in_line(&d->assembler, &given_up) || take_piece(d, &given_up);
}

// Walks the packet at the reader's position. False when the walk is over or must stop.
bool walk_packet(Demux* d) {
  uint64_t at = d->reader->position;
  extend_to_last_packet(d, at);
  uint32_t length = packet_length_at(d, at);
  // The packet and the next one's start, to see that it starts well.
  uint64_t look = d->data_end == kNoEnd || d->data_end - at >= 2ull * d->packet_size ? 2ull * d->packet_size
                                                                                     : d->data_end - at;
  uint32_t available = bring(d, static_cast<uint32_t>(look));
  if (d->write_failed) return false;
  const uint8_t* bytes = reader_peek(d->reader);
  // The last packet holds the start of an index object: bytes were lost inside it, and it
  // ends there.
  bool index_inside = false;
  if (d->data_end != kNoEnd && at + length == d->data_end) {
    uint32_t window = length < available ? length : available;
    uint32_t end = index_object_at(bytes, 1, window);
    if (end < window) {
      length = end;
      index_inside = true;
      d->ahead_kept = 0;
    }
  }
  bool stopped = d->stopping || d->reader->ended == kReaderInterrupted;
  if (stopped && available < length && !packets_end_at(d, at, bytes, available)) {
    d->interrupted = 1;
    return false;
  }
  if (packets_end_at(d, at, bytes, available)) {
    if (available == 0 && d->reader->ended == kReaderReadError) d->truncated = 1;
    return false;
  }

  // The packet was decoded whole as the one ahead in the step before, unless a search for
  // packets used that place since.
  ParsedPacket* packet = d->ahead;
  if (d->ahead_kept && d->ahead_at == at) {
    d->ahead = d->current;
    d->current = packet;
  } else {
    packet = d->current;
    if (index_inside || !payloads_before_end(d, bytes, available, length, packet)) {
      demux_parse_packet(bytes, available, length, d->settings->known_streams, packet);
    }
  }
  d->ahead_kept = 0;
  PacketStatus status = packet->status;
  if (status == kPacketCut) {
    // The input ends inside this packet: what lies whole before the end is used.
    take_payloads(d, bytes, packet, packet->payload_count);
    if (d->reader->ended == kReaderInterrupted) {
      d->interrupted = 1;
    } else {
      d->truncated = 1;
    }
    return false;
  }
  if (!starts_well(d, packet, bytes, available)) {
    uint64_t found = resynchronise(d, true, at);
    if (d->write_failed) return false;
    count_damage(d, at, found);
    return d->write_failed == 0;
  }

  // The payload in front of damage may hold its first bytes: a packet damaged inside, or
  // followed by bytes that do not start a packet, gives up its last payload, and the walk
  // looks for the next packet from there on (bytes cut or inserted move it).
  uint32_t usable = packet->payload_count;
  bool next_bad = false;
  bool ahead_parsed = false;
  if (status == kPacketWhole && available > length &&
      !packets_end_at(d, at + length, bytes + length, available - length)) {
    uint32_t next_length = packet_length_at(d, at + length);
    demux_parse_packet(bytes + length, available - length, next_length, d->settings->known_streams, d->ahead);
    next_bad = !starts_well(d, d->ahead, bytes + length, available - length);
    ahead_parsed = true;
    d->ahead_at = at + length;
    d->ahead_kept = !next_bad && available - length >= next_length;
  }
  bool suspect = status == kPacketDamaged || next_bad;
  if (suspect && usable > 0) {
    // Unless what follows it shows that it ends where it should.
    const ParsedPacket* after = status == kPacketDamaged ? packet : d->ahead;
    if (!continues(packet->payloads[usable - 1], after)) usable--;
  }
  // The next packet goes back behind this one's last payload: it is given up, and taken
  // from the repeat. A packet that only repeats objects met is passed over.
  bool passed_over = !suspect && repeated_between(d, packet, ahead_parsed ? d->ahead : nullptr);
  bool repeat_follows =
      !passed_over && !suspect && ahead_parsed && usable > 0 && repeats_behind(d, packet, d->ahead);
  if (passed_over || repeat_follows) usable = passed_over ? 0 : usable - 1;
  if (d->opening_length == 0) {
    std::memcpy(d->opening, packet->opening, packet->opening_length);
    d->opening_length = packet->opening_length;
  }
  if (!take_payloads(d, bytes, packet, usable)) return false;
  if ((suspect || repeat_follows) && !give_up_payload(d, bytes, packet, usable)) return false;

  if (suspect) {
    uint32_t resume = usable > 0
                          ? packet->payloads[usable - 1].data_offset + packet->payloads[usable - 1].length
                          : packet->payloads_offset;
    reader_consume(d->reader, resume);
    uint64_t found = resynchronise(d, false, at);
    if (d->write_failed) return false;
    if (status == kPacketDamaged || packet->repaired || found < at + length) {
      count_damage(d, at, found);  // this packet's own bytes are spoilt or cut short
    } else {
      d->packet_index++;  // this packet was whole; the damage begins behind it
      count_damage(d, at + length, found);
    }
    return d->write_failed == 0;
  }

  if (packet->repaired) packet_repaired(d);
  d->packet_index++;
  if (available < length && (d->stopping || d->reader->ended == kReaderInterrupted)) {
    d->interrupted = 1;
    return false;
  }
  if (available < length) {
    // The input ends in the packet's padding: the Data Object is cut short, unless its
    // size was not known.
    reader_consume(d->reader, available);
    d->truncated = d->data_end != kNoEnd;
    return false;
  }
  reader_consume(d->reader, length);
  return true;
}

// Ends the walk: the last frames, the notes on how it ended, the end-of-sequence code,
// what was lost, the summary.
DemuxResult finish(Demux* d) {
  // Nothing more is coming: objects still incomplete end, and the complete ones that
  // waited for them go now, in their order.
  AssemblerResult left = assembler_abandon(&d->assembler);
  emit_objects(d, false);
  // When a frame of the batch fails to go out, the walk counts as stopped at that frame,
  // before it could have found the input's end.
  if (!flush(d)) d->truncated = 0;
  bool over = !d->write_failed && !d->truncated && !d->interrupted;
  if (over) report_losses(d, left);
  if (d->truncated) {
    print_at_level(0, "Error: Input file ends inside the ASF Data Object; demux stopped early.\n");
  }
  if (d->interrupted) print_at_level(0, "Error: Interrupted; demux stopped early.\n");
  if (!d->write_failed) {
    uint32_t written = 0;
    bool ok = platform_write(d->output, kEndOfSequenceCode, sizeof kEndOfSequenceCode, &written);
    d->counters->bytes_written += written;
    if (!ok) {
      print_at_level(0, "Error writing output file %s: %s", d->settings->output_path, system_error_text());
      d->write_failed = 1;
    }
  }
  DemuxCounters* c = d->counters;
  bool damaged = c->damaged_packets != 0 || c->dropped_frames != 0;
  if (damaged) {
    print_at_level(0,
                   "Error: Damaged input: %llu data packets damaged, %u frames dropped; every frame written "
                   "is intact.\n",
                   static_cast<unsigned long long>(c->damaged_packets), c->dropped_frames);
  }
  demux_print_summary(&d->display, c, d->settings);
  if (d->write_failed) return kDemuxWriteFailed;
  if (d->interrupted) return kDemuxInterrupted;
  if (d->truncated) return kDemuxTruncated;
  return damaged ? kDemuxDamaged : kDemuxCompleted;
}

// The frame buffer's first size: the stream's maximum object size, within bounds.
uint32_t first_buffer_size(const DemuxSettings* settings) {
  uint32_t size = settings->max_object_size;
  if (size == 0) {
    print_at_level(2, "Warning: no max object size for stream %d; using default\n",
                   static_cast<int>(settings->stream_number));
    return kDefaultFrameBufferSize;
  }
  if (size > kDefaultFrameBufferSize) {
    print_at_level(2, "Warning: max object size for stream %d too large; using default\n",
                   static_cast<int>(settings->stream_number));
    return kDefaultFrameBufferSize;
  }
  return size;
}

}  // namespace

bool demux_find_data_object(FileReader* reader, DataObjectInfo* info) {
  std::memset(info, 0, sizeof *info);
  uint32_t available = reader_fill(reader, kDataObjectHeaderSize);
  const uint8_t* bytes = reader_peek(reader);
  if (available < 16 || !guid_equal(bytes, ASF_Data_Object)) return false;
  if (available < kDataObjectHeaderSize) {
    info->cut = 1;
    reader_consume(reader, available);
    return true;
  }
  info->object_size = read_le64(bytes + 16);
  info->total_packets = read_le64(bytes + 40);
  reader_consume(reader, kDataObjectHeaderSize);
  return true;
}

void demux_report_bad_packet_size(uint32_t size) {
  print_at_level(
      0, "Error: Maximum Data Packet Size of %u bytes cannot frame data packets; nothing converted.\n", size);
}

DemuxResult demux_data_object(const DemuxSettings* settings, const DataObjectInfo* info, FileReader* reader,
                              PlatformFile output, DemuxCounters* counters) {
  std::memset(counters, 0, sizeof *counters);
  if (!demux_packet_size_ok(settings->packet_size)) {
    demux_report_bad_packet_size(settings->packet_size);
    return kDemuxBadPacketSize;
  }
  print_at_level(2, "\nFound ASF_Data_Object\n");
  if (!info->cut) {
    print_at_level(2, "-- len = %" PRIu64 " bytes; contains %" PRIu64 " data packets\n", info->object_size,
                   info->total_packets);
    print_at_level(2, "Starting ASF demux / VC-1 write...\n\n");
  }
  Demux* d = static_cast<Demux*>(std::calloc(1, sizeof(Demux)));
  if (d == nullptr) return kDemuxNoMemory;
  if (!assembler_init(&d->assembler, first_buffer_size(settings))) {
    std::free(d);
    return kDemuxNoMemory;
  }
  d->settings = settings;
  d->reader = reader;
  d->output = output;
  d->counters = counters;
  d->packet_size = settings->packet_size;
  d->current = &d->packets[0];
  d->ahead = &d->packets[1];
  sink_init(&d->sink);
  demux_open_frame_list(&d->display, settings);

  bool sized = info->object_size >= kDataObjectHeaderSize && !settings->walk_to_end;
  d->data_end = sized ? reader->position + (info->object_size - kDataObjectHeaderSize) : kNoEnd;
  if (info->cut) {
    d->truncated = 1;
  } else {
    // The progress line costs the walk one comparison a packet; its clock is read only
    // every kProgressStep bytes.
    uint64_t end = d->data_end != kNoEnd ? d->data_end : reader->file_size;
    d->progress_at = report_progress_begin(reader->position, end) ? reader->position + kProgressStep : kNoEnd;
    uint64_t last = reader->position;
    while (walk_packet(d)) {
      // Every step moves on. Should one ever not, the byte there is taken for damage: no
      // input may hold the walk in place.
      if (reader->position == last) {
        if (reader_buffered(reader) == 0) break;
        count_damage(d, last, last + 1);
        reader_consume(reader, 1);
      }
      last = reader->position;
      if (reader->position >= d->progress_at) {
        report_progress(reader->position);
        d->progress_at = reader->position + kProgressStep;
      }
    }
    report_progress_end();
  }
  DemuxResult result = finish(d);
  assembler_release(&d->assembler);
  std::free(d);
  return result;
}
