// The timestamps file as the demux writes it: sorted within the reorder window, moved up
// when the file starts before its preroll, kept sorted past a time behind the window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demux/demux.h"
#include "report/report.h"
#include "tests/support/captured_report.h"
#include "tests/support/test_files.h"

namespace {

TEST(Timestamps, WrittenSortedAsTheFramesComeAndNeverBelowZero) {
  std::vector<uint32_t> far_back;          // a full window of times, then one behind all of them
  std::string far_back_lines = "0\n10\n";  // the late one is written as the last before it
  for (uint32_t i = 0; i <= kTimestampWindow + 1; i++) far_back.push_back(1000 + 10 * i);
  for (uint32_t i = 1; i <= kTimestampWindow + 1; i++) far_back_lines += std::to_string(10 * i) + "\n";
  far_back.push_back(1005);
  struct Row {
    uint64_t preroll;
    std::vector<uint32_t> times;
    int64_t other;  // another stream's payload time; -1: none
    std::string lines;
    std::string warning;  // part of the one warning expected; "" for none
  } rows[] = {
      {100, {100, 400, 200, 300, 700, 500, 600}, -1, "0\n100\n200\n300\n400\n500\n600\n", ""},
      {1000, {900, 1000, 950}, -1, "0\n50\n100\n", "starts 100 ms before its preroll; timestamps file t has"},
      {1000, {900, 1000}, 700, "200\n300\n", "starts 300 ms before its preroll"},
      {1000, {1100}, 1050, "100\n", ""},
      {UINT64_MAX, {100, 200}, -1, "0\n100\n", "4611686018427387804 ms before its preroll"},  // held at 2^62
      {1000, far_back, -1, far_back_lines, "frame 19 is timed before frames shown ahead of it"},
  };
  for (const Row& row : rows) {
    std::string path = temp_path("ts.txt");
    PlatformFile file = platform_create(path.c_str(), kCreateAlways, kInvalidFile);
    ASSERT_NE(file, kInvalidFile);
    CapturedReport captured(1);
    const std::string& out = captured.out;
    FrameTimes times;
    frame_times_start(&times, &captured.report, file, "t", row.preroll);
    if (row.other >= 0) frame_times_note_other(&times, static_cast<uint32_t>(row.other));
    for (uint32_t t : row.times) frame_times_add(&times, t);
    EXPECT_TRUE(frame_times_finish(&times));
    platform_close(file);
    EXPECT_EQ(load_file(path), "# timestamp format v2\n" + row.lines);
    EXPECT_EQ(out.empty(), row.warning.empty()) << out;
    EXPECT_NE(out.find(row.warning), std::string::npos) << out;
  }
}

}  // namespace
