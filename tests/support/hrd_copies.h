// Test support: copies of the sample whose VC-1 sequence header carries leaky-bucket (HRD)
// parameters, for the bitrate and buffer checks.
//
//   with_hrd         the sample's type-specific data with HRD_PARAM_FLAG 1, the buckets'
//                    HRD_NUM_LEAKY_BUCKETS, BIT_RATE_EXPONENT, BUFFER_SIZE_EXPONENT and
//                    HRD_RATE / HRD_BUFFER in the sequence header, and their HRD_FULL in
//                    the entry-point header; every other field as the sample has it
//   sample_with_hrd  the sample's frames laid out into a new ASF file with that data
//
// The few header bits are read and written here with a bit cursor of this file's own, in
// SMPTE 421M's Advanced Profile order, and not through the program's header table: a wrong
// row in the program must not be matched by the files the tests make.
#ifndef TARVEL_TESTS_SUPPORT_HRD_COPIES_H_
#define TARVEL_TESTS_SUPPORT_HRD_COPIES_H_

#include <cstdint>
#include <vector>

#include "tests/support/wmv_writer.h"

struct HrdBucketSpec {
  uint16_t rate = 0;    // HRD_RATE
  uint16_t buffer = 0;  // HRD_BUFFER
  uint8_t full = 255;   // HRD_FULL
};

struct HrdSpec {
  uint8_t bit_rate_exponent = 0;       // 4 bits
  uint8_t buffer_size_exponent = 0;    // 4 bits
  std::vector<HrdBucketSpec> buckets;  // 1 to 31
};

// Empty when the type-specific data holds no sequence and entry-point header, or when the
// new headers would need emulation-prevention bytes (a 00 00 0x run with x <= 3 inside
// them: choose other values).
Bytes with_hrd(const Bytes& type_specific, const HrdSpec& hrd);
WmvFile sample_with_hrd(const HrdSpec& hrd, const WmvLayout& layout = {});

#endif  // TARVEL_TESTS_SUPPORT_HRD_COPIES_H_
