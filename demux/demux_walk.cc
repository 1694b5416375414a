// The walk that drives the demux's stages: the Data Object's packets, one after the other,
// each where the framing puts it (demux_frame.cc); their usable payloads to the assembler;
// complete objects to the sink; written frames to the reporter. It brings the input's bytes
// for the framing to look at, and before the reader's window moves has the sink write what
// is complete and the assembler copy out what it still holds.
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
// Input bytes walked between two looks at the progress line's clock.
constexpr uint64_t kProgressStep = 256 * 1024;

struct Demux {
  const DemuxSettings* settings;
  DemuxOutputs* outputs;
  Report* report;  // the outputs' report
  FileReader* reader;
  PlatformFile output;
  DemuxCounters* counters;
  PacketFraming framing;
  uint64_t packet_index;  // packets walked so far (damaged stretches counted by their length)
  uint32_t write_failed;
  uint32_t truncated;
  uint32_t interrupted;
  uint32_t past_end;     // packets were read behind the Data Object's declared end
  uint32_t stopping;     // a stop was requested: no more reading
  uint64_t progress_at;  // input offset where the progress line is next updated; kNoDataEnd: not shown
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
  report_error(d->report, 0, "Error writing output file %s: %s", d->settings->output_path,
               system_error_text(d->report));
  return false;
}

// Before a message of this level: when it will show, the frames before it are written and
// shown first. False when a write failed (the message is then not printed).
bool before_message(Demux* d, uint32_t level) {
  if (level != 0 && d->report->verbosity < level) return d->write_failed == 0;
  return flush(d);
}

void object_dropped(Demux* d, uint32_t number) {
  d->counters->dropped_frames++;
  if (before_message(d, 1)) {
    report_warning(d->report, 1, "Warning: incomplete media object %u of stream %d dropped.\n", number,
                   static_cast<int>(d->settings->stream_number));
  }
}

// An object too large to hold is skipped: a dropped frame too.
void object_too_large(Demux* d, uint32_t size) {
  d->counters->dropped_frames++;
  if (before_message(d, 1)) {
    report_warning(d->report, 1,
                   "Warning: media object of %u bytes in stream %d is too large; frame skipped\n", size,
                   static_cast<int>(d->settings->stream_number));
  }
}

// Every object the assembler gave up, and every number it gave up as lost, is a dropped
// frame with its warning.
void report_losses(Demux* d, const AssemblerResult& result) {
  for (uint32_t i = 0; i < result.dropped_count; ++i) object_dropped(d, result.dropped_numbers[i]);
  for (uint32_t i = result.lost_bits != 0 ? kRepeatWindow : 0; i-- > 0;) {
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
    report_warning(d->report, 1, "Warning: data packet %llu is damaged; its sound payloads kept.\n",
                   static_cast<unsigned long long>(d->packet_index + 1));
  }
}

void packet_damaged(Demux* d, uint64_t packets) {
  d->counters->damaged_packets += packets;
  if (before_message(d, 1)) {
    report_warning(d->report, 1, "Warning: data packet %llu is damaged; rest of the packet skipped.\n",
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
  frame.picture_type = opening.has_picture
                           ? classify_picture_type(opening.picture_byte, d->settings->interlaced)
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
      if (!p.foreign && d->outputs->frame_times != nullptr) {
        frame_times_note_other(d->outputs->frame_times, p.presentation_time);
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

// Damage was met: the packets from `from` (number packet_index + 1) up to where the walk
// found its feet again, `to`, are counted as the packets they span.
void count_damage(Demux* d, uint64_t from, uint64_t to) {
  d->assembler.count_gap = 1;
  uint64_t spans = framing_packets_spanned(&d->framing, from, to);
  packet_damaged(d, spans);
  d->packet_index += spans;
}

// Packets read behind the Data Object's declared end: its size disagrees with its packets,
// which is damage, said once.
void read_past_end(Demux* d, uint64_t declared_end) {
  if (d->past_end) return;
  d->past_end = 1;
  d->counters->damaged_packets++;
  if (before_message(d, 1)) {
    report_warning(
        d->report, 1,
        "Warning: data packets stand behind the Data Object's declared end (byte %llu); they are read.\n",
        static_cast<unsigned long long>(declared_end));
  }
}

// Near the declared end, what stands behind it tells whether packets go on: packets across
// or behind it are taken in, with the same warning and damage whatever the size declared.
void extend_end(Demux* d, uint64_t at) {
  uint32_t available = bring(d, 2 * d->framing.packet_size);
  uint64_t declared = d->framing.data_end;
  if (d->write_failed) return;  // the walk stops at its next step
  bool input_end = d->reader->ended == kReaderEndOfInput;
  if (framing_extend_end(&d->framing, at, reader_peek(d->reader), available, input_end)) {
    read_past_end(d, declared);
  }
}

// Seeks forward from the reader's position (from the byte after it when `skip_first`) for
// the next offset where a packet can be framed, or where the packets end, consuming the
// bytes in between, up to the input's end when there is none. Returns where it stopped.
uint64_t resynchronise(Demux* d, bool skip_first, uint64_t framed_at) {
  uint32_t first = skip_first ? 1 : 0;
  for (;;) {
    uint64_t at = d->reader->position;
    uint32_t available = bring(d, 2 * d->framing.packet_size);
    if (d->write_failed) break;
    SeekStep step =
        framing_seek(&d->framing, at, reader_peek(d->reader), available, first, framed_at, d->reader->ended);
    first = 0;
    reader_consume(d->reader, step.skipped);
    if (step.found || d->reader->ended != kReaderOpen) break;
  }
  return d->reader->position;
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

bool input_stopped(const Demux* d) { return d->stopping || d->reader->ended == kReaderInterrupted; }

// The walk cannot go on at the packet `place` describes: the packets are over, or a stop was
// requested or the input ended inside the packet. Notes how; always false.
bool walk_ends(Demux* d, const PacketPlace* place, uint32_t available) {
  if (place->packets_end) {
    if (available == 0 && d->reader->ended == kReaderReadError) d->truncated = 1;
  } else if (input_stopped(d)) {
    d->interrupted = 1;
  } else {
    d->truncated = 1;
  }
  return false;
}

// Damage inside the packet at `at` or behind it: the walk seeks the next packet from behind
// the last payload used, and counts the packets it passes over.
bool recover(Demux* d, uint64_t at, uint32_t length, const PacketVerdict* verdict) {
  reader_consume(d->reader, verdict->resume);
  uint64_t found = resynchronise(d, false, at);
  if (d->write_failed) return false;
  uint64_t from = framing_damage_from(verdict, at, length, found);
  if (from != at) d->packet_index++;  // this packet was whole; the damage begins behind it
  count_damage(d, from, found);
  return d->write_failed == 0;
}

// The packet was used: the walk steps over it, unless the input ends in its padding (the
// Data Object is cut short, unless its size was not known).
bool step_over(Demux* d, uint32_t length, uint32_t available) {
  d->packet_index++;
  if (available < length && input_stopped(d)) {
    d->interrupted = 1;
    return false;
  }
  if (available < length) {
    reader_consume(d->reader, available);
    d->truncated = d->framing.data_end != kNoDataEnd;
    return false;
  }
  reader_consume(d->reader, length);
  return true;
}

// Walks the packet at the reader's position. False when the walk is over or must stop.
bool walk_packet(Demux* d) {
  PacketFraming* f = &d->framing;
  uint64_t at = d->reader->position;
  if (framing_near_end(f, at)) extend_end(d, at);
  uint32_t available = bring(d, framing_look_length(f, at));
  if (d->write_failed) return false;
  const uint8_t* bytes = reader_peek(d->reader);
  PacketPlace place = framing_place(f, at, bytes, available);
  if (place.packets_end || (input_stopped(d) && available < place.length)) {
    return walk_ends(d, &place, available);
  }
  const ParsedPacket* packet = framing_decode_packet(f, at, bytes, available, &place);
  if (packet->status == kPacketCut) {
    // The input ends inside this packet: what lies whole before the end is used.
    take_payloads(d, bytes, packet, packet->payload_count);
    return walk_ends(d, &place, available);
  }
  if (!framing_starts_well(f, packet, bytes, available)) {
    uint64_t found = resynchronise(d, true, at);
    if (d->write_failed) return false;
    count_damage(d, at, found);
    return d->write_failed == 0;
  }
  NextPacket next = framing_decode_next(f, at, bytes, available, packet, place.length);
  PacketVerdict verdict = framing_verdict(f, packet, next, &d->assembler);
  framing_learn_opening(f, packet);
  if (!take_payloads(d, bytes, packet, verdict.usable)) return false;
  if (verdict.give_up && !give_up_payload(d, bytes, packet, verdict.usable)) return false;
  if (verdict.suspect) return recover(d, at, place.length, &verdict);
  if (packet->repaired) packet_repaired(d);
  return step_over(d, place.length, available);
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
    report_error(d->report, 0, "Error: Input file ends inside the ASF Data Object; demux stopped early.\n");
  }
  if (d->interrupted) report_error(d->report, 0, "Error: Interrupted; demux stopped early.\n");
  if (!d->write_failed) {
    uint32_t written = 0;
    bool ok = platform_write(d->output, kEndOfSequenceCode, sizeof kEndOfSequenceCode, &written);
    d->counters->bytes_written += written;
    if (!ok) {
      report_error(d->report, 0, "Error writing output file %s: %s", d->settings->output_path,
                   system_error_text(d->report));
      d->write_failed = 1;
    }
  }
  DemuxCounters* c = d->counters;
  bool damaged = c->damaged_packets != 0 || c->dropped_frames != 0;
  if (damaged) {
    report_error(d->report, 0,
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
uint32_t first_buffer_size(Report* report, const DemuxSettings* settings) {
  uint32_t size = settings->max_object_size;
  if (size == 0) {
    report_warning(report, 2, "Warning: no max object size for stream %d; using default\n",
                   static_cast<int>(settings->stream_number));
    return kDefaultFrameBufferSize;
  }
  if (size > kDefaultFrameBufferSize) {
    report_warning(report, 2, "Warning: max object size for stream %d too large; using default\n",
                   static_cast<int>(settings->stream_number));
    return kDefaultFrameBufferSize;
  }
  return size;
}

// Walks the packets from the reader's position on, with the progress line up to `end`.
void walk_packets(Demux* d, uint64_t end) {
  FileReader* reader = d->reader;
  // The progress line costs the walk one comparison a packet; its clock is read only
  // every kProgressStep bytes.
  d->progress_at =
      report_progress_begin(d->report, reader->position, end) ? reader->position + kProgressStep : kNoDataEnd;
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
      report_progress(d->report, reader->position);
      d->progress_at = reader->position + kProgressStep;
    }
  }
  report_progress_end(d->report);
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

void demux_report_bad_packet_size(Report* report, uint32_t size) {
  report_error(report, 0,
               "Error: Maximum Data Packet Size of %u bytes cannot frame data packets; nothing converted.\n",
               size);
}

DemuxResult demux_data_object(const DemuxSettings* settings, DemuxOutputs* outputs,
                              const DataObjectInfo* info, FileReader* reader, DemuxCounters* counters) {
  Report* report = outputs->report;
  std::memset(counters, 0, sizeof *counters);
  if (!demux_packet_size_ok(settings->packet_size)) {
    demux_report_bad_packet_size(report, settings->packet_size);
    return kDemuxBadPacketSize;
  }
  print_at_level(report, 2, "\nFound ASF_Data_Object\n");
  if (!info->cut) {
    print_at_level(report, 2, "-- len = %" PRIu64 " bytes; contains %" PRIu64 " data packets\n",
                   info->object_size, info->total_packets);
    print_at_level(report, 2, "Starting ASF demux / VC-1 write...\n\n");
  }
  Demux* d = static_cast<Demux*>(std::calloc(1, sizeof(Demux)));
  if (d == nullptr) return kDemuxNoMemory;
  if (!assembler_init(&d->assembler, first_buffer_size(report, settings))) {
    std::free(d);
    return kDemuxNoMemory;
  }
  d->settings = settings;
  d->reader = reader;
  d->outputs = outputs;
  d->report = report;
  d->output = outputs->stream;
  d->counters = counters;
  sink_init(&d->sink);
  demux_display_start(&d->display, outputs);

  bool sized = info->object_size >= kDataObjectHeaderSize && !settings->walk_to_end;
  uint64_t data_end = sized ? reader->position + (info->object_size - kDataObjectHeaderSize) : kNoDataEnd;
  framing_init(&d->framing, settings->packet_size, settings->known_streams, settings->stream_number,
               data_end);
  if (info->cut) {
    d->truncated = 1;
  } else {
    walk_packets(d, data_end != kNoDataEnd ? data_end : reader->file_size);
  }
  DemuxResult result = finish(d);
  assembler_release(&d->assembler);
  std::free(d);
  return result;
}
