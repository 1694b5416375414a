// Frame reassembly and elementary-stream output: per-stream count-down of the media
// object in progress, the chosen stream's frame buffer, and the writes of headers,
// frame start codes, frames and the end-of-sequence code.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "asf/asf.h"
#include "demux/demux.h"
#include "io/file_reader.h"
#include "platform/platform.h"
#include "report/report.h"

namespace {

constexpr uint8_t kFrameStartCode[4] = {0x00, 0x00, 0x01, 0x0D};
constexpr uint8_t kEndOfSequenceCode[4] = {0x00, 0x00, 0x01, 0x0A};

// Writes n bytes to the output and counts what was written. On failure reports the
// system's reason and marks the state, so that nothing more is written.
bool write_output(AsfStreamRecord* record, DemuxState* state, PlatformFile output, const uint8_t* bytes,
                  uint32_t n) {
  if (n == 0) return true;
  uint32_t written = 0;
  bool ok = platform_write(output, bytes, n, &written);
  record->total_bytes_written += written;
  if (!ok) {
    print_at_level(0, "\nError writing output file: %s", system_error_text());
    state->write_failed = 1;
  }
  return ok;
}

bool write_headers(AsfStreamRecord* record, DemuxState* state, PlatformFile output,
                   const HeaderBuffer& headers) {
  uint32_t count = headers.count < kHeaderBufferSize ? headers.count : kHeaderBufferSize;
  return write_output(record, state, output, headers.data, count);
}

// The first payload of a chosen-stream object announced its size: make sure the buffer
// can hold the whole frame, or mark the object to be dropped.
void begin_chosen_object(AsfStreamRecord* record, DemuxState* state, uint32_t object_size) {
  state->skipping_object = 0;
  if (object_size <= state->buffer_size) return;
  uint8_t* larger = nullptr;
  if (object_size <= kMaxFrameBufferSize) {
    larger = static_cast<uint8_t*>(std::malloc(object_size));
  }
  if (larger == nullptr) {
    print_at_level(1, "Warning: media object of %u bytes in stream %d is too large; frame skipped\n",
                   object_size, record->stream_number);
    state->skipping_object = 1;
    return;
  }
  // A new object starts with an empty buffer, so nothing needs copying over.
  std::free(state->frame_buffer);
  state->frame_buffer = larger;
  state->buffer_size = object_size;
}

}  // namespace

bool demux_prepare(AsfStreamRecord* record, DemuxState* state) {
  std::memset(record->frame_type_counts, 0, sizeof record->frame_type_counts);
  record->frames_written = 0;
  record->total_bytes_written = 0;
  std::memset(state, 0, sizeof *state);

  uint32_t size = record->ext_stream_properties.max_object_size;
  if (size == 0) {
    print_at_level(2, "Warning: no max object size for stream %d; using default\n", record->stream_number);
    size = kDefaultFrameBufferSize;
  } else if (size > kDefaultFrameBufferSize) {
    print_at_level(2, "Warning: max object size for stream %d too large; using default\n",
                   record->stream_number);
    size = kDefaultFrameBufferSize;
  }
  state->frame_buffer = static_cast<uint8_t*>(std::malloc(size));
  if (state->frame_buffer == nullptr) return false;
  state->buffer_size = size;
  return true;
}

bool demux_take_payload(AsfStreamRecord* record, DemuxState* state, PlatformFile output,
                        uint32_t stream_number, uint32_t key_frame, uint32_t object_size,
                        uint32_t payload_length) {
  FileReader* reader = record->reader;
  uint32_t* bytes_left = &state->bytes_left[stream_number % kMaxStreams];
  bool chosen = stream_number == record->stream_number;
  if (*bytes_left == 0) {
    *bytes_left = object_size;
    if (chosen) begin_chosen_object(record, state, object_size);
  }
  if (!chosen) {
    *bytes_left -= payload_length;
    reader_skip(reader, payload_length);
    return true;
  }

  // The reader refuses requests of fill_target bytes or more, so such a payload is
  // never stored: the buffer would not hold its bytes.
  bool fits = payload_length < reader->fill_target && payload_length <= state->buffer_size - state->fill;
  if (!state->skipping_object && fits) {
    reader_read(reader, payload_length, state->frame_buffer + state->fill);
    state->fill += payload_length;
  } else {
    reader_skip(reader, payload_length);
  }

  *bytes_left -= payload_length;
  if (*bytes_left != 0) return true;
  if (state->skipping_object) {
    state->skipping_object = 0;
    state->fill = 0;
    return true;
  }
  return demux_write_frame(record, state, output, key_frame, object_size);
}

bool demux_write_frame(AsfStreamRecord* record, DemuxState* state, PlatformFile output, uint32_t key_frame,
                       uint32_t object_size) {
  uint32_t frames_before = record->frames_written;
  // A frame with no stored byte has no picture header to classify.
  int picture_type = state->fill > 0 ? classify_picture_type(state->frame_buffer[0], record->interlaced)
                                     : kPictureUnclassified;
  uint32_t saved_distance = state->keyframe_distance;
  uint32_t saved_max_distance = state->max_keyframe_distance;
  demux_show_frame(state, record, picture_type, key_frame, object_size);

  bool ok = true;
  if (key_frame) {
    state->keyframe_distance = 0;
    bool entry_point_only = frames_before != 0 && record->seq_header_once;
    ok = write_headers(record, state, output,
                       entry_point_only ? record->entry_point_headers : record->output_headers);
  } else {
    state->keyframe_distance++;
    if (state->keyframe_distance > state->max_keyframe_distance) {
      state->max_keyframe_distance = state->keyframe_distance;
    }
    if (frames_before == 0) print_at_level(1, "Error: First frame in file is not a keyframe\n");
  }
  ok = ok && write_output(record, state, output, kFrameStartCode, sizeof kFrameStartCode);
  // Only the bytes actually stored are written, whatever the object size announced.
  ok = ok && write_output(record, state, output, state->frame_buffer, state->fill);
  state->fill = 0;
  if (!ok) {
    // The frame did not reach the output: it is neither shown nor counted as written.
    state->frame_line[frames_before % kFrameLineLength] = '\0';
    state->keyframe_distance = saved_distance;
    state->max_keyframe_distance = saved_max_distance;
    return false;
  }
  record->frame_type_counts[picture_type]++;
  record->frames_written++;
  return true;
}

DemuxResult demux_finish(AsfStreamRecord* record, DemuxState* state, PlatformFile output) {
  if (state->truncated) {
    print_at_level(0, "Error: Input file ends inside the ASF Data Object; demux stopped early.\n");
  }
  if (state->interrupted) print_at_level(0, "Error: Interrupted; demux stopped early.\n");
  if (!state->write_failed) {
    write_output(record, state, output, kEndOfSequenceCode, sizeof kEndOfSequenceCode);
  }
  demux_print_summary(state, record);
  std::free(state->frame_buffer);
  state->frame_buffer = nullptr;
  if (state->write_failed) return kDemuxWriteFailed;
  if (state->interrupted) return kDemuxInterrupted;
  return state->truncated ? kDemuxTruncated : kDemuxCompleted;
}
