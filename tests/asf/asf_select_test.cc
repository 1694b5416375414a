// The choice of the video stream: usable WVC1 streams only, highest bitrate, ties to the
// higher number, bitrate shown rounded to Kb/s.
#include <gtest/gtest.h>

#include <string>

#include "asf/asf.h"
#include "report/report.h"

namespace {

struct Choice {
  uint32_t stream = 999;
  std::string out;
};

struct StreamSetup {
  uint32_t number;
  uint32_t is_video;
  uint32_t is_wvc1;
  uint32_t bitrate;
};

Choice choose(std::initializer_list<StreamSetup> streams) {
  AsfParserContext* context = asf_context_create(kInvalidFile, nullptr);
  for (const StreamSetup& s : streams) {
    AsfStreamRecord* record = asf_find_or_create_stream(context, s.number);
    record->is_video = s.is_video;
    record->is_wvc1 = s.is_wvc1;
    record->ext_stream_properties.data_bitrate = s.bitrate;
  }
  Choice c;
  std::string console;
  report_set_verbosity(2);
  console_capture(&console, &c.out);
  c.stream = asf_select_video_stream(context);
  console_capture(nullptr, nullptr);
  asf_context_free(context);
  return c;
}

std::string chosen(int stream, int kbs) {
  return "Video stream with highest bitrate is stream " + std::to_string(stream) +
         " (bitrate = " + std::to_string(kbs) + " Kb/s)\n";
}

TEST(AsfSelectVideoStream, NoUsableStreamChoosesNone) {
  Choice c = choose({{1, 1, 0, 5000}, {2, 0, 0, 9000}});
  EXPECT_EQ(c.stream, 0u);
  EXPECT_EQ(c.out, "No video streams found.\n");
  EXPECT_EQ(choose({}).stream, 0u);
}

TEST(AsfSelectVideoStream, TieGoesToTheHigherStreamNumber) {
  Choice c = choose({{5, 1, 1, 2000000}, {3, 1, 1, 2000000}});
  EXPECT_EQ(c.stream, 5u);
  EXPECT_EQ(c.out, chosen(5, 2000));
}

TEST(AsfSelectVideoStream, HighestBitrateAmongWvc1StreamsWins) {
  Choice c = choose({{1, 1, 1, 300000}, {2, 1, 0, 9000000}, {9, 1, 1, 200000}});
  EXPECT_EQ(c.stream, 1u);
  EXPECT_EQ(c.out, chosen(1, 300));
  Choice unknown = choose({{4, 1, 1, 0}});  // no Extended Stream Properties: bitrate 0
  EXPECT_EQ(unknown.stream, 4u);
  EXPECT_EQ(unknown.out, chosen(4, 0));
}

TEST(AsfSelectVideoStream, BitrateIsShownRoundedToKilobits) {
  EXPECT_EQ(choose({{1, 1, 1, 499}}).out, chosen(1, 0));
  EXPECT_EQ(choose({{1, 1, 1, 500}}).out, chosen(1, 1));
  EXPECT_EQ(choose({{1, 1, 1, 1499}}).out, chosen(1, 1));
}

}  // namespace
