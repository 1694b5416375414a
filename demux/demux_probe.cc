// A look at the first data packets, before the header is reported and the headers rebuilt,
// for what some files say only there: the sequence and entry-point headers of a stream
// whose codec data holds none (they travel in front of its first key frame), and the pixel
// aspect ratio of the Pixel Aspect Ratio payload extension. The packets are looked at in
// the reader's window and not consumed: the demux starts where it would have.
#include <cstring>

#include "asf/le_bytes.h"
#include "demux/demux.h"
#include "demux/demux_stages.h"

namespace {

constexpr uint8_t kStartCode[3] = {0x00, 0x00, 0x01};
constexpr uint8_t kSequenceHeaderCode = 0x0F;
constexpr uint8_t kFrameCode = 0x0D;

bool starts_with_sequence_header(const uint8_t* bytes, uint32_t length) {
  return length > 4 && std::memcmp(bytes, kStartCode, 3) == 0 && bytes[3] == kSequenceHeaderCode;
}

// The headers at the start of an object's first piece, up to its frame start code (or the
// piece's end), at most a header buffer's worth.
void take_headers(const uint8_t* bytes, uint32_t length, HeaderBuffer* out) {
  uint32_t end = 4;
  while (end + 4 <= length &&
         !(std::memcmp(bytes + end, kStartCode, 3) == 0 && bytes[end + 3] == kFrameCode)) {
    end++;
  }
  if (end + 4 > length) end = length;
  out->count = end < kHeaderBufferSize ? end : kHeaderBufferSize;
  std::memcpy(out->data, bytes, out->count);
}

// The Pixel Aspect Ratio extension's two bytes in a payload's extension data, laid out as
// the stream's payload extension systems say: each its fixed size, or a 2-byte length and
// that many bytes. False when the data does not reach them.
bool take_aspect_ratio(const ProbeRequest* request, const uint8_t* data, uint32_t length, StreamProbe* out) {
  uint32_t at = 0;
  for (uint32_t k = 0; k <= request->par_system; k++) {
    uint32_t size = request->system_sizes[k];
    if (size == kVariableExtensionSize) {
      if (length - at < 2) return false;
      size = read_le16(data + at);
      at += 2;
    }
    if (length - at < size) return false;
    if (k == request->par_system) {
      if (size < 2 || data[at] == 0 || data[at + 1] == 0) return false;
      out->par_x = data[at];
      out->par_y = data[at + 1];
      return true;
    }
    at += size;
  }
  return false;
}

// Looks at one packet's payloads of the stream. True when nothing more is wanted.
bool probe_packet(const ProbeRequest* request, const uint8_t* bytes, const ParsedPacket* packet,
                  StreamProbe* out, bool* want_par) {
  for (uint32_t i = 0; i < packet->payload_count; i++) {
    const PacketPayload& p = packet->payloads[i];
    if (p.stream_number != request->stream_number || p.compressed) continue;
    if (*want_par) {
      // The first payload that carries the extension gives the stream's aspect ratio.
      if (p.extension_length > 0) {
        take_aspect_ratio(request, bytes + p.extension_offset, p.extension_length, out);
        *want_par = false;
      }
    }
    bool first_piece = p.offset == 0 || !p.has_offset;
    if (request->want_headers && out->inband_headers.count == 0 && first_piece &&
        starts_with_sequence_header(bytes + p.data_offset, p.length)) {
      take_headers(bytes + p.data_offset, p.length, &out->inband_headers);
    }
  }
  return !*want_par && (!request->want_headers || out->inband_headers.count != 0);
}

}  // namespace

void demux_probe_stream(const ProbeRequest* request, FileReader* reader, StreamProbe* out) {
  std::memset(out, 0, sizeof *out);
  uint32_t size = request->packet_size;
  if (!demux_packet_size_ok(size)) return;
  uint64_t want = kProbeBytes;
  if (request->data_bytes != 0 && request->data_bytes < want) want = request->data_bytes;
  if (want < size) want = size;
  uint32_t available = reader_fill(reader, static_cast<uint32_t>(want));
  if (available > want) available = static_cast<uint32_t>(want);
  const uint8_t* bytes = reader_peek(reader);
  bool want_par = request->par_system != kNoParSystem;
  ParsedPacket packet;
  // Packets stand every `size` bytes; a damaged one is passed over.
  for (uint32_t at = 0; available - at >= size; at += size) {
    if (demux_parse_packet(bytes + at, size, size, request->known_streams, &packet) != kPacketWhole) continue;
    if (probe_packet(request, bytes + at, &packet, out, &want_par)) return;
  }
}
