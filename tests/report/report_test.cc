// Level routing and filtering of the text sink.
#include "report/report.h"

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
    report_set_verbosity(2);
  }
  Captured captured_;
};

TEST_F(ConsoleTest, EachVerbosityShowsItsLevelsAndLevelZeroAlwaysGoesToTheConsole) {
  const char* expected_out[] = {"", "1", "12", "123"};
  for (uint32_t v = 0; v <= 3; v++) {
    captured_ = {};
    report_set_verbosity(v);
    print_at_level(0, "0");
    print_at_level(1, "1");
    print_at_level(2, "2");
    print_at_level(3, "3");
    EXPECT_EQ(captured_.console, "0") << "verbosity " << v;
    EXPECT_EQ(captured_.out, expected_out[v]) << "verbosity " << v;
  }
}

TEST_F(ConsoleTest, PrintAlwaysIgnoresTheVerbosity) {
  report_set_verbosity(0);
  print_always("Invalid stream #%d\n", 0);
  EXPECT_EQ(captured_.out, "Invalid stream #0\n");
  EXPECT_EQ(captured_.console, "");
}

TEST_F(ConsoleTest, LongMessagesAreNotCut) {
  std::string long_text(5000, 'x');
  print_at_level(2, "%s|", long_text.c_str());
  EXPECT_EQ(captured_.out, long_text + "|");
}

}  // namespace
