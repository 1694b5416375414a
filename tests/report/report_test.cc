// Level routing and filtering of the text sink, message kinds in the document, and the
// report's state belonging to its own Report.
#include "report/report.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "report/json.h"
#include "tests/support/captured_report.h"

namespace {

TEST(Report, EachVerbosityShowsItsLevelsAndLevelZeroAlwaysGoesToTheConsole) {
  const char* expected_out[] = {"", "1", "12", "123"};
  for (uint32_t v = 0; v <= 3; v++) {
    CapturedReport c(v);
    print_at_level(&c.report, 0, "0");
    print_at_level(&c.report, 1, "1");
    print_at_level(&c.report, 2, "2");
    print_at_level(&c.report, 3, "3");
    EXPECT_EQ(c.console, "0") << "verbosity " << v;
    EXPECT_EQ(c.out, expected_out[v]) << "verbosity " << v;
  }
}

TEST(Report, PrintAlwaysIgnoresTheVerbosityAndSilenceDropsEverything) {
  CapturedReport c(0);
  report_warning(&c.report, kLevelAlways, "Invalid stream #%d\n", 0);
  EXPECT_EQ(c.out, "Invalid stream #0\n");
  EXPECT_EQ(c.console, "");
  c.report.silent = true;
  print_always(&c.report, "a");
  report_error(&c.report, 0, "Error: b\n");
  EXPECT_EQ(c.out, "Invalid stream #0\n");
  EXPECT_EQ(c.console, "");
}

TEST(Report, LongMessagesAreNotCut) {
  CapturedReport c;
  std::string long_text(5000, 'x');
  print_at_level(&c.report, 2, "%s|", long_text.c_str());
  EXPECT_EQ(c.out, long_text + "|");
}

void raise(Report* report, MessageKind kind, uint32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report_vprint(report, kind, level, format, args);
  va_end(args);
}

// The text report shows every kind alike; the document keeps warnings and errors, of any
// level and whatever the verbosity, by the kind they were raised with and not by their
// words.
TEST(Report, WarningsAndErrorsReachTheDocumentByTheirKind) {
  const struct {
    MessageKind kind;
    uint32_t level;
    const char* text;
    bool kept;
  } rows[] = {
      {kMessageText, 1, "Warning: only looks like one", false},
      {kMessageNote, 0, "Note: a note", false},
      {kMessageWarning, 3, "-- -- a warning of level 3", true},
      {kMessageWarning, kLevelAlways, "Invalid stream #0", true},
      {kMessageError, 0, "Unable to do it", true},
      {kMessageError, 2, "an error in any words", true},
  };
  for (const auto& row : rows) {
    CapturedReport text(3);
    CapturedReport json(0);
    JsonWriter document;
    report_json_start(&json.report, &document);
    for (CapturedReport* c : {&text, &json}) raise(&c->report, row.kind, row.level, "\n%s\n", row.text);
    report_json_finish(&json.report, 0);
    std::string line = std::string("\n") + row.text + "\n";
    EXPECT_EQ(row.level == 0 ? text.console : text.out, line) << row.text;
    EXPECT_EQ(json.console, row.level == 0 ? line : "") << row.text;
    std::string entry = "{\"level\": " + std::to_string(row.level == kLevelAlways ? 1 : row.level) +
                        ", \"text\": \"" + row.text + "\"}";
    EXPECT_EQ(json.out.find(entry) != std::string::npos, row.kept) << json.out;
  }
}

TEST(Report, TwoReportsInOneProcessShareNothing) {
  CapturedReport first(3);
  CapturedReport second(0);
  JsonWriter document;
  report_json_start(&first.report, &document);
  second.report.to_standard_error = true;
  report_warning(&first.report, 1, "Warning: first\n");
  report_warning(&second.report, 0, "Warning: second\n");
  print_at_level(&second.report, 1, "hidden at verbosity 0\n");
  EXPECT_STREQ(system_error_text(&second.report), second.report.error_text);
  EXPECT_EQ(first.report.error_text[0], '\0');
  report_json_finish(&first.report, 0);
  EXPECT_EQ(first.console, "");
  EXPECT_NE(first.out.find("\"Warning: first\""), std::string::npos);
  EXPECT_EQ(first.out.find("second"), std::string::npos);
  EXPECT_EQ(second.console, "Warning: second\n");
  EXPECT_EQ(second.out, "");
  EXPECT_EQ(second.report.document, nullptr);
}

}  // namespace
