// The little-endian variable-width read and the 100-ns rounding, at the widths and edges
// where a wrong width or a wrong arithmetic width changes the value.
#include <gtest/gtest.h>

#include <cstdint>

#include "asf/asf.h"
#include "asf/le_bytes.h"

TEST(LittleEndianBytes, VariableWidthReadTakesExactlyTheFirstWidthBytes) {
  const uint8_t bytes[9] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88, 0xEE};
  struct Case {
    uint32_t width;
    uint64_t value;
  };
  for (const Case& c : {Case{0, 0}, Case{1, 0x01}, Case{2, 0x0201}, Case{3, 0x030201}, Case{4, 0x04030201},
                        Case{8, 0x8807060504030201}}) {
    EXPECT_EQ(read_le_width(bytes, c.width), c.value) << "width " << c.width;
  }
}

TEST(FramePeriod, RoundsHalvesUpInTheWidthOfItsArgument) {
  EXPECT_EQ(asf_100ns_to_microseconds(uint32_t{14}), 1u);
  EXPECT_EQ(asf_100ns_to_microseconds(uint32_t{15}), 2u);
  EXPECT_EQ(asf_100ns_to_microseconds(uint64_t{333667}), 33367u);
  // Low 32 bits rounded in 32-bit arithmetic: the sum wraps.
  EXPECT_EQ(asf_100ns_to_microseconds(uint32_t{0xFFFFFFFB}), 0u);
  EXPECT_EQ(asf_100ns_to_microseconds(uint32_t{0xFFFFFFFA}), 429496729u);
  // A 64-bit time rounds in 64 bits, then keeps the low 32 bits of the period.
  EXPECT_EQ(asf_100ns_to_microseconds(uint64_t{0xFFFFFFFB}), 429496729u);
  EXPECT_EQ(asf_100ns_to_microseconds(uint64_t{10} << 32), 0u);
  EXPECT_EQ(asf_100ns_to_microseconds((uint64_t{10} << 32) + 25), 3u);
}
