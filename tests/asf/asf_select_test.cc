// The choice of the video stream: usable WVC1 streams only, highest bitrate, ties to the
// higher number, bitrate shown rounded to Kb/s; the usable streams listed when there are
// several; the stream the command line names.
#include <gtest/gtest.h>

#include <string>

#include "asf/asf.h"
#include "report/report.h"
#include "tests/support/captured_report.h"

namespace {

struct Choice {
  uint32_t stream = 999;
  std::string out;
  std::string console;
  uint32_t on_command_line = 9;
};

struct StreamSetup {
  uint32_t number;
  uint32_t is_video;
  uint32_t is_wvc1;
  uint32_t bitrate;
};

Choice choose(std::initializer_list<StreamSetup> streams, uint32_t requested = 0) {
  CapturedReport captured;
  AsfParserContext* context = asf_context_create(kInvalidFile, &captured.report);
  for (const StreamSetup& s : streams) {
    AsfStreamRecord* record = asf_find_or_create_stream(context, s.number);
    record->is_video = s.is_video;
    record->is_wvc1 = s.is_wvc1;
    record->bitrate = s.bitrate;
    record->width = 100 + s.number;
    record->height = 50;
  }
  Choice c;
  c.stream = asf_select_video_stream(context, requested);
  c.console = captured.console;
  c.out = captured.out;
  EXPECT_EQ(context->chosen_stream, c.stream);
  c.on_command_line = context->chosen_on_command_line;
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

std::string usable(int stream, int kbs) {
  return "-- Usable video stream " + std::to_string(stream) + ": " + std::to_string(100 + stream) +
         " x 50, bitrate = " + std::to_string(kbs) + " Kb/s\n";
}

TEST(AsfSelectVideoStream, TieGoesToTheHigherStreamNumber) {
  Choice c = choose({{5, 1, 1, 2000000}, {3, 1, 1, 2000000}});
  EXPECT_EQ(c.stream, 5u);
  EXPECT_EQ(c.out, usable(3, 2000) + usable(5, 2000) + chosen(5, 2000));
}

TEST(AsfSelectVideoStream, HighestBitrateAmongWvc1StreamsWins) {
  Choice c = choose({{1, 1, 1, 300000}, {2, 1, 0, 9000000}, {9, 1, 1, 200000}});
  EXPECT_EQ(c.stream, 1u);
  EXPECT_EQ(c.on_command_line, 0u);
  EXPECT_EQ(c.out, usable(1, 300) + usable(9, 200) + chosen(1, 300));
  Choice unknown = choose({{4, 1, 1, 0}});  // no Extended Stream Properties: bitrate 0
  EXPECT_EQ(unknown.stream, 4u);
  EXPECT_EQ(unknown.out, chosen(4, 0));
}

TEST(AsfSelectVideoStream, BitrateIsShownRoundedToKilobits) {
  EXPECT_EQ(choose({{1, 1, 1, 499}}).out, chosen(1, 0));
  EXPECT_EQ(choose({{1, 1, 1, 500}}).out, chosen(1, 1));
  EXPECT_EQ(choose({{1, 1, 1, 1499}}).out, chosen(1, 1));
}

TEST(AsfSelectVideoStream, CommandLineChoosesAnyUsableStreamAndOnlyThose) {
  const std::initializer_list<StreamSetup> streams = {
      {1, 1, 1, 300000}, {2, 1, 1, 1000000}, {4, 1, 0, 600000}};
  Choice slower = choose(streams, 1);
  EXPECT_EQ(slower.stream, 1u);
  EXPECT_EQ(slower.on_command_line, 1u);
  EXPECT_EQ(slower.out, usable(1, 300) + usable(2, 1000) +
                            "Video stream 1 chosen on the command line (bitrate = 300 Kb/s)\n");
  EXPECT_EQ(slower.console, "");
  for (uint32_t bad : {4u, 3u, 127u}) {  // not WVC1, no such stream
    Choice c = choose(streams, bad);
    EXPECT_EQ(c.stream, 0u);
    EXPECT_EQ(c.on_command_line, 0u);
    EXPECT_EQ(c.out, usable(1, 300) + usable(2, 1000));
    EXPECT_EQ(c.console, "Error: Stream " + std::to_string(bad) + " is not a usable WVC1 video stream.\n");
  }
}

}  // namespace
