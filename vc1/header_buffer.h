// The header byte buffer shared by the ASF parser, the VC-1 codec, the console dump and
// the elementary-stream writer: VC-1 header bytes followed by the count of valid bytes.
#ifndef TARVEL_VC1_HEADER_BUFFER_H_
#define TARVEL_VC1_HEADER_BUFFER_H_

#include <cstdint>

constexpr uint32_t kHeaderBufferSize = 1024;

struct HeaderBuffer {
  uint8_t data[kHeaderBufferSize];
  uint32_t count;  // valid bytes at the start of data, 0..1024
};

#endif  // TARVEL_VC1_HEADER_BUFFER_H_
