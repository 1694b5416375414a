// ASF demux and elementary-stream writer: walks the Data Object's packets, gathers the
// chosen stream's media objects into frames and writes them as a VC-1 elementary stream,
// with the frame report and the summary on the console.
//
// The walk stops early, without writing anything that did not come from the file, when
// the input ends inside the Data Object, and stops at the first failed write to the
// output. Frames larger than the frame buffer make it grow, up to kMaxFrameBufferSize.
//
// Output is gathered: a frame's payload bytes are written from the reader's ring where
// they lie, and complete frames are collected in a batch that goes out in one gathered
// write when it is full, before the reader refills the ring, and at the end. Only the
// pieces of the frame in progress that a refill would overwrite are copied, into the
// frame buffer. A frame is shown and counted once its bytes were written, so the report
// reads as if every frame had been written on its own when it was complete.
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
constexpr uint32_t kBatchPieces = 1024;              // pieces of output held before a write
constexpr uint32_t kBatchFrames = kBatchPieces / 2;  // every frame takes two pieces at least
constexpr uint32_t kBatchFlushBytes = 0x80000;       // 512 KiB of complete frames are written
constexpr uint32_t kMaxWriteBytes = 0xF0000;         // 960 KiB: larger batches take more writes

// A complete frame waiting in the batch.
struct BatchFrame {
  uint32_t bytes;  // headers, start code and stored bytes
  uint32_t object_size;
  uint32_t key_frame;
  int picture_type;
};

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
  // The output batch: pieces[0, open_first) hold the complete frames, in order;
  // pieces[open_first, piece_count) the frame in progress: two places kept for its
  // headers and start code, then its stored bytes, in the ring or the frame buffer.
  PlatformPiece pieces[kBatchPieces];
  uint32_t open_first;
  uint32_t piece_count;
  BatchFrame frames[kBatchFrames];
  uint32_t frame_count;
  uint64_t batch_bytes;  // bytes of the complete frames in the batch
  uint8_t first_byte;    // first stored byte of the frame in progress
  // Where the batch goes, for the writes made before the reader refills the ring.
  AsfStreamRecord* record;
  PlatformFile output;
};

// Walks packet_bytes bytes of data packets (the Data Object less its header) from the
// record's reader, then finishes the stream. Returns how the walk ended.
DemuxResult demux_packets(uint64_t packet_bytes, AsfStreamRecord* record, PlatformFile output);

// Zeroes the record's frame counters and the state, allocates the frame buffer (printing
// the max-object-size warnings) and has the reader write the batch before it refills the
// ring. False when the buffer cannot be had.
bool demux_prepare(AsfStreamRecord* record, DemuxState* state, PlatformFile output);

// Takes one payload of stream `stream_number` whose data stands next in the reader:
// consumes exactly payload_length bytes, storing the chosen stream's and skipping the
// rest, and puts the frame in the batch when its media object is complete. False when a
// write to the output failed (state->write_failed is then set).
bool demux_take_payload(AsfStreamRecord* record, DemuxState* state, PlatformFile output,
                        uint32_t stream_number, uint32_t key_frame, uint32_t object_size,
                        uint32_t payload_length);

// Classifies the stored frame and puts it in the batch: headers before a key-flagged
// frame, the frame start code, then the stored bytes; writes the batch when it is full.
// False when a write failed.
bool demux_write_frame(AsfStreamRecord* record, DemuxState* state, PlatformFile output, uint32_t key_frame,
                       uint32_t object_size);

// Writes the batch's complete frames, then shows and counts each one written; the frame
// a failed write cut short is shown as it always was and not counted, and the frames
// after it are dropped. False when a write failed, now or earlier.
bool demux_flush(AsfStreamRecord* record, DemuxState* state, PlatformFile output);

// Called before the walk prints a message of the given level: when the message will
// show, the batch is written first so that the message follows the frames before it.
// False when a write failed: the message must not be printed and the walk stops.
bool demux_before_message(AsfStreamRecord* record, DemuxState* state, PlatformFile output, uint32_t level);

// Ends the walk: writes the batch, the truncation note when the input ended early, the
// end-of-sequence code (unless a write failed), the summary; releases the frame buffer.
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
