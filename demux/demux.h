// ASF demux and elementary-stream writer: walks the Data Object's packets, gathers the
// chosen stream's media objects into frames and writes them as a VC-1 elementary stream,
// with the frame report and the summary on the console.
//
// The walk stops early, without writing anything that did not come from the file, when
// the input ends inside the Data Object, and stops at the first failed write to the
// output. Frames larger than the frame buffer make it grow, up to kMaxFrameBufferSize.
#ifndef TARVEL_DEMUX_DEMUX_H_
#define TARVEL_DEMUX_DEMUX_H_

#include <cstdint>

#include "asf/asf.h"
#include "platform/platform.h"

// How a demux run ended. Only kDemuxCompleted is a success.
enum DemuxResult {
  kDemuxCompleted = 0,     // the Data Object was walked to its end
  kDemuxNoDataObject = 1,  // no Data Object where the Header Object ends: nothing written
  kDemuxTruncated = 2,     // the input ends inside the Data Object
  kDemuxWriteFailed = 3,   // a write to the output failed; the walk stopped there
  kDemuxNoMemory = 4,      // the frame buffer could not be had: nothing read or written
  kDemuxInterrupted = 5,   // stopped on request at a frame boundary; the stream is closed
};

// Reads the Data Object through the record's reader (the file offset must be where the
// Header Object ends), writes the elementary stream to `output` and prints the report.
//
// A file that ends before the Data Object's 16-byte GUID, or holds other bytes there,
// gives kDemuxNoDataObject with nothing printed or written. A GUID followed by less
// than the rest of the 50-byte object header counts as a Data Object cut short: the
// result is kDemuxTruncated, with the end-of-sequence code written and the summary shown.
DemuxResult demux_data_object(AsfStreamRecord* record, PlatformFile output);

constexpr uint32_t kDefaultFrameBufferSize = 0x80000;        // 512 KiB
constexpr uint32_t kMaxFrameBufferSize = 64u * 1024 * 1024;  // largest frame held whole
constexpr uint32_t kFrameLineLength = 64;                    // frames per char-per-frame line
constexpr int kPictureUnclassified = 0;

// The demux's state for one walk.
struct DemuxState {
  uint8_t* frame_buffer;  // owned; buffer_size bytes
  uint32_t buffer_size;
  uint32_t fill;                          // bytes of the current media object stored so far
  uint32_t bytes_left[kMaxStreams];       // per stream: bytes still expected of its object
  uint32_t skipping_object;               // the chosen stream's object is too large: drop it
  uint32_t write_failed;                  // a write failed: nothing more is written
  uint32_t truncated;                     // the input ended inside the Data Object
  uint32_t interrupted;                   // stopped on request between two frames
  char frame_line[kFrameLineLength + 1];  // char-per-frame line, zero-terminated
  uint32_t keyframe_distance;             // frames since the last key-flagged frame
  uint32_t max_keyframe_distance;
};

// Walks packet_bytes bytes of data packets (the Data Object less its header) from the
// record's reader, then finishes the stream. Returns how the walk ended.
DemuxResult demux_packets(uint64_t packet_bytes, AsfStreamRecord* record, PlatformFile output);

// Zeroes the record's frame counters and the state and allocates the frame buffer
// (printing the max-object-size warnings). False when the buffer cannot be had.
bool demux_prepare(AsfStreamRecord* record, DemuxState* state);

// Takes one payload of stream `stream_number` whose data stands next in the reader:
// consumes exactly payload_length bytes, storing the chosen stream's and skipping the
// rest, and writes the frame when its media object is complete. False when a write to
// the output failed (state->write_failed is then set).
bool demux_take_payload(AsfStreamRecord* record, DemuxState* state, PlatformFile output,
                        uint32_t stream_number, uint32_t key_frame, uint32_t object_size,
                        uint32_t payload_length);

// Classifies, shows, counts and writes the stored frame: headers before a key-flagged
// frame, the frame start code, then the stored bytes. False when a write failed.
bool demux_write_frame(AsfStreamRecord* record, DemuxState* state, PlatformFile output, uint32_t key_frame,
                       uint32_t object_size);

// Ends the walk: the truncation note when the input ended early, the end-of-sequence
// code (unless a write failed), the summary; releases the frame buffer.
DemuxResult demux_finish(AsfStreamRecord* record, DemuxState* state, PlatformFile output);

// Picture type 1..13 of a frame from its first byte (the picture header's first byte).
int classify_picture_type(uint8_t first_byte, uint32_t interlaced);

// The five-character name and the table character of a picture type 0..13.
const char* picture_type_name(int picture_type);
char picture_type_char(int picture_type);

// Puts frame number frames_written + 1 into the char-per-frame line (printing and
// clearing a full line first) and prints its listing line at level 3.
void demux_show_frame(DemuxState* state, const AsfStreamRecord* record, int picture_type, uint32_t key_frame,
                      uint32_t object_size);

// The last char-per-frame line, "Done.", the per-type summary and the overall summary.
void demux_print_summary(const DemuxState* state, const AsfStreamRecord* record);

#endif  // TARVEL_DEMUX_DEMUX_H_
