// Level routing and filtering, and the header byte dump layout.
#include "cli/console.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Captured {
  std::string console;
  std::string out;
};

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override { console_capture(&captured_.console, &captured_.out); }
  void TearDown() override {
    console_capture(nullptr, nullptr);
    g_verbosity = 2;
  }
  Captured captured_;
};

TEST_F(ConsoleTest, EachVerbosityShowsItsLevelsAndLevelZeroAlwaysGoesToTheConsole) {
  const char* expected_out[] = {"", "1", "12", "123"};
  for (uint32_t v = 0; v <= 3; v++) {
    captured_ = {};
    g_verbosity = v;
    print_at_level(0, "0");
    print_at_level(1, "1");
    print_at_level(2, "2");
    print_at_level(3, "3");
    EXPECT_EQ(captured_.console, "0") << "verbosity " << v;
    EXPECT_EQ(captured_.out, expected_out[v]) << "verbosity " << v;
  }
}

TEST_F(ConsoleTest, PrintAlwaysIgnoresTheVerbosity) {
  g_verbosity = 0;
  print_always("Invalid stream #%d\n", 0);
  EXPECT_EQ(captured_.out, "Invalid stream #0\n");
  EXPECT_EQ(captured_.console, "");
}

TEST_F(ConsoleTest, LongMessagesAreNotCut) {
  std::string long_text(5000, 'x');
  print_at_level(2, "%s|", long_text.c_str());
  EXPECT_EQ(captured_.out, long_text + "|");
}

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

TEST_F(ConsoleTest, DumpOfNothingIsOneEmptyLine) {
  HeaderBuffer b = buffer_of(0);
  dump_header_bytes(&b);
  EXPECT_EQ(captured_.out, "\n\n");
}

TEST_F(ConsoleTest, DumpPutsTwentyFourBytesOnALine) {
  HeaderBuffer b = buffer_of(24);
  dump_header_bytes(&b);
  EXPECT_EQ(captured_.out, hex_groups(0, 24) + "\n\n");

  captured_.out.clear();
  b = buffer_of(25);
  dump_header_bytes(&b);
  EXPECT_EQ(captured_.out, hex_groups(0, 24) + "\n" + hex_groups(24, 25) + "\n\n");
  EXPECT_EQ(captured_.out.substr(0, 9), "00 07 0e ");
}

TEST_F(ConsoleTest, DumpIsALevelTwoMessage) {
  HeaderBuffer b = buffer_of(3);
  g_verbosity = 1;
  dump_header_bytes(&b);
  EXPECT_EQ(captured_.out, "");
}

TEST_F(ConsoleTest, DumpNeverReadsPastTheBuffer) {
  HeaderBuffer b = buffer_of(5000);  // a corrupt count
  dump_header_bytes(&b);
  EXPECT_EQ(std::count(captured_.out.begin(), captured_.out.end(), ' '), 1024);
}

}  // namespace
