// How a complete frame's bytes begin, and so what goes in front of it in the stream.
//
// The ASF way of storing VC-1 frames leaves out their start code: the bytes begin with the
// picture header. Other writers (files remuxed from an elementary stream, a transport
// stream or Matroska) keep the frame as elementary-stream data: it begins with its own
// frame start code, and a key frame with the sequence and entry-point headers (and any
// user data of theirs) in front of it. Such a frame gets no second start code, and its
// in-band headers give way to the rebuilt ones, which carry the frame rate and aspect
// ratio the run puts in.
#include "demux/demux.h"
#include "demux/demux_stages.h"

namespace {

constexpr uint8_t kSequenceHeaderCode = 0x0F;
constexpr uint8_t kEntryPointCode = 0x0E;
constexpr uint8_t kFrameCode = 0x0D;
constexpr uint8_t kSequenceUserDataCode = 0x1F;
constexpr uint8_t kEntryPointUserDataCode = 0x1E;

// The first piece that holds byte `at` of the object (pieces sorted and contiguous).
uint32_t piece_holding(const ObjectPiece* pieces, uint32_t count, uint32_t at) {
  uint32_t i = 0;
  while (i + 1 < count && pieces[i].offset + pieces[i].length <= at) i++;
  return i;
}

// Byte `at` of the object, or -1 past its end.
int byte_at(const ObjectPiece* pieces, uint32_t count, uint32_t at) {
  if (count == 0) return -1;
  const ObjectPiece& p = pieces[piece_holding(pieces, count, at)];
  return at >= p.offset && at - p.offset < p.length ? p.bytes[at - p.offset] : -1;
}

// Where the next 00 00 01 begins at or after `from`, or `size` when none does.
uint32_t start_code_from(const ObjectPiece* pieces, uint32_t count, uint32_t size, uint32_t from) {
  uint32_t zeros = 0;
  for (uint32_t i = count == 0 ? 0 : piece_holding(pieces, count, from); i < count; i++) {
    const ObjectPiece& p = pieces[i];
    for (uint32_t j = from > p.offset ? from - p.offset : 0; j < p.length; j++) {
      uint8_t c = p.bytes[j];
      if (c == 1 && zeros >= 2) return p.offset + j - 2;
      zeros = c == 0 ? zeros + 1 : 0;
    }
  }
  return size;
}

bool starts_with_start_code(const ObjectPiece* pieces, uint32_t count, uint32_t at) {
  return byte_at(pieces, count, at) == 0 && byte_at(pieces, count, at + 1) == 0 &&
         byte_at(pieces, count, at + 2) == 1 && byte_at(pieces, count, at + 3) >= 0;
}

bool is_header_unit(int code) {
  return code == kSequenceHeaderCode || code == kEntryPointCode || code == kSequenceUserDataCode ||
         code == kEntryPointUserDataCode;
}

}  // namespace

FrameOpening frame_opening(const ObjectPiece* pieces, uint32_t count, uint32_t size) {
  FrameOpening opening = {0, 0, 0, 0, 0};
  if (!starts_with_start_code(pieces, count, 0)) {
    opening.has_picture = size > 0;
    opening.picture_byte = size > 0 ? static_cast<uint8_t>(byte_at(pieces, count, 0)) : 0;
    return opening;
  }
  opening.own_start_code = 1;
  // The header units in front of the frame, each up to the next start code.
  uint32_t at = 0;
  int code = byte_at(pieces, count, 3);
  while (is_header_unit(code)) {
    if (code == kSequenceHeaderCode || code == kEntryPointCode) opening.inband_headers = 1;
    at = start_code_from(pieces, count, size, at + 4);
    code = at < size ? byte_at(pieces, count, at + 3) : -1;
  }
  opening.header_bytes = at;
  if (code == kFrameCode && at + 4 < size) {
    opening.has_picture = 1;
    opening.picture_byte = static_cast<uint8_t>(byte_at(pieces, count, at + 4));
  }
  return opening;
}

bool frame_is_key(uint32_t key_flag, const FrameOpening* opening, int picture_type) {
  // Elementary-stream data says itself where the stream can be entered: at its in-band
  // headers, or at an intra picture the ASF file flags. Writers that flag every frame are
  // not believed for the others.
  if (!opening->own_start_code) return key_flag != 0;
  return opening->inband_headers != 0 || (key_flag != 0 && picture_type_is_key(picture_type));
}
