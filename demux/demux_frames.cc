// Frame reassembly and elementary-stream output: per-stream count-down of the media
// object in progress, the output batch of frames (pieces in the reader's ring or the
// frame buffer), its gathered writes, and the end-of-sequence code.
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

// Writes the pieces in calls of at most kMaxWriteBytes each (larger writes fill the page
// cache more slowly). *written receives the count written; false when a write failed.
bool write_pieces(PlatformFile output, PlatformPiece* pieces, uint32_t count, uint64_t* written) {
  *written = 0;
  uint32_t next = 0;
  while (next < count) {
    uint64_t written_now = 0;
    bool ok = true;
    if (pieces[next].length > kMaxWriteBytes) {
      // A piece too large for one write goes out in slices.
      PlatformPiece slice = {pieces[next].bytes, kMaxWriteBytes};
      ok = platform_write_gather(output, &slice, 1, &written_now);
      pieces[next].bytes = static_cast<const uint8_t*>(pieces[next].bytes) + kMaxWriteBytes;
      pieces[next].length -= kMaxWriteBytes;
    } else {
      uint32_t end = next;
      uint32_t bytes = 0;
      while (end < count && pieces[end].length <= kMaxWriteBytes - bytes) bytes += pieces[end++].length;
      ok = platform_write_gather(output, pieces + next, end - next, &written_now);
      next = end;
    }
    *written += written_now;
    if (!ok) return false;
  }
  return true;
}

// Shows and counts a frame of a written batch, or, when `whole` is false (a write failed
// inside it), shows it, reports the failure and takes the frame back out of the display.
bool show_written_frame(AsfStreamRecord* record, DemuxState* state, const BatchFrame& frame, bool whole,
                        int write_error) {
  uint32_t frames_before = record->frames_written;
  uint32_t saved_distance = state->keyframe_distance;
  uint32_t saved_max_distance = state->max_keyframe_distance;
  demux_show_frame(state, record, frame.picture_type, frame.key_frame, frame.object_size);
  if (frame.key_frame) {
    state->keyframe_distance = 0;
  } else {
    state->keyframe_distance++;
    if (state->keyframe_distance > state->max_keyframe_distance) {
      state->max_keyframe_distance = state->keyframe_distance;
    }
    if (frames_before == 0) print_at_level(1, "Error: First frame in file is not a keyframe\n");
  }
  if (!whole) {
    platform_set_last_error(write_error);
    print_at_level(0, "\nError writing output file: %s", system_error_text());
    state->write_failed = 1;
    // The frame did not reach the output: it is neither shown nor counted as written.
    state->frame_line[frames_before % kFrameLineLength] = '\0';
    state->keyframe_distance = saved_distance;
    state->max_keyframe_distance = saved_max_distance;
    return false;
  }
  record->frame_type_counts[frame.picture_type]++;
  record->frames_written++;
  return true;
}

// The pieces of the frame in progress that hold stored bytes, and their offsets in the
// frame: each is copied to its own offset in the frame buffer when it must leave the ring.
// `all` copies every piece still in the ring; otherwise only those the next fill of the
// reader would overwrite.
void copy_open_pieces(const FileReader* reader, DemuxState* state, bool all) {
  uint32_t offset = 0;
  for (uint32_t i = state->open_first + 2; i < state->piece_count; ++i) {
    PlatformPiece* piece = &state->pieces[i];
    uint8_t* place = state->frame_buffer + offset;
    offset += piece->length;
    if (piece->bytes == place || (!all && reader_fill_keeps(reader, piece->bytes))) continue;
    std::memcpy(place, piece->bytes, piece->length);
    piece->bytes = place;
  }
}

// The reader is about to refill its ring: complete frames are written, and the frame in
// progress keeps in the frame buffer what the fill would overwrite.
void before_reader_fill(void* context) {
  DemuxState* state = static_cast<DemuxState*>(context);
  if (!demux_flush(state->record, state, state->output)) return;
  copy_open_pieces(state->record->reader, state, false);
}

// Makes room in the batch for two more pieces of the frame in progress and the two
// places of the frame after it: writes the complete frames, and when the frame in
// progress alone fills the batch, gathers its stored bytes into the frame buffer.
void make_room(AsfStreamRecord* record, DemuxState* state, PlatformFile output) {
  if (state->piece_count + 4 <= kBatchPieces) return;
  if (!demux_flush(record, state, output) || state->piece_count + 4 <= kBatchPieces) return;
  copy_open_pieces(record->reader, state, true);
  state->pieces[state->open_first + 2] = PlatformPiece{state->frame_buffer, state->fill};
  state->piece_count = state->open_first + 3;
}

// Stores n bytes of the chosen stream's object: they stay in the ring, as pieces of the
// frame in progress.
void store_payload(AsfStreamRecord* record, DemuxState* state, PlatformFile output, uint32_t n) {
  PlatformPiece taken[2];
  uint32_t count = reader_take_in_place(record->reader, n, taken);
  if (count == 0) return;
  make_room(record, state, output);
  if (state->write_failed) return;  // nothing more is written: the pieces are not kept
  if (state->fill == 0) state->first_byte = *static_cast<const uint8_t*>(taken[0].bytes);
  for (uint32_t i = 0; i < count; ++i) state->pieces[state->piece_count++] = taken[i];
  state->fill += n;
}

// The first payload of a chosen-stream object announced its size: make sure the buffer
// can hold the whole frame, or mark the object to be dropped. False when a write failed.
bool begin_chosen_object(AsfStreamRecord* record, DemuxState* state, PlatformFile output,
                         uint32_t object_size) {
  state->skipping_object = 0;
  if (object_size <= state->buffer_size) return true;
  uint8_t* larger = nullptr;
  if (object_size <= kMaxFrameBufferSize) {
    larger = static_cast<uint8_t*>(std::malloc(object_size));
  }
  if (larger == nullptr) {
    if (!demux_before_message(record, state, output, 1)) return false;
    print_at_level(1, "Warning: media object of %u bytes in stream %d is too large; frame skipped\n",
                   object_size, record->stream_number);
    state->skipping_object = 1;
    return true;
  }
  // Frames in the batch may lie in the old buffer: they are written before it goes. A new
  // object starts with an empty buffer, so nothing needs copying over.
  bool ok = demux_flush(record, state, output);
  std::free(state->frame_buffer);
  state->frame_buffer = larger;
  state->buffer_size = object_size;
  return ok;
}

}  // namespace

bool demux_prepare(AsfStreamRecord* record, DemuxState* state, PlatformFile output) {
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
  state->piece_count = 2;  // the places of the first frame's headers and start code
  state->record = record;
  state->output = output;
  record->reader->before_fill = before_reader_fill;
  record->reader->before_fill_context = state;
  return true;
}

bool demux_take_payload(AsfStreamRecord* record, DemuxState* state, PlatformFile output,
                        uint32_t stream_number, uint32_t key_frame, uint32_t object_size,
                        uint32_t payload_length) {
  if (state->write_failed) return false;
  FileReader* reader = record->reader;
  uint32_t* bytes_left = &state->bytes_left[stream_number % kMaxStreams];
  bool chosen = stream_number == record->stream_number;
  if (*bytes_left == 0) {
    *bytes_left = object_size;
    if (chosen && !begin_chosen_object(record, state, output, object_size)) return false;
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
    store_payload(record, state, output, payload_length);
  } else {
    reader_skip(reader, payload_length);
  }
  if (state->write_failed) return false;

  *bytes_left -= payload_length;
  if (*bytes_left != 0) return true;
  if (state->skipping_object) {
    state->skipping_object = 0;
    state->fill = 0;
    state->piece_count = state->open_first + 2;
    return true;
  }
  return demux_write_frame(record, state, output, key_frame, object_size);
}

bool demux_write_frame(AsfStreamRecord* record, DemuxState* state, PlatformFile output, uint32_t key_frame,
                       uint32_t object_size) {
  // Frames in the batch count as written here: if one is not, this one never will be.
  uint32_t frames_before = record->frames_written + state->frame_count;
  BatchFrame* frame = &state->frames[state->frame_count++];
  // A frame with no stored byte has no picture header to classify.
  frame->picture_type =
      state->fill > 0 ? classify_picture_type(state->first_byte, record->interlaced) : kPictureUnclassified;
  frame->key_frame = key_frame;
  frame->object_size = object_size;

  PlatformPiece* places = &state->pieces[state->open_first];
  places[0] = PlatformPiece{kFrameStartCode, 0};
  if (key_frame) {
    bool entry_point_only = frames_before != 0 && record->seq_header_once;
    const HeaderBuffer& headers = entry_point_only ? record->entry_point_headers : record->output_headers;
    places[0] =
        PlatformPiece{headers.data, headers.count < kHeaderBufferSize ? headers.count : kHeaderBufferSize};
  }
  places[1] = PlatformPiece{kFrameStartCode, sizeof kFrameStartCode};
  // Only the bytes actually stored are written, whatever the object size announced.
  frame->bytes = places[0].length + places[1].length + state->fill;
  state->batch_bytes += frame->bytes;
  state->fill = 0;
  state->open_first = state->piece_count;
  state->piece_count += 2;
  if (state->batch_bytes < kBatchFlushBytes && state->piece_count + 4 <= kBatchPieces) return true;
  return demux_flush(record, state, output);
}

bool demux_flush(AsfStreamRecord* record, DemuxState* state, PlatformFile output) {
  if (state->write_failed) return false;
  if (state->frame_count == 0) return true;
  uint64_t written = 0;
  bool ok = write_pieces(output, state->pieces, state->open_first, &written);
  int write_error = ok ? 0 : platform_last_error();
  record->total_bytes_written += written;
  uint64_t end = 0;
  for (uint32_t i = 0; i < state->frame_count; ++i) {
    end += state->frames[i].bytes;
    if (!show_written_frame(record, state, state->frames[i], ok || end <= written, write_error)) break;
  }
  // The frame in progress moves to the front.
  uint32_t open_count = state->piece_count - state->open_first;
  std::memmove(state->pieces, state->pieces + state->open_first, open_count * sizeof state->pieces[0]);
  state->piece_count = open_count;
  state->open_first = 0;
  state->frame_count = 0;
  state->batch_bytes = 0;
  return ok;
}

bool demux_before_message(AsfStreamRecord* record, DemuxState* state, PlatformFile output, uint32_t level) {
  if (level != 0 && report_verbosity() < level) return state->write_failed == 0;
  return demux_flush(record, state, output);
}

DemuxResult demux_finish(AsfStreamRecord* record, DemuxState* state, PlatformFile output) {
  // When a frame of the batch fails to go out, the walk counts as stopped at that frame,
  // before it could have found the input's end.
  if (!demux_flush(record, state, output)) state->truncated = 0;
  record->reader->before_fill = nullptr;
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
