// UTF-16LE texts of the ASF header (stream names, metadata names and values): compared, and
// converted to printable UTF-8.
#include <cstdlib>

#include "asf/asf.h"
#include "asf/le_bytes.h"

namespace {

uint32_t encode_utf8(uint32_t code_point, char* out) {
  if (code_point < 0x80) {
    out[0] = static_cast<char>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code_point >> 6));
    out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (code_point >> 12));
    out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (code_point >> 18));
  out[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code_point & 0x3F));
  return 4;
}

}  // namespace

uint32_t asf_utf16_units(const uint8_t* text, uint32_t length) {
  uint32_t units = 0;
  while (units < length / 2 && read_le16(text + 2 * units) != 0) units++;
  return units;
}

bool asf_utf16_equals(const uint8_t* text, uint32_t length, const char* ascii) {
  uint32_t units = asf_utf16_units(text, length);
  for (uint32_t i = 0; i < units; i++) {
    if (ascii[i] == '\0' || read_le16(text + 2 * i) != static_cast<uint8_t>(ascii[i])) return false;
  }
  return ascii[units] == '\0';
}

uint32_t asf_utf16_to_utf8(const uint8_t* text, uint32_t length, char* out, uint32_t out_size) {
  if (out_size == 0) return 0;
  uint32_t units = asf_utf16_units(text, length);
  uint32_t written = 0;
  for (uint32_t i = 0; i < units; i++) {
    uint32_t unit = read_le16(text + 2 * i);
    uint32_t code_point = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
      uint32_t low = read_le16(text + 2 * i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        code_point = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i++;
      }
    }
    if (code_point >= 0xD800 && code_point <= 0xDFFF) code_point = 0xFFFD;  // lone surrogate
    char bytes[4];
    uint32_t n = encode_utf8(code_point, bytes);
    if (written + n >= out_size) break;
    for (uint32_t k = 0; k < n; k++) out[written + k] = bytes[k];
    written += n;
  }
  out[written] = '\0';
  return written;
}

char* asf_utf16_to_new_utf8(const uint8_t* text, uint32_t length) {
  uint32_t size = (length / 2) * 3 + 1;
  char* out = static_cast<char*>(std::malloc(size));
  if (out != nullptr) asf_utf16_to_utf8(text, length, out, size);
  return out;
}
