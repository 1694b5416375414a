// A light reader of the pieces of one ASF stream, for the conversion target's oracle. It
// shares no code with the program: it reads data packets the way the format lays them out
// and keeps every payload of the stream it meets, at every offset where a packet could
// begin, so that whatever piece the demux took (on the packets' grid, or behind bytes lost
// or inserted where it found its feet again) is among them. Pieces found at offsets where
// no packet stands are harmless: they only widen what counts as the input's bytes.
#ifndef TARVEL_FUZZ_ASF_PAYLOADS_H_
#define TARVEL_FUZZ_ASF_PAYLOADS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

// Bytes of a media object as a payload carries them.
struct StreamPiece {
  uint32_t object_size;
  uint32_t offset;  // where the bytes go in the object
  bool placed;      // the payload gives its offset and object number (else it follows in arrival order)
  const uint8_t* bytes;
  uint32_t length;
};

// The pieces of stream `stream` (1..127) in the packets of `packet_size` bytes that could
// start anywhere in input bytes [from, size), in input order; a compressed payload gives
// one whole object per sub-payload. A payload whose data runs past the input's end keeps
// what the input holds of it.
std::vector<StreamPiece> asf_stream_pieces(const uint8_t* input, size_t size, size_t from,
                                           uint32_t packet_size, uint32_t stream);

// The Header Object's declared size (where the Data Object starts), or 0 when the input
// does not begin with one.
uint64_t asf_header_size(const uint8_t* input, size_t size);

#endif  // TARVEL_FUZZ_ASF_PAYLOADS_H_
