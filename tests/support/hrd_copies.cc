// Test support: the sample with leaky-bucket parameters (see hrd_copies.h).
#include "tests/support/hrd_copies.h"

#include <algorithm>

namespace {

// Bytes read or written most significant bit first.
struct Bits {
  const Bytes* in = nullptr;
  size_t at = 0;  // bit position
  Bytes out;
  uint32_t out_bits = 0;

  uint32_t read(uint32_t n) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < n; i++, at++) {
      v = (v << 1) | (at / 8 < in->size() ? ((*in)[at / 8] >> (7 - at % 8)) & 1 : 0);
    }
    return v;
  }
  void write(uint32_t value, uint32_t n) {
    for (uint32_t i = n; i-- > 0; out_bits++) {
      if (out_bits % 8 == 0) out.push_back(0);
      out.back() |= static_cast<uint8_t>(((value >> i) & 1) << (7 - out_bits % 8));
    }
  }
  void copy(uint32_t n) {
    for (uint32_t i = 0; i < n; i++) write(read(1), 1);
  }
  void stop_and_align() {  // the stop bit, then zeros to the byte's end
    write(1, 1);
    while (out_bits % 8 != 0) write(0, 1);
  }
};

// Copies the sequence header's fields before HRD_PARAM_FLAG and skips the source's own HRD
// parameters; returns the source's bucket count.
uint32_t copy_sequence_fields(Bits* b) {
  b->copy(2 + 3 + 2 + 3 + 5 + 1 + 12 + 12 + 1 + 1 + 1 + 1 + 1 + 1);  // PROFILE to PSF
  uint32_t display_ext = b->read(1);
  b->write(display_ext, 1);
  if (display_ext == 1) {
    b->copy(14 + 14);  // DISP_HORIZ_SIZE, DISP_VERT_SIZE
    uint32_t aspect_flag = b->read(1);
    b->write(aspect_flag, 1);
    if (aspect_flag == 1) {
      uint32_t aspect = b->read(4);
      b->write(aspect, 4);
      if (aspect == 15) b->copy(8 + 8);
    }
    uint32_t rate_flag = b->read(1);
    b->write(rate_flag, 1);
    if (rate_flag == 1) {
      uint32_t ind = b->read(1);
      b->write(ind, 1);
      b->copy(ind == 0 ? 8 + 4 : 16);  // FRAMERATENR + FRAMERATEDR, or FRAMERATEEXP
    }
    uint32_t color_flag = b->read(1);
    b->write(color_flag, 1);
    if (color_flag == 1) b->copy(8 + 8 + 8);
  }
  if (b->read(1) == 0) return 0;  // HRD_PARAM_FLAG
  uint32_t buckets = b->read(5);
  b->read(4 + 4 + 32 * buckets);
  return buckets;
}

size_t find_code(const Bytes& bytes, uint8_t code, size_t from) {
  for (size_t i = from; i + 3 < bytes.size(); i++) {
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == code) return i;
  }
  return bytes.size();
}

bool needs_emulation_prevention(const Bytes& body) {
  for (size_t i = 0; i + 2 < body.size(); i++) {
    if (body[i] == 0 && body[i + 1] == 0 && body[i + 2] <= 3) return true;
  }
  return false;
}

}  // namespace

Bytes with_hrd(const Bytes& type_specific, const HrdSpec& hrd) {
  size_t seq = find_code(type_specific, 0x0F, 0), entry = find_code(type_specific, 0x0E, seq);
  if (entry >= type_specific.size() || type_specific.size() < 15) return {};
  Bytes seq_body(type_specific.begin() + seq + 4, type_specific.begin() + entry);
  Bytes entry_body(type_specific.begin() + entry + 4, type_specific.end());
  Bits s;
  s.in = &seq_body;
  uint32_t old_buckets = copy_sequence_fields(&s);
  s.write(1, 1);  // HRD_PARAM_FLAG
  s.write(static_cast<uint32_t>(hrd.buckets.size()), 5);
  s.write(hrd.bit_rate_exponent, 4);
  s.write(hrd.buffer_size_exponent, 4);
  for (const HrdBucketSpec& k : hrd.buckets) s.write(k.rate, 16), s.write(k.buffer, 16);
  s.stop_and_align();

  // BROKEN_LINK to QUANTIZER, the HRD_FULL bytes, then the rest up to the source's stop bit.
  Bits e;
  e.in = &entry_body;
  e.copy(1 + 1 + 1 + 1 + 1 + 1 + 1 + 2 + 1 + 1 + 2);
  e.read(8 * old_buckets);
  for (const HrdBucketSpec& k : hrd.buckets) e.write(k.full, 8);
  size_t stop = entry_body.size() * 8;
  while (stop > e.at && ((entry_body[(stop - 1) / 8] >> (7 - (stop - 1) % 8)) & 1) == 0) stop--;
  e.copy(static_cast<uint32_t>(stop - 1 - e.at));
  e.stop_and_align();
  if (needs_emulation_prevention(s.out) || needs_emulation_prevention(e.out)) return {};

  Bytes out(type_specific.begin(), type_specific.begin() + seq);
  for (const Bytes* body : {&s.out, &e.out}) {
    out.insert(out.end(), {0x00, 0x00, 0x01, static_cast<uint8_t>(body == &s.out ? 0x0F : 0x0E)});
    out.insert(out.end(), body->begin(), body->end());
  }
  // The format data size (at 9) and the bitmap header's own size (at 11) count the codec
  // data that follows them.
  uint32_t grown = static_cast<uint32_t>(out.size() - type_specific.size());
  uint32_t format = (type_specific[9] | type_specific[10] << 8) + grown;
  out[9] = static_cast<uint8_t>(format), out[10] = static_cast<uint8_t>(format >> 8);
  uint32_t bitmap = (type_specific[11] | type_specific[12] << 8 | type_specific[13] << 16 |
                     static_cast<uint32_t>(type_specific[14]) << 24) +
                    grown;
  for (int i = 0; i < 4; i++) out[11 + i] = static_cast<uint8_t>(bitmap >> (8 * i));
  return out;
}

WmvFile sample_with_hrd(const HrdSpec& hrd, const WmvLayout& layout) {
  WmvSource source = sample_wmv();
  source.type_specific = with_hrd(source.type_specific, hrd);
  return write_wmv(source, layout);
}
