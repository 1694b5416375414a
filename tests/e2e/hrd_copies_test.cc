// The bitrate figures and the leaky-bucket check through the built program, on the sample
// and on copies of it whose headers carry leaky buckets (HRD parameters): the document's
// "bitrate" and "hrd" members, and the text lines, against the figures that
// tests/tools/bitrate_figures.py counts on its own from the written stream and the frames'
// times. The copies are also held to two readers: the program prints the buckets as they
// were written, and FFmpeg still decodes every frame (skipped, with a message, where FFmpeg
// is not installed). The picture of each run is parsed as XML and drawn by rsvg-convert.
#include "tests/support/hrd_copies.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/frame_check.h"
#include "tests/support/run_binary.h"

namespace {

constexpr uint64_t kFramePeriod = 417083;  // 100-ns units, put in the copies' ASF header

// The header lines of the buckets, as the program prints them at -v2.
std::string bucket_lines(const HrdSpec& spec) {
  std::string lines = "HRD_PARAM_FLAG: 1\n-HRD_NUM_LEAKY_BUCKETS: " + std::to_string(spec.buckets.size()) +
                      "\n-BIT_RATE_EXPONENT: " + std::to_string(spec.bit_rate_exponent) +
                      "\n-BUFFER_SIZE_EXPONENT: " + std::to_string(spec.buffer_size_exponent) + "\n";
  for (size_t n = 0; n < spec.buckets.size(); n++) {
    lines += "HRD_RATE[" + std::to_string(n + 1) + "]: " + std::to_string(spec.buckets[n].rate) + "\n";
    lines += "HRD_BUFFER[" + std::to_string(n + 1) + "]: " + std::to_string(spec.buckets[n].buffer) + "\n";
  }
  return lines;
}

TEST(HrdCopies, FiguresAndBucketsOfTheWrittenStreamAreTheOnesCountedFromIt) {
  const struct {
    const char* name;
    HrdSpec spec;  // no buckets: the sample itself, whose ASF header gives no frame period
    const char* outcomes;
    const char* bucket_text;  // the text lines after the "Bitrate:" line
  } cases[] = {
      {"the sample: no buckets, the period from the frames' times", {}, "", ""},
      {"one bucket that holds: 400 Kb/s, 200 Kb",
       {4, 4, {{390, 781, 255}}},
       "holds",
       "HRD leaky bucket 1 (rate 400 Kb/s, buffer 200 Kb): holds\n"},
      {"one that underflows: 150 Kb/s, 100 Kb",
       {4, 4, {{146, 390, 255}}},
       "underflows",
       "HRD leaky bucket 1 (rate 151 Kb/s, buffer 100 Kb): underflow at frame 28 (1.126 s)\n"},
      {"two buckets, the second half full",
       {5, 3, {{240, 1500, 200}, {80, 2000, 127}}},
       "holds underflows",
       "HRD leaky bucket 1 (rate 494 Kb/s, buffer 192 Kb): holds\n"
       "HRD leaky bucket 2 (rate 166 Kb/s, buffer 256 Kb): underflow at frame 110 (4.546 s)\n"},
  };
  bool renders = !shell_output("command -v rsvg-convert").empty();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dir = make_scratch_dir(), path = dir + "/in.wmv";
    bool copy = !c.spec.buckets.empty();
    if (copy) {
      ASSERT_TRUE(
          write_file(path, sample_with_hrd(c.spec, {.video = {{.frame_period = kFramePeriod}}}).bytes));
      EXPECT_NE(run_tarvel_binary({"-v2", path}).out.find(bucket_lines(c.spec)), std::string::npos);
      if (have_ffmpeg()) {
        EXPECT_EQ(shell_output("ffmpeg -v error -i '" + path + "' -f framemd5 - | grep -vc '^#'"), "120\n");
      }
    } else {
      save_file(path, load_file(testdata_path("vc1ap_240x104.wmv")));
    }

    BinaryRun run = run_tarvel_binary({"--json", "-v3", path, dir + "/out.vc1", "--plot=" + dir + "/p.svg"});
    EXPECT_EQ(run.status, 0);
    save_file(dir + "/doc.json", run.out);
    std::string period = copy ? " --period-100ns " + std::to_string(kFramePeriod) : "";
    std::string counted =
        shell_output(python() + " " TARVEL_SOURCE_DIR "/tests/tools/bitrate_figures.py '" + dir +
                     "/out.vc1' '" + dir + "/doc.json'" + period + " --expect '" + dir + "/doc.json' 2>&1");
    EXPECT_EQ(counted, std::string("same: ") + c.outcomes + "\n");

    // The text lines say the same, after the summary and before the remux advice.
    std::string text = run_tarvel_binary({"-v1", "-y", path, dir + "/out.vc1"}).out;
    size_t line = text.find("\nBitrate: average ");
    ASSERT_NE(line, std::string::npos) << text;
    EXPECT_LT(text.find("Total Bytes Written"), line);
    EXPECT_EQ(text.compare(text.find('\n', line + 1) + 1, std::string(c.bucket_text).size(), c.bucket_text),
              0)
        << text.substr(line);
    EXPECT_GT(text.find("\nRemux: "), line);

    std::string svg = dir + "/p.svg";
    EXPECT_LT(load_file(svg).size(), 1000000u);
    // An information run draws the frames the conversion would write, and prints their figures.
    BinaryRun info = run_tarvel_binary({"-v1", path, "--plot=" + dir + "/q.svg"});
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find(text.substr(line, text.find("\nRemux: ") - line)), std::string::npos) << info.out;
    EXPECT_TRUE(load_file(dir + "/q.svg") == load_file(svg));
    if (!renders) continue;
    ASSERT_EQ(shell_output("rsvg-convert '" + svg + "' -o '" + svg + ".png' 2>&1 && echo drawn"), "drawn\n");
    std::string found = shell_output(python() + " " TARVEL_SOURCE_DIR "/tests/report/svg_check.py '" + svg +
                                     "' '" + svg + ".png' I=#d62728 P=#1f77b4 B=#2ca02c 2>&1");
    EXPECT_NE(found.find("title: 696e2e776d76\n"), std::string::npos) << found;  // "in.wmv"
    EXPECT_NE(found.find("drawn: I P B\n"), std::string::npos) << found;
    EXPECT_EQ(found.find("problem"), std::string::npos) << found;
  }
  if (!have_ffmpeg()) GTEST_SKIP() << "FFmpeg is not installed: the copies were read by the program only";
  if (!renders) GTEST_SKIP() << "rsvg-convert is not installed: the pictures were not drawn";
}

}  // namespace
