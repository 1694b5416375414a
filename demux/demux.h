// ASF demux and elementary-stream writer: walks the Data Object's packets, puts the chosen
// stream's media objects together and writes them as a VC-1 elementary stream, with the
// frame report and the summary on the console.
//
// The work goes one way, in stages that hand their results down and never call back up:
//
//   packet walker   one data packet, inside its bounds -> its payloads (demux_packet.cc)
//   packet framing  the bytes where a packet should stand -> where it stands, its usable
//                   payloads, the damaged span; the look-ahead (demux_frame.cc)
//   assembler       the chosen stream's pieces -> complete media objects (demux_objects.cc)
//   frame sink      headers, start code and pieces -> gathered writes (demux_sink.cc)
//   reporter        frames written -> table or listing, counters, summary (demux_display.cc)
//
// demux_walk.cc drives them: it brings the packets' bytes from the reader and, before the
// reader's window moves, has the sink write what is complete and the assembler copy out
// the pieces it still holds. A damaged packet, lost or inserted bytes, or a media object that cannot
// be completed cost only the frames they touch: every frame written is intact, and the
// run says what was lost.
#ifndef TARVEL_DEMUX_DEMUX_H_
#define TARVEL_DEMUX_DEMUX_H_

#include <cstdint>

#include "io/file_reader.h"
#include "platform/platform.h"
#include "vc1/header_buffer.h"

struct BitrateCheck;
struct JsonWriter;
struct Report;

// How a demux run ended. Only kDemuxCompleted is a success.
enum DemuxResult {
  kDemuxCompleted = 0,      // the Data Object was walked to its end and nothing was lost
  kDemuxDamaged = 1,        // walked to its end, but damaged packets or dropped frames were met
  kDemuxTruncated = 2,      // the input ends inside the Data Object
  kDemuxWriteFailed = 3,    // a write to the output failed; the walk stopped there
  kDemuxNoMemory = 4,       // the frame buffer could not be had: nothing read or written
  kDemuxInterrupted = 5,    // stopped on request at a frame boundary; the stream is closed
  kDemuxBadPacketSize = 6,  // the packet size cannot frame packets: nothing read or written
};

constexpr int kMaxStreamNumbers = 128;  // ASF stream numbers 1..127
constexpr int kPictureTypeCount = 14;
constexpr int kPictureUnclassified = 0;

// Data packets smaller than the smallest packet header cannot be framed; larger than this
// are not held (real files use a few KiB, rarely more than 64 KiB).
constexpr uint32_t kMinPacketSize = 8;
constexpr uint32_t kMaxPacketSize = 16u << 20;

inline bool demux_packet_size_ok(uint32_t size) { return size >= kMinPacketSize && size <= kMaxPacketSize; }

// Says why a packet size cannot be used (level 0); nothing can be converted.
void demux_report_bad_packet_size(Report* report, uint32_t size);

// The timestamps file, written as the demux goes: "# timestamp format v2", then one line
// per frame of the elementary stream, its presentation time less the preroll in
// milliseconds, ascending (a muxer hands them to the frames in presentation order).
// Times come in decode order, where a B-frame follows the frame shown after it: the last
// kTimestampWindow times are held, and the smallest is written as each new one comes, so
// memory stays the same for any length. A time below one already written went back
// further than reordering does: that is damage, warned about and written as the last time
// written, so that the file stays sorted. A muxer takes no time below zero: when the
// earliest time of the file (the video's first ones, or another stream's first payloads,
// such as the audio's) lies before the preroll, every time is moved up by as much, which
// keeps the video in step with the audio as a copy of it starts, and a warning says so.
constexpr uint32_t kTimestampWindow = 16;
constexpr uint32_t kTimestampBufferBytes = 16384;

struct FrameTimes {
  Report* report;  // where its warnings and errors go
  PlatformFile file;
  const char* path;  // named in the messages
  uint64_t preroll;
  uint32_t held[kTimestampWindow + 1];  // times not written yet, ascending
  uint32_t held_count;
  uint32_t frames;         // frames whose time was given
  uint32_t started;        // the first line of a time was written: `shift` is settled
  int64_t shift;           // added to every time less the preroll
  int64_t last;            // the last time written
  uint32_t other_seen;     // a payload of another stream was met, the earliest at:
  int64_t earliest_other;  // its presentation time less the preroll
  uint32_t failed;         // a write failed (said once): nothing more is written
  uint32_t used;           // bytes in `buffer`
  char buffer[kTimestampBufferBytes];
};

// Starts the file `file` (named `path` in messages to `report`) with its first line.
void frame_times_start(FrameTimes* times, Report* report, PlatformFile file, const char* path,
                       uint64_t preroll);
// A frame written to the stream, with its presentation time in milliseconds.
void frame_times_add(FrameTimes* times, uint32_t time_ms);
// A payload of another stream, with its presentation time.
void frame_times_note_other(FrameTimes* times, uint32_t time_ms);
// Writes what is held. True when the whole file was written; false after saying why.
bool frame_times_finish(FrameTimes* times);

// A presentation time less the preroll, in milliseconds: what the listing, the document
// and the timestamps file show for a frame. The preroll field holds 64 bits; one beyond
// any real preroll is held at 2^62, so that the difference is exact and the same wherever
// it is shown.
constexpr uint64_t kLargestPreroll = uint64_t{1} << 62;
inline int64_t time_less_preroll(uint32_t time_ms, uint64_t preroll) {
  uint64_t held = preroll < kLargestPreroll ? preroll : kLargestPreroll;
  return static_cast<int64_t>(time_ms) - static_cast<int64_t>(held);
}

// What the header and the conversion course hand the demux.
struct DemuxSettings {
  uint32_t stream_number;       // the chosen stream, 1..127
  uint32_t packet_size;         // Maximum Data Packet Size: packet k is bytes [k*P, (k+1)*P)
  uint32_t walk_to_end;         // the Data Object's size is not valid: walk to the input's end
  uint32_t max_object_size;     // Extended Stream Properties Maximum Object Size; 0 unknown
  uint64_t avg_time_per_frame;  // 100-ns units; 0 unknown (the listing's nominal times)
  uint32_t interlaced;          // the sequence header's INTERLACE
  uint32_t seq_header_once;     // -nseq: later key frames get the entry-point header alone
  // The streams the header describes, a bit per stream number: a payload of any other
  // number is damage (bytes that only look like a payload header).
  uint32_t known_streams[kMaxStreamNumbers / 32];
  HeaderBuffer output_headers;       // sequence + entry-point header, as rebuilt
  HeaderBuffer entry_point_headers;  // entry-point header alone, as rebuilt
  uint64_t preroll;                  // File Properties Preroll, ms: the document's frame times start there
  const char* output_path;           // named in messages about the output
};

// Where the demux's work goes, beside the settings: everything it writes.
struct DemuxOutputs {
  Report* report;           // the run's report: the frame report, the summary, the messages
  PlatformFile stream;      // the elementary stream
  FrameTimes* frame_times;  // the timestamps file, given each written frame's time; null: none
  JsonWriter* json;         // the run's JSON document (--json); null without one
  BitrateCheck* bitrate;    // the bitrate figures, given each written frame; null: none
};

inline void demux_know_stream(DemuxSettings* settings, uint32_t number) {
  if (number != 0 && number < static_cast<uint32_t>(kMaxStreamNumbers)) {
    settings->known_streams[number / 32] |= 1u << (number % 32);
  }
}

// What the demux counts; zeroed when it starts.
struct DemuxCounters {
  uint32_t frame_type_counts[kPictureTypeCount];  // frames written per picture type
  uint32_t frames_written;
  uint64_t bytes_written;      // headers, start codes, frames and the end-of-sequence code
  uint32_t keyframe_distance;  // frames since the last key-flagged frame
  uint32_t max_keyframe_distance;
  uint64_t damaged_packets;  // packets (or packet-sized stretches) that could not be used whole
  uint32_t dropped_frames;   // media objects of the chosen stream met but not written
};

// The Data Object's fixed header, found where the Header Object ends.
struct DataObjectInfo {
  uint64_t object_size;    // as declared (below 50 when not valid)
  uint64_t total_packets;  // as declared
  uint32_t cut;            // the object's own header is cut short by the end of the input
};

// Reads the Data Object's 50-byte header from the reader, which stands where the Header
// Object ends. Returns false, having consumed what it read, when the input holds no Data
// Object there (other bytes, or fewer than its 16-byte GUID). A GUID followed by less than
// the rest of the header is a Data Object cut short: true, with info->cut set. Prints
// nothing.
bool demux_find_data_object(FileReader* reader, DataObjectInfo* info);

// A look at the first packets for what the header does not say (demux_probe.cc).
constexpr uint32_t kProbeBytes = 4u << 20;           // the packets looked at: at most this many bytes
constexpr uint32_t kNoParSystem = 0xFFFFFFFFu;       // the stream has no Pixel Aspect Ratio extension
constexpr uint32_t kVariableExtensionSize = 0xFFFF;  // an extension whose data gives its own length
constexpr uint32_t kMaxProbedExtensions = 8;

struct ProbeRequest {
  uint32_t stream_number;
  uint32_t packet_size;
  uint64_t data_bytes;            // bytes of packets the Data Object declares; 0: not known
  const uint32_t* known_streams;  // as in DemuxSettings
  uint32_t want_headers;          // the codec data holds no sequence header
  // The stream's payload extension systems up to the Pixel Aspect Ratio one: index
  // par_system (kNoParSystem: none), the data size of each (kVariableExtensionSize: given by
  // the data).
  uint32_t par_system;
  uint32_t system_sizes[kMaxProbedExtensions];
};

struct StreamProbe {
  // The stream's first in-band sequence header and what follows it up to its frame's start
  // code (the entry-point header); count 0 when none was met.
  HeaderBuffer inband_headers;
  uint32_t par_x;  // the first payload's Pixel Aspect Ratio extension; 0 when none
  uint32_t par_y;
};

// Looks at the packets in the first kProbeBytes of the packet area, from the reader's
// position, without consuming them.
void demux_probe_stream(const ProbeRequest* request, FileReader* reader, StreamProbe* out);

// Prints the Data Object, walks its packets from the reader (standing at the first
// packet), writes the elementary stream to the outputs' stream and prints the frame report
// and the summary. Returns how the walk ended; the counters hold what was written and lost.
DemuxResult demux_data_object(const DemuxSettings* settings, DemuxOutputs* outputs,
                              const DataObjectInfo* info, FileReader* reader, DemuxCounters* counters);

// Picture type 1..13 of a frame from its first byte (the picture header's first byte).
int classify_picture_type(uint8_t first_byte, uint32_t interlaced);

// Whether a picture type is a key frame's: I, or a field pair whose first field is I.
bool picture_type_is_key(int picture_type);

// The five-character name and the table character of a picture type 0..13.
const char* picture_type_name(int picture_type);
char picture_type_char(int picture_type);

#endif  // TARVEL_DEMUX_DEMUX_H_
