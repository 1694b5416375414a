// The frame sink: complete frames collected in a batch of pieces (headers, start code and
// the object's pieces, wherever they lie) and written in gathered writes.
#include <cstring>

#include "demux/demux_stages.h"

namespace {

constexpr uint8_t kFrameStartCode[4] = {0x00, 0x00, 0x01, 0x0D};

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

}  // namespace

void sink_init(FrameSink* sink) { std::memset(sink, 0, sizeof *sink); }

void sink_put(FrameSink* sink, const DemuxSettings* settings, FrameRecord* frame, const FrameOpening* opening,
              const ObjectPiece* pieces, uint32_t count) {
  PlatformPiece* out = &sink->pieces[sink->piece_count];
  uint32_t n = 0;
  uint32_t bytes = 0;
  if (frame->key_frame) {
    // The sequence header goes before the first frame put, when it is a key frame, whatever
    // -nseq says; with -nseq every later key frame gets the entry-point header alone, also
    // after a first frame without the key flag.
    bool entry_point_only = sink->frames_put != 0 && settings->seq_header_once;
    const HeaderBuffer& headers = entry_point_only ? settings->entry_point_headers : settings->output_headers;
    uint32_t length = headers.count < kHeaderBufferSize ? headers.count : kHeaderBufferSize;
    out[n++] = PlatformPiece{headers.data, length};
    bytes += length;
  }
  if (!opening->own_start_code) {
    out[n++] = PlatformPiece{kFrameStartCode, sizeof kFrameStartCode};
    bytes += sizeof kFrameStartCode;
  }
  // In-band headers, which the ones above replace, are left out.
  uint32_t skip = opening->header_bytes;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t cut = skip < pieces[i].length ? skip : pieces[i].length;
    skip -= cut;
    if (cut == pieces[i].length) continue;
    out[n++] = PlatformPiece{pieces[i].bytes + cut, pieces[i].length - cut};
    bytes += pieces[i].length - cut;
  }
  frame->bytes = bytes;
  sink->piece_count += n;
  sink->frames[sink->frame_count++] = *frame;
  sink->batch_bytes += bytes;
  sink->frames_put++;
}

SinkFlush sink_flush(FrameSink* sink, PlatformFile output) {
  SinkFlush result = {true, 0, sink->frame_count, 0};
  if (sink->frame_count == 0) return result;
  result.ok = write_pieces(output, sink->pieces, sink->piece_count, &result.written);
  if (!result.ok) {
    result.error = platform_last_error();
    // The frames that reached the output whole, from the first on.
    uint64_t end = 0;
    result.frames_whole = 0;
    while (result.frames_whole < sink->frame_count &&
           end + sink->frames[result.frames_whole].bytes <= result.written) {
      end += sink->frames[result.frames_whole++].bytes;
    }
  }
  sink->piece_count = 0;
  sink->frame_count = 0;
  sink->batch_bytes = 0;
  return result;
}
