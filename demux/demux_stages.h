// The demux's stages, for the walk that drives them (and for tests): the packet walker,
// the packet framing, the object assembler, the frame sink and the reporter. Each takes
// what the stage before it produced and returns what it made; none calls another, but the
// framing asks the assembler, without changing it, which objects it met already.
#ifndef TARVEL_DEMUX_DEMUX_STAGES_H_
#define TARVEL_DEMUX_DEMUX_STAGES_H_

#include <cstdint>

#include "demux/demux.h"
#include "io/file_reader.h"
#include "platform/platform.h"

// ---- Packet walker ---------------------------------------------------------------------

constexpr uint32_t kMaxPacketPayloads = 63;  // the Payload Flags' 6-bit count

// One payload of a data packet, decoded where it lies. Positions are offsets from the
// packet's first byte, so that a decoded packet stays valid when its bytes move.
struct PacketPayload {
  uint32_t stream_number;  // 1..127
  uint32_t foreign;        // names a stream the header does not describe (a repaired packet)
  uint32_t key_frame;
  uint32_t object_number;
  uint32_t number_width;       // bytes of the Media Object Number field; 0: absent
  uint32_t offset;             // Offset Into Media Object (a compressed payload: its time)
  uint32_t has_offset;         // the Offset field is present
  uint32_t object_size;        // Media Object Size (a compressed payload: 0)
  uint32_t presentation_time;  // milliseconds
  uint32_t compressed;         // a run of sub-payloads, each a whole object
  uint32_t time_delta;         // compressed: milliseconds from one sub-payload to the next
  uint32_t extension_offset;   // replicated data behind the object's size and time: the payload
  uint32_t extension_length;   // extension systems' data, where the stream has any
  uint32_t data_offset;        // where the payload's data starts in the packet
  uint32_t length;             // bytes of payload data
};

enum PacketStatus {
  kPacketWhole = 0,    // every field and payload lies inside the packet
  kPacketDamaged = 1,  // a field, payload or padding does not fit, or names no known stream
  kPacketCut = 2,      // the bytes given end before the packet does (the input ended)
};

struct ParsedPacket {
  PacketStatus status;
  uint32_t header_read;      // the fields before the first payload were read and fit
  uint32_t payloads_offset;  // where the first payload starts (when header_read)
  uint32_t payload_count;    // payloads decoded whole, in order: they precede any damage
  // Damaged or cut inside payload `payload_count`: its stream (a known one), object number
  // and offset were read, and stand in payloads[payload_count].
  uint32_t failed_payload_opened;
  // A field disagreed, yet the payloads around it can be used: a payload names a stream
  // the header does not describe (it is marked foreign) where the payload behind it parses,
  // or the payload count goes on past payloads that fill the packet exactly. A whole
  // packet so repaired is filled by its payloads to its padding, which tells that their
  // lengths are right.
  uint32_t repaired;
  uint8_t opening[4];       // the packet's first bytes that every packet of a file shares:
  uint32_t opening_length;  // error correction bytes (if any) and the Property Flags
  PacketPayload payloads[kMaxPacketPayloads];
};

// Decodes the data packet in bytes[0, available), a packet of packet_size bytes of which
// `available` (<= packet_size) are given. A payload of a stream not set in known_streams
// (see DemuxSettings) makes the packet damaged from it on, unless it is passed over (see
// ParsedPacket::repaired). Returns the status, also kept in out->status.
PacketStatus demux_parse_packet(const uint8_t* bytes, uint32_t available, uint32_t packet_size,
                                const uint32_t* known_streams, ParsedPacket* out);

// ---- Packet framing --------------------------------------------------------------------
//
// Packet k stands at bytes [k*P, (k+1)*P) of the packet area whatever its contents say.
// The framing decides, from the bytes at the place where a packet should start, whether
// one stands there, which of its payloads can be used and where damage lies. A packet
// whose fields do not fit is damaged: the payloads before the damage are used but for the
// last of them, whose data runs up to where the damage was met. Bytes lost or inserted
// move every later packet: when the bytes where a packet should start are no packet, the
// walk seeks forward for the next offset where one starts (with the opening bytes every
// packet of the file shares, and the packet behind it starting well too). For the same
// reason a packet's last payload is used only when the packet behind it starts well: the
// damage that spoils the next packet's start may have begun inside this payload's data.
//
// The functions named for a question (framing_place, framing_starts_well, framing_verdict
// and the lengths) change nothing; those named for a deed (framing_decode_packet,
// framing_decode_next, framing_extend_end, framing_seek, framing_learn_opening) change the
// look-ahead, the packets' end or the opening, as their comments say. None reads input:
// the walk brings the bytes and hands them over.

constexpr uint64_t kNoDataEnd = UINT64_MAX;  // the packets end at the input's end
// A tail of the Data Object this short holds no packet and is not walked.
constexpr uint64_t kMinTailBytes = 32;

struct ObjectAssembler;

struct PacketFraming {
  uint32_t packet_size;
  const uint32_t* known_streams;  // as in DemuxSettings
  uint32_t stream_number;         // the chosen stream: its objects tell a packet repeated
  uint64_t data_end;              // input offset where the packets end; kNoDataEnd: the input's end
  uint8_t opening[4];             // the opening bytes of the file's packets, once a packet was used
  uint32_t opening_length;
  // The look-ahead: the packet at the walk's position and the one behind it, decoded. The
  // one behind, packets[ahead_slot], is kept for the next step when it was decoded whole
  // from input offset ahead_at (ahead_kept).
  ParsedPacket packets[2];
  uint32_t ahead_slot;
  uint64_t ahead_at;
  uint32_t ahead_kept;
};

void framing_init(PacketFraming* framing, uint32_t packet_size, const uint32_t* known_streams,
                  uint32_t stream_number, uint64_t data_end);

// Bytes of the packet that starts at input offset `at`: the packet size, less where the
// packets end.
uint32_t framing_packet_length(const PacketFraming* framing, uint64_t at);

// Bytes to bring for the packet at `at`: the packet and the next one's start, to see that it
// starts well (up to where the packets end).
uint32_t framing_look_length(const PacketFraming* framing, uint64_t at);

// Whether the packet at `at` or the one behind it reaches the packets' declared end or
// crosses it: then framing_extend_end must see what stands behind.
bool framing_near_end(const PacketFraming* framing, uint64_t at);

// Whether the packets end at `at`: the Data Object's end, a tail too short for a packet,
// the input's end (available 0) when the Data Object's size is not known, or an index
// object where a packet should stand.
bool framing_packets_end_at(const PacketFraming* framing, uint64_t at, const uint8_t* bytes,
                            uint32_t available);

// Where the packet at `at` stands, its bytes at `bytes`, `available` of them given.
struct PacketPlace {
  uint32_t length;        // its bytes: the last packet ends where an index object starts inside it
  uint32_t index_inside;  // bytes were lost inside the last packet: it holds an index object's start
  uint32_t packets_end;   // no packet stands there: the packets are over (framing_packets_end_at)
};
PacketPlace framing_place(const PacketFraming* framing, uint64_t at, const uint8_t* bytes,
                          uint32_t available);

// Decodes the packet `place` describes into the look-ahead (its current slot), or takes
// the one decoded whole ahead in the step before. A packet cut short by the declared end is
// decoded at its full size when its payloads all lie before that end (bytes inserted into
// its padding, or moved across the end). The look-ahead is not kept past it.
const ParsedPacket* framing_decode_packet(PacketFraming* framing, uint64_t at, const uint8_t* bytes,
                                          uint32_t available, const PacketPlace* place);

// Whether a decoded packet starts well: its header and its first payload (if it has any)
// fit, or the input ends before any damage shows. A header that declares no payload is
// little evidence (a few bytes of frame data can read as one), so it must also open the
// way the file's packets do.
bool framing_starts_well(const PacketFraming* framing, const ParsedPacket* packet, const uint8_t* bytes,
                         uint32_t available);

// The packet behind a whole one: null when it is not there to look at, or the packets end.
struct NextPacket {
  const ParsedPacket* packet;
  uint32_t starts_well;  // 1 also when there is none
};

// Decodes the packet behind `packet` (at `at`, `length` bytes) into the look-ahead, kept
// for the next step when it starts well and all its bytes were given.
NextPacket framing_decode_next(PacketFraming* framing, uint64_t at, const uint8_t* bytes, uint32_t available,
                               const ParsedPacket* packet, uint32_t length);

// What the walk does with a packet that starts well.
struct PacketVerdict {
  uint32_t usable;   // payloads handed on, from the first
  uint32_t give_up;  // payload `usable` is given up: damage may lie in it, or its bytes come again
  uint32_t suspect;  // damage inside the packet or behind it: the walk seeks the next packet
  uint32_t resume;   // where that search begins: behind the last usable payload
  uint32_t spoilt;   // the packet's own bytes are damaged or were repaired: the damage begins at it
};

// The payload in front of damage may hold its first bytes: a packet damaged inside, or
// followed by a packet that does not start well, gives up its last payload unless what
// follows shows that it ends where it should. A packet followed by one that goes back
// behind its last payload gives that payload up (it comes again with the repeat); a packet
// that only brings again objects the assembler met is passed over whole.
PacketVerdict framing_verdict(const PacketFraming* framing, const ParsedPacket* packet, NextPacket next,
                              const ObjectAssembler* assembler);

// Where the damage behind a suspect packet at `at` (`length` bytes) begins, when the seek
// found its feet at `found`: at the packet, unless it was whole and the damage lies behind.
inline uint64_t framing_damage_from(const PacketVerdict* verdict, uint64_t at, uint32_t length,
                                    uint64_t found) {
  return verdict->spoilt || found < at + length ? at : at + length;
}

// The packets damage from `from` to `to` spans, counted by their size: at least one.
uint64_t framing_packets_spanned(const PacketFraming* framing, uint64_t from, uint64_t to);

// Remembers the opening bytes of the first packet used: later packets open the same way.
void framing_learn_opening(PacketFraming* framing, const ParsedPacket* packet);

// Near the declared end (framing_near_end), with the next two packets' bytes: packets that
// stand across the declared end move it behind them, and a whole packet where the packets
// should have ended moves it to the input's end. `input_end`: the bytes given reach the
// input's end. The look-ahead is not kept. True when the packets now end behind the
// declared end.
bool framing_extend_end(PacketFraming* framing, uint64_t at, const uint8_t* bytes, uint32_t available,
                        bool input_end);

// One window of a search forward for the next offset where a packet can be framed, or
// where the packets end: from bytes[first] on (the window starts at input offset `at`),
// while a whole packet and the next one's start are there to look at (to the window's end
// once the input ended: `ended` is the reader's state). A packet that only starts well is
// taken where the framing from `framed_at`, the last packet's start, puts one. Uses the
// look-ahead as scratch.
struct SeekStep {
  uint32_t skipped;  // bytes passed over: the place found, or where the window's search ended
  uint32_t found;    // a packet, or the packets' end, stands there
};
SeekStep framing_seek(PacketFraming* framing, uint64_t at, const uint8_t* bytes, uint32_t available,
                      uint32_t first, uint64_t framed_at, ReaderEnd ended);

// ---- Object assembler ------------------------------------------------------------------

// The values a Media Object Number of `width` bytes can hold, as a mask: numbers count
// up by one per object and wrap around at its width.
inline uint32_t object_number_mask(uint32_t width) {
  return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
}

// Objects of the stream are put together by number inside a window of this many numbers:
// an object still open that far behind the newest one is given up, and numbers passed
// over are waited for that long (a packet moved by a place or two brings them late).
constexpr uint32_t kRepeatWindow = 16;

// How far `number` lies behind `reference` in the count of `width`-byte numbers, which
// wraps: 0 for the same number.
inline uint32_t number_behind(uint32_t number, uint32_t reference, uint32_t width) {
  return (reference - number) & object_number_mask(width);
}

// Whether `number` lies behind `reference`, by kRepeatWindow numbers at most.
inline bool in_repeat_window(uint32_t number, uint32_t reference, uint32_t width) {
  uint32_t back = number_behind(number, reference, width);
  return back != 0 && back <= kRepeatWindow;
}

// Whether bytes [a, a + a_length) and [b, b + b_length) of one object overlap.
inline bool ranges_overlap(uint32_t a, uint32_t a_length, uint32_t b, uint32_t b_length) {
  return a < uint64_t{b} + b_length && b < uint64_t{a} + a_length;
}

constexpr uint32_t kBatchPieces = 1024;  // pieces of output held before a gathered write
// The pieces one media object may be held in before they are gathered into the frame
// buffer: a complete object goes into the batch with its headers and start code.
constexpr uint32_t kMaxObjectPieces = kBatchPieces - 4;
constexpr uint32_t kDefaultFrameBufferSize = 0x80000;        // 512 KiB
constexpr uint32_t kMaxFrameBufferSize = 64u * 1024 * 1024;  // largest object held

// A piece of a media object: `length` bytes of it at `offset`, lying at `bytes`.
struct ObjectPiece {
  const uint8_t* bytes;
  uint32_t offset;
  uint32_t length;
};

// One payload's worth of a media object, as the walk hands it to the assembler.
struct MediaPiece {
  uint32_t object_number;
  uint32_t number_width;  // 0: the payload carries no number (arrival order)
  uint32_t offset;
  uint32_t has_offset;  // 0: the piece follows the bytes held so far
  uint32_t object_size;
  uint32_t key_frame;
  uint32_t presentation_time;
  const uint8_t* bytes;
  uint32_t length;
  uint32_t spoilt;  // the piece ran into damage: its object cannot be completed
};

// The piece a (not compressed) payload of the packet at `packet_bytes` holds.
inline MediaPiece media_piece(const PacketPayload& p, const uint8_t* packet_bytes) {
  return MediaPiece{p.object_number,
                    p.number_width,
                    p.offset,
                    p.has_offset,
                    p.object_size,
                    p.key_frame,
                    p.presentation_time,
                    packet_bytes + p.data_offset,
                    p.length,
                    0};
}

constexpr uint32_t kOpenObjects = kRepeatWindow;  // objects of the stream in progress at once
static_assert(kOpenObjects <= 31, "the assembler keeps its open objects in a 32-bit mask");
constexpr uint32_t kEndedMemory = 1024;      // objects remembered as ended, by number
constexpr uint32_t kLargestCountGap = 1024;  // a number further ahead starts a new count: nothing lost

// One object of the chosen stream in progress: its pieces sorted by offset, none
// overlapping.
struct OpenObject {
  uint32_t active;
  uint32_t number;
  uint32_t number_width;  // 0: its pieces carry no number (arrival order)
  uint32_t size;
  uint32_t held;  // bytes held: the object is complete when held == size
  uint32_t key_frame;
  uint32_t presentation_time;
  uint32_t too_large;  // larger than the frame buffer can be: counted, not kept
  uint32_t previous;   // the number opened before it (have_previous): the number it should have
  uint32_t have_previous;
  uint64_t opened;    // when it was opened, counted in objects: the oldest is given up first
  uint32_t complete;  // every byte is held: it waits to be written in the numbers' order
  ObjectPiece pieces[kMaxObjectPieces];
  uint32_t piece_count;
  uint8_t* frame_buffer;  // owned; null until the object needs one
  uint32_t buffer_size;
};

// An object that ended (written or dropped), or a number passed over behind damage,
// remembered so that its pieces met again, however much later, are repeats and not new
// frames: a written object by its number, size and time, a dropped or lost one by its
// number alone for a while. Slot number % kEndedMemory: the memory stays the same whatever
// the file's length.
enum EndedState : uint32_t { kNotEnded = 0, kEndedObject = 1, kEndedByNumber = 2 };
struct EndedObject {
  uint32_t state;
  uint32_t number;
  uint32_t number_width;
  uint32_t size;  // kEndedObject: a piece repeats it when its size and time agree
  uint32_t presentation_time;
  uint64_t until;  // kEndedByNumber: stands until this many objects were opened
};

struct ObjectAssembler {
  OpenObject objects[kOpenObjects];
  uint32_t open_mask;  // bit i: objects[i] is active (the loops visit these alone)
  uint32_t newest;     // the object the last piece went to: pieces without a number follow it
  uint32_t completed;  // the complete object assembler_next chose to be written
  uint64_t opened;     // objects opened so far
  uint32_t have_last;  // the furthest number opened so far, and its width
  uint32_t last_number;
  uint32_t last_width;
  // Numbers passed over that may still come (a packet moved): bit i stands for
  // last_number - 1 - i, up to kRepeatWindow behind.
  uint32_t missing;
  // Set when damage was met (by the walk, or by an object dropped): the numbers the next
  // object skips were objects lost with it. Numbers are not relied on otherwise, as a file
  // may not count its objects one by one.
  uint32_t count_gap;
  EndedObject ended[kEndedMemory];
};

// What taking a piece did: objects dropped, a new object too large to hold (it is skipped:
// a dropped frame too), numbers given up as lost, an object complete (its pieces stay in
// the assembler until assembler_finish).
enum AssemblerEvent : uint32_t {
  kAssemblerTooLarge = 2,  // a new object is too large to hold: it will be skipped
  kAssemblerComplete = 4,  // an object is complete: assembler_next says when to write it
};

struct AssemblerResult {
  uint32_t events;
  uint32_t too_large_size;
  uint32_t dropped_count;  // objects met that could not complete, by number
  uint32_t dropped_numbers[kOpenObjects + 1];
  // Objects never met, lost with damage: numbers lost_first .. lost_first + lost_run - 1,
  // and lost_top - 1 - i for each bit i of lost_bits.
  uint32_t lost_first;
  uint32_t lost_run;
  uint32_t lost_top;
  uint32_t lost_bits;
  uint32_t lost_mask;  // the numbers' mask
};

// Sets the assembler up with a frame buffer of buffer_size bytes for its first object.
// False when it cannot be had.
bool assembler_init(ObjectAssembler* assembler, uint32_t buffer_size);
void assembler_release(ObjectAssembler* assembler);

// True when one more piece can be taken without gathering first.
bool assembler_has_room(const ObjectAssembler* assembler);

// Places one piece of the chosen stream: in the open object of its number at its offset,
// bytes held already taken once; a piece whose number disagrees but whose offset, size and
// time continue the object opened last exactly joins it. A piece of an object that ended
// is a repeat and ignored. Otherwise it opens an object: open objects too far behind it,
// or the oldest when all are in use, are dropped. A spoilt piece drops its object.
AssemblerResult assembler_take(ObjectAssembler* assembler, const MediaPiece* piece);

// Whether a piece's number is in line with what the assembler holds: an object in
// progress, the one after the furthest opened, or any number before the first. A payload
// given up at damage whose header is not in line is taken for damage.
bool assembler_in_line(const ObjectAssembler* assembler, const MediaPiece* piece);

// Whether a piece's bytes were met already: an open object of its number holds bytes where
// it lies, or (none is open) its object ended. Changes nothing.
bool assembler_met(const ObjectAssembler* assembler, const MediaPiece* piece);

// Copies every held piece that does not lie in its object's frame buffer into it, at its
// offset, so that nothing held points into the reader's window. Call only when no frame of
// the sink's batch lies in a frame buffer (right after a flush). False when an object's
// buffer cannot grow to its size: that object is then dropped as too large, its size in
// *dropped_size; call again for the others.
bool assembler_gather(ObjectAssembler* assembler, uint32_t* dropped_size);

// The walk is over: every open object that is not complete ends unwritten (too large ones
// are counted already) and the numbers still awaited are lost; the result names them.
// Complete objects stay, to be written (assembler_next forced).
AssemblerResult assembler_abandon(ObjectAssembler* assembler);

// Whether a complete object is to be written now, which assembler_completed then names:
// the complete object first in the numbers' order, once nothing that should come before it
// is on its way (an object in progress with a number before it, or a number awaited behind
// damage); without such evidence objects go out as they complete, since a damaged number
// must not hold the stream up. With `force` (no more pieces are coming, or no place is
// left), the first complete object whatever is on its way: that is given up, and `result`
// names it.
bool assembler_next(ObjectAssembler* assembler, bool force, AssemblerResult* result);

// Whether the piece would open an object while every place holds one and one of them is
// complete, waiting for the numbers before it: that one must be written first (with
// assembler_next forced) to make room.
bool assembler_must_write(const ObjectAssembler* assembler, const MediaPiece* piece);

// The complete object chosen by assembler_next, for the sink.
inline const OpenObject* assembler_completed(const ObjectAssembler* assembler) {
  return &assembler->objects[assembler->completed];
}

// After the complete object was handed to the sink: forget it, and remember it as the
// object written last.
void assembler_finish(ObjectAssembler* assembler);

// ---- Frame sink ------------------------------------------------------------------------

constexpr uint32_t kBatchFrames = kBatchPieces / 2;  // every frame takes two pieces at least
constexpr uint32_t kBatchFlushBytes = 0x80000;       // 512 KiB of complete frames are written
constexpr uint32_t kMaxWriteBytes = 0xF0000;         // 960 KiB: larger batches take more writes

// A frame as the report shows it.
struct FrameRecord {
  uint32_t bytes;        // headers, start code and frame bytes
  uint32_t object_size;  // the frame's bytes
  uint32_t key_frame;
  int picture_type;
  uint32_t presentation_time;  // milliseconds
};

// How a complete frame's bytes begin (demux_opening.cc). Frames stored the ASF way begin
// with the picture header. Frames taken from an elementary stream by other writers begin
// with their own start code, and key frames may carry the sequence and entry-point headers
// (and their user data) in front of the frame start code.
struct FrameOpening {
  uint32_t own_start_code;  // the bytes begin with a start code: no frame start code is added
  uint32_t header_bytes;    // bytes of in-band headers at the start: the rebuilt ones replace them
  uint32_t inband_headers;  // an in-band sequence or entry-point header is among them
  uint32_t has_picture;     // a picture header follows (the frame start code, when it has one)
  uint8_t picture_byte;     // its first byte, which gives the picture type
};

// Reads the opening of a complete object held in `pieces` (sorted by offset, contiguous,
// `size` bytes in all).
FrameOpening frame_opening(const ObjectPiece* pieces, uint32_t count, uint32_t size);

// Whether headers go before the frame: the ASF key frame flag for frames stored the ASF way;
// for frames that carry their own start code, in-band headers, or the flag on an intra
// picture (I, I/I or I/P).
bool frame_is_key(uint32_t key_flag, const FrameOpening* opening, int picture_type);

struct FrameSink {
  PlatformPiece pieces[kBatchPieces];
  uint32_t piece_count;
  FrameRecord frames[kBatchFrames];
  uint32_t frame_count;
  uint64_t batch_bytes;
  uint32_t frames_put;  // frames put into the stream so far: the first gets the sequence header
};

void sink_init(FrameSink* sink);

// True when a frame of `pieces` object pieces fits in the batch as it is.
inline bool sink_has_room(const FrameSink* sink, uint32_t pieces) {
  return sink->piece_count + pieces + 2 <= kBatchPieces && sink->frame_count < kBatchFrames;
}

// True when the batch is worth writing now.
inline bool sink_should_flush(const FrameSink* sink) {
  return sink->batch_bytes >= kBatchFlushBytes || sink->piece_count + 4 > kBatchPieces ||
         sink->frame_count == kBatchFrames;
}

// Puts a complete object into the batch (sink_has_room must hold): the headers before a key
// frame, the frame start code unless the object has its own, the pieces but for the in-band
// headers the opening counts. Fills in frame->bytes.
void sink_put(FrameSink* sink, const DemuxSettings* settings, FrameRecord* frame, const FrameOpening* opening,
              const ObjectPiece* pieces, uint32_t count);

// What a flush wrote.
struct SinkFlush {
  bool ok;                // every byte of the batch was written
  int error;              // the platform error of a failed write
  uint32_t frames_whole;  // frames of the batch written whole, from its first on
  uint64_t written;       // bytes written
};

// Writes the batch and empties it; sink->frames[0, frames_whole) are the frames written.
SinkFlush sink_flush(FrameSink* sink, PlatformFile output);

// ---- Reporter --------------------------------------------------------------------------

constexpr uint32_t kFrameLineLength = 64;  // frames per char-per-frame line

struct DemuxDisplay {
  char frame_line[kFrameLineLength + 1];  // the char-per-frame line, zero-terminated
  DemuxOutputs* outputs;                  // where the frames are shown and their times written
  JsonWriter* frames;                     // the document's frame list while it is open; else null
};

// Starts the display on the run's outputs. With a JSON document at verbosity 3, opens its
// "frames" list: every frame shown is then one element of it.
void demux_display_start(DemuxDisplay* display, DemuxOutputs* outputs);

// Shows a written frame (char-per-frame line, listing line, document element) and counts it.
void demux_show_frame(DemuxDisplay* display, DemuxCounters* counters, const DemuxSettings* settings,
                      const FrameRecord* frame);

// The last char-per-frame line, "Done.", the per-type summary and the overall summary; with
// a JSON document, the frame list's end and the "summary" member.
void demux_print_summary(const DemuxDisplay* display, const DemuxCounters* counters,
                         const DemuxSettings* settings);

#endif  // TARVEL_DEMUX_DEMUX_STAGES_H_
