// Little-endian integer reads from byte buffers, for ASF's on-disk integers.
#ifndef TARVEL_ASF_LE_BYTES_H_
#define TARVEL_ASF_LE_BYTES_H_

#include <cstdint>

inline uint16_t read_le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline uint32_t read_le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

inline uint64_t read_le64(const uint8_t* p) {
  return static_cast<uint64_t>(read_le32(p)) | static_cast<uint64_t>(read_le32(p + 4)) << 32;
}

// The first `width` bytes (0 to 8) at p as a little-endian number; width 0 reads nothing
// and gives 0. Fields whose width is given by a length code, and values shorter than their
// type, are read with it.
inline uint64_t read_le_width(const uint8_t* p, uint32_t width) {
  uint64_t value = 0;
  for (uint32_t i = width; i > 0; --i) value = value << 8 | p[i - 1];
  return value;
}

// The first `width` bytes of a value of `length` bytes as a little-endian number; a shorter
// value is read only as far as it goes (the missing high bytes count as zero).
inline uint64_t read_le_bounded(const uint8_t* p, uint32_t length, uint32_t width) {
  return read_le_width(p, length < width ? length : width);
}

#endif  // TARVEL_ASF_LE_BYTES_H_
