// The JSON writer's escaping, and the bound on the messages a document keeps.
#include "report/json.h"

#include <gtest/gtest.h>

#include <string>

#include "report/report.h"
#include "tests/support/captured_report.h"

namespace {

// What the writer makes of `text` as one array element.
std::string escaped(const std::string& text) {
  std::string out;
  JsonWriter w;
  json_init(&w, append_to_string, &out);
  json_begin_array(&w, nullptr, kJsonOneLine);
  json_string_bytes(&w, nullptr, text.data(), text.size());
  json_end(&w);
  return out.substr(1, out.size() - 3);  // inside "[" and "]\n"
}

// n replacement characters, quoted.
std::string replaced(int n) {
  std::string text = "\"";
  for (int i = 0; i < n; i++) text += "\\ufffd";
  return text + "\"";
}

TEST(JsonWriter, StringsAreEscapedAsRfc8259WantsAndBadUtf8BecomesReplacementCharacters) {
  const struct {
    std::string text;
    std::string json;
  } cases[] = {
      {"plain text", "\"plain text\""},
      {"\"quoted\" \\ back", "\"\\\"quoted\\\" \\\\ back\""},
      {"/ stays", "\"/ stays\""},
      {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
      {std::string("\x00\x01\x1f\x7f", 4), "\"\\u0000\\u0001\\u001f\x7f\""},
      {"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xac",
       "\"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xac\""},                        // 2, 3, 4 bytes
      {"\xe2\x80\xa8\xf4\x8f\xbf\xbf", "\"\xe2\x80\xa8\xf4\x8f\xbf\xbf\""},  // U+2028, U+10FFFF
      {"a\x80z", "\"a\\ufffdz\""},                                           // a lone continuation byte
      {"\xc0\xaf\xe0\x80\xaf\xf0\x80\x80\xaf", replaced(9)},                 // overlong '/'s
      {"\xed\xa0\x80", replaced(3)},                                         // a surrogate
      {"\xf4\x90\x80\x80", replaced(4)},                                     // past U+10FFFF
      {"\xe2\x82", replaced(2)},                                             // cut short at the end
      {"\xff\xfe", replaced(2)},                                             // never UTF-8
  };
  for (const auto& c : cases) EXPECT_EQ(escaped(c.text), c.json) << c.json;
}

TEST(JsonDocument, MessagesPastTheBoundAreCountedAndLevelZeroIsAlwaysKept) {
  CapturedReport captured;
  const std::string& out = captured.out;
  JsonWriter document;
  report_json_start(&captured.report, &document);
  print_at_level(&captured.report, 2, "Some text that is no message\n");
  for (uint32_t i = 0; i < kMaxJsonMessages + 3; i++) {
    report_warning(&captured.report, 1, "Warning: number %u\n", i);
  }
  report_error(&captured.report, 0, "\nError: the last one\n");
  report_json_finish(&captured.report, 1);

  EXPECT_EQ(captured.console, "\nError: the last one\n");  // level 0 still reaches the console
  size_t count = 0;
  for (size_t at = out.find("{\"level\": "); at != std::string::npos; at = out.find("{\"level\": ", at + 1))
    count++;
  EXPECT_EQ(count, kMaxJsonMessages + 2);
  std::string last = "\"text\": \"Warning: number " + std::to_string(kMaxJsonMessages - 1) + "\"}";
  EXPECT_NE(out.find(last), std::string::npos);
  EXPECT_EQ(out.find("Warning: number " + std::to_string(kMaxJsonMessages) + "\""), std::string::npos);
  EXPECT_NE(
      out.find("{\"level\": 0, \"text\": \"Error: the last one\"},\n    {\"level\": 1, \"text\": \"3 more "
               "messages not listed.\"}\n  ],\n  \"status\": 1\n}\n"),
      std::string::npos)
      << out.substr(out.size() - 300);
  EXPECT_EQ(out.find("no message"), std::string::npos);
}

}  // namespace
