// The header byte dump layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "report/report.h"
#include "tests/support/captured_report.h"
#include "vc1/vc1.h"

namespace {

class DumpTest : public ::testing::Test {
 protected:
  CapturedReport captured_;
};

HeaderBuffer buffer_of(uint32_t count) {
  HeaderBuffer b{};
  for (uint32_t i = 0; i < kHeaderBufferSize; i++) b.data[i] = static_cast<uint8_t>(i * 7);
  b.count = count;
  return b;
}

std::string hex_groups(uint32_t from, uint32_t to) {
  std::string s;
  char group[8];
  for (uint32_t i = from; i < to; i++) {
    std::snprintf(group, sizeof group, "%02x ", static_cast<uint8_t>(i * 7));
    s += group;
  }
  return s;
}

TEST_F(DumpTest, DumpOfNothingIsOneEmptyLine) {
  HeaderBuffer b = buffer_of(0);
  dump_header_bytes(&captured_.report, &b);
  EXPECT_EQ(captured_.out, "\n\n");
}

TEST_F(DumpTest, DumpPutsTwentyFourBytesOnALine) {
  HeaderBuffer b = buffer_of(24);
  dump_header_bytes(&captured_.report, &b);
  EXPECT_EQ(captured_.out, hex_groups(0, 24) + "\n\n");

  captured_.out.clear();
  b = buffer_of(25);
  dump_header_bytes(&captured_.report, &b);
  EXPECT_EQ(captured_.out, hex_groups(0, 24) + "\n" + hex_groups(24, 25) + "\n\n");
  EXPECT_EQ(captured_.out.substr(0, 9), "00 07 0e ");
}

TEST_F(DumpTest, DumpIsALevelTwoMessage) {
  HeaderBuffer b = buffer_of(3);
  captured_.report.verbosity = 1;
  dump_header_bytes(&captured_.report, &b);
  EXPECT_EQ(captured_.out, "");
}

TEST_F(DumpTest, DumpNeverReadsPastTheBuffer) {
  HeaderBuffer b = buffer_of(5000);  // a corrupt count
  dump_header_bytes(&captured_.report, &b);
  EXPECT_EQ(std::count(captured_.out.begin(), captured_.out.end(), ' '), 1024);
}

}  // namespace
