// Picture types, the char-per-frame table, the per-frame listing and the summary text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/asf_packets.h"

namespace {

struct FramePlan {
  uint8_t first_byte;
  bool key_frame;
};

// Frames large enough that every packet is longer than the 32-byte tail that is never
// parsed, so that the last frame is walked too.
constexpr size_t kFrameSize = 20;

Bytes stream_of(const std::vector<FramePlan>& frames) {
  std::vector<PacketLayout> packets;
  uint32_t seed = 1;
  for (const FramePlan& frame : frames) {
    Bytes bytes = pattern_bytes(kFrameSize, seed++);
    bytes[0] = frame.first_byte;
    packets.push_back(whole_object_packet(1, frame.key_frame, bytes));
  }
  return build_data_object(packets);
}

DemuxRun run_frames(const std::vector<FramePlan>& frames, uint32_t verbosity, uint32_t interlaced = 0) {
  DemuxRun run;
  run.verbosity = verbosity;
  run.interlaced = interlaced;
  run.output_headers = pattern_bytes(20, 7);
  run.avg_time_per_frame = 400000;
  EXPECT_TRUE(run_demux(stream_of(frames), &run));
  return run;
}

std::string opening(const std::vector<FramePlan>& frames) {
  return "\nFound ASF_Data_Object\n-- len = " + std::to_string(stream_of(frames).size()) +
         " bytes; contains " + std::to_string(frames.size()) +
         " data packets\nStarting ASF demux / VC-1 write...\n\n";
}

const std::vector<FramePlan> kSixFrames = {{0xC5, true},  {0x12, false}, {0x9A, false},
                                           {0x88, false}, {0x30, false}, {0xD1, true}};
const char kFootnote[] =
    "* \"1-based\" - i.e. a file composed of 100% keyframes displays \"1\", not \"0\".\n";

TEST(DemuxDisplayTest, ProgressivePictureTypeComesFromTheTopFourBits) {
  const std::pair<uint8_t, int> cases[] = {{0x00, 2}, {0x7F, 2}, {0x80, 3}, {0xB0, 3},
                                           {0xC0, 1}, {0xD0, 1}, {0xE0, 4}, {0xF0, 5}};
  for (auto [byte, type] : cases) EXPECT_EQ(classify_picture_type(byte, 0), type) << int(byte);
}

TEST(DemuxDisplayTest, InterlacedPictureTypeFollowsTheFrameCodingMode) {
  const std::pair<uint8_t, int> cases[] = {
      {0x00, 2},  {0x40, 3},  {0x60, 1}, {0x70, 4}, {0x78, 5},   // progressive picture
      {0x90, 2},  {0xA0, 3},  {0xB0, 1}, {0xB8, 4}, {0xBC, 5},   // frame-interlaced
      {0xC0, 6},  {0xC8, 7},  {0xD0, 8}, {0xD8, 9}, {0xE0, 10},  // field pairs
      {0xE8, 11}, {0xF0, 12}, {0xF8, 13}};
  for (auto [byte, type] : cases) EXPECT_EQ(classify_picture_type(byte, 1), type) << int(byte);
}

TEST(DemuxDisplayTest, SixProgressiveFramesGiveTheCompactReportAtVerbosityTwo) {
  DemuxRun run = run_frames(kSixFrames, 2);
  std::string expected =
      opening(kSixFrames) +
      "|-<<-|\n"
      "\nDone.\n\n"
      "Summary of Frames Written:\n\n"
      "  Progressive or Frame Coded Interlaced Frames\n"
      "  --------------------------------------------\n"
      "  '|'  [I]  Intra-Coded (Keyframe)     : 2\n"
      "  '-'  [P]  Predictive                 : 2\n"
      "  '<'  [B]  Bidirectionally Predictive : 2\n"
      "  '^'  [BI] Intra-Coded [B]-Like Frames: 0\n"
      "  '_'  [D]  Skipped (\"Duplicated\")     : 0\n"
      "\n  Field Coded Interlaced Frames\n"
      "  --------------------------------------------\n"
      "  '!'  [I/I] or [I/P] (\"Keyframe\" Field Pairs): 0\n"
      "  '='  All VC-1 Supported \"Non-keyframe\" Pairs: 0\n"
      "\n"
      "      Note: [P/I], [P/P], [B/B], [B/BI], [BI/B] and [BI/BI] pairs are all shown as '=' "
      "in the frame table.\n"
      "      Use the \"-v3\" command line option for a specific breakdown.\n"
      "\nOverall summary:\n\n"
      "Interlaced Content     : No\n"
      "Max Keyframe Distance *: 5\n"
      "Total Keyframes Written: 2\n"
      "Total Frames Written   : 6\n"
      "Total Bytes Written    : " +
      std::to_string(2 * 20 + 6 * (4 + kFrameSize) + 4) + "\n\n" + kFootnote;
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(run.console, "");
}

TEST(DemuxDisplayTest, VerbosityThreeListsEveryFrameAndBreaksDownFieldPairs) {
  std::vector<FramePlan> frames = {{0xC0, true}, {0x12, false}, {0xE0, true}, {0xF0, false}};
  DemuxRun run = run_frames(frames, 3);
  std::string expected = opening(frames) +
                         "Frame:     1  Time:0.000 sec  K  Type:I      Bytes:20\n"
                         "Frame:     2  Time:0.040 sec     Type:P      Bytes:20\n"
                         "Frame:     3  Time:0.080 sec  K  Type:BI     Bytes:20\n"
                         "Frame:     4  Time:0.120 sec     Type:SKIP   Bytes:20\n"
                         "\nDone.\n\n"
                         "Summary of Frames Written:\n\n"
                         "  Progressive or Frame Coded Interlaced Frames\n"
                         "  --------------------------------------------\n"
                         "  [I]  Intra-Coded (Keyframe)       (K): 1\n"
                         "  [P]  Predictive                      : 1\n"
                         "  [B]  Bidirectionally Predictive      : 0\n"
                         "  [BI] Intra-Coded [B]-Like Frames     : 1\n"
                         "  [D]  Skipped (\"Duplicated\")          : 1\n"
                         "\n  Field Coded Interlaced Frames\n"
                         "  --------------------------------------------\n"
                         "  [I/I]   Field 1=[I],  Field 2=[I] (K): 0\n"
                         "  [I/P]   Field 1=[I],  Field 2=[P] (K): 0\n"
                         "  [P/I]   Field 1=[P],  Field 2=[I]    : 0\n"
                         "  [P/P]   Field 1=[P],  Field 2=[P]    : 0\n"
                         "  [B/B]   Field 1=[B],  Field 2=[B]    : 0\n"
                         "  [B/BI]  Field 1=[B],  Field 2=[BI]   : 0\n"
                         "  [BI/B]  Field 1=[BI], Field 2=[B]    : 0\n"
                         "  [BI/BI] Field 1=[BI], Field 2=[BI]   : 0\n"
                         "  \nNote: Frame types designated (K) are considered keyframes.\n"
                         "\nOverall summary:\n\n"
                         "Interlaced Content     : No\n"
                         "Max Keyframe Distance *: 2\n"
                         "Total Keyframes Written: 1\n"
                         "Total Frames Written   : 4\n"
                         "Total Bytes Written    : " +
                         std::to_string(2 * 20 + 4 * (4 + kFrameSize) + 4) + "\n\n" + kFootnote;
  EXPECT_EQ(run.out, expected);
}

TEST(DemuxDisplayTest, ListingTimeIsFrameIndexTimesAverageFramePeriod) {
  std::vector<FramePlan> frames(26, FramePlan{0xC0, true});
  DemuxRun run = run_frames(frames, 3);
  EXPECT_NE(run.out.find("Frame:    26  Time:1.000 sec  K  Type:I      Bytes:20\n"), std::string::npos);
}

TEST(DemuxDisplayTest, VerbosityOneShowsDoneAndTheOverallSummaryOnly) {
  DemuxRun run = run_frames(kSixFrames, 1);
  EXPECT_EQ(run.out,
            "\nDone.\n\n\nOverall summary:\n\n"
            "Interlaced Content     : No\n"
            "Max Keyframe Distance *: 5\n"
            "Total Keyframes Written: 2\n"
            "Total Frames Written   : 6\n"
            "Total Bytes Written    : 188\n\n" +
                std::string(kFootnote));
  DemuxRun quiet = run_frames(kSixFrames, 0);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.output, run.output);
}

TEST(DemuxDisplayTest, SixtyFourFramesFillOneLinePrintedAtTheEnd) {
  std::vector<FramePlan> frames(64, FramePlan{0x12, false});
  frames[0] = {0xC0, true};
  DemuxRun run = run_frames(frames, 2);
  std::string line = "|" + std::string(63, '-');
  EXPECT_NE(run.out.find("Starting ASF demux / VC-1 write...\n\n" + line + "\n\nDone.\n\n"),
            std::string::npos);
}

TEST(DemuxDisplayTest, SixtyFifthFramePrintsTheFullLineAndStartsANewOne) {
  std::vector<FramePlan> frames(65, FramePlan{0x12, false});
  frames[0] = {0xC0, true};
  frames[64] = {0x80, false};
  DemuxRun run = run_frames(frames, 2);
  std::string line = "|" + std::string(63, '-');
  EXPECT_NE(run.out.find("Starting ASF demux / VC-1 write...\n\n" + line + "\n<\n\nDone.\n\n"),
            std::string::npos);
  // At verbosity 3 the line is kept but never printed.
  DemuxRun listed = run_frames(frames, 3);
  EXPECT_EQ(listed.out.find(line), std::string::npos);
  EXPECT_NE(listed.out.find("Frame:    65  Time:2.560 sec     Type:B      Bytes:20\n"), std::string::npos);
}

TEST(DemuxDisplayTest, NoFramesGiveAnEmptyLineZeroCountsAndDistanceOne) {
  DemuxRun run = run_frames({}, 2);
  EXPECT_NE(run.out.find("Starting ASF demux / VC-1 write...\n\n\n\nDone.\n\n"), std::string::npos);
  EXPECT_NE(run.out.find("Max Keyframe Distance *: 1\nTotal Keyframes Written: 0\n"
                         "Total Frames Written   : 0\nTotal Bytes Written    : 4\n"),
            std::string::npos);
}

TEST(DemuxDisplayTest, KeyframeDistanceCountsFramesBetweenKeyFlags) {
  struct Case {
    std::vector<bool> keys;
    const char* shown;
  };
  const Case cases[] = {
      {{true, false, false, true, false, false, false}, "Max Keyframe Distance *: 4\n"},
      {{true, true, true}, "Max Keyframe Distance *: 1\n"},
      {{false, false, true, false}, "Max Keyframe Distance *: 3\n"},
  };
  for (const Case& c : cases) {
    std::vector<FramePlan> frames;
    for (bool key : c.keys) frames.push_back({0x12, key});
    DemuxRun run = run_frames(frames, 1);
    EXPECT_NE(run.out.find(c.shown), std::string::npos) << c.shown;
  }
}

TEST(DemuxDisplayTest, KeyFlagDecidesHeadersAndPictureTypeDecidesKeyframeCount) {
  // A key-flagged BI frame shows as '*', counts as BI and gets headers; an I frame
  // without the flag shows as '|', counts as a keyframe and gets none.
  std::vector<FramePlan> frames = {{0xC0, true}, {0xE0, true}, {0xC0, false}};
  DemuxRun run = run_frames(frames, 2);
  EXPECT_NE(run.out.find("\n|*|\n"), std::string::npos);
  EXPECT_NE(run.out.find("Total Keyframes Written: 2\n"), std::string::npos);
  EXPECT_EQ(run.frame_type_counts[4], 1u);
  Bytes headers = pattern_bytes(20, 7);
  Bytes expected;
  Bytes frame1 = pattern_bytes(kFrameSize, 1), frame2 = pattern_bytes(kFrameSize, 2),
        frame3 = pattern_bytes(kFrameSize, 3);
  frame1[0] = 0xC0;
  frame2[0] = 0xE0;
  frame3[0] = 0xC0;
  append(&expected, expected_frame(headers, frame1));
  append(&expected, expected_frame(headers, frame2));
  append(&expected, expected_frame({}, frame3));
  append(&expected, end_of_sequence());
  EXPECT_EQ(run.output, expected);
}

TEST(DemuxDisplayTest, InterlacedStreamShowsFieldPairsAndSaysSo) {
  std::vector<FramePlan> frames = {{0xC0, true},  {0xD8, false}, {0x60, false},
                                   {0xB0, false}, {0xC8, false}, {0xF8, false}};
  DemuxRun run = run_frames(frames, 2, 1);
  EXPECT_NE(run.out.find("\n!=||!=\n"), std::string::npos);
  EXPECT_NE(run.out.find("  '!'  [I/I] or [I/P] (\"Keyframe\" Field Pairs): 2\n"
                         "  '='  All VC-1 Supported \"Non-keyframe\" Pairs: 2\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("Interlaced Content     : Yes\n"), std::string::npos);
  EXPECT_NE(run.out.find("Total Keyframes Written: 4\n"), std::string::npos);
}

}  // namespace
