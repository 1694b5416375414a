// The test files' leaky-bucket copies of the sample held to two readers: the built program
// prints the buckets as they were written, and FFmpeg still decodes every frame (skipped,
// with a message, where FFmpeg is not installed). Their streams, converted by the program,
// give the bitrate check the figures that tests/tools/bitrate_figures.py computes on its
// own from the written stream and the frames' times.
#include "tests/support/hrd_copies.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/bitrate.h"
#include "report/json.h"
#include "report/report.h"
#include "tests/support/captured_report.h"
#include "tests/support/frame_check.h"
#include "tests/support/run_binary.h"

namespace {

constexpr uint64_t kFramePeriod = 417083;  // 100-ns units, put in the copies' ASF header

// The module's members for the converted stream: a frame's bytes are its start code and
// data, and the headers before it after a key frame's entry point.
std::string module_members(const Bytes& es, const std::vector<int64_t>& times, const HrdSpec& spec) {
  BitrateSettings s = {};
  s.period = bitrate_period_from_100ns(kFramePeriod);
  s.hrd = {static_cast<uint32_t>(spec.buckets.size()),
           spec.bit_rate_exponent,
           spec.buffer_size_exponent,
           {},
           {},
           {}};
  for (size_t n = 0; n < spec.buckets.size(); n++) {
    s.hrd.rate[n] = spec.buckets[n].rate, s.hrd.buffer[n] = spec.buckets[n].buffer,
    s.hrd.full[n] = spec.buckets[n].full;
  }
  BitrateCheck* check = bitrate_check_create(&s);
  EsFrames es_frames = split_elementary_stream(es);
  size_t headers = 0;  // the bytes before the first frame start code, written before every key frame
  while (headers + 3 < es.size() &&
         !(es[headers] == 0 && es[headers + 1] == 0 && es[headers + 2] == 1 && es[headers + 3] == 0x0D)) {
    headers++;
  }
  for (size_t i = 0; i < es_frames.frames.size() && i < times.size(); i++) {
    size_t bytes = 4 + es_frames.frames[i].size() + (es_frames.after_headers[i] ? headers : 0);
    bitrate_check_frame(check, static_cast<uint32_t>(bytes), times[i], 1, false);
  }
  BitrateResults r;
  bitrate_check_finish(check, &r);
  std::string out;
  JsonWriter w;
  json_init(&w, append_to_string, &out);
  json_begin_object(&w, nullptr);
  bitrate_write_json(&w, &r);
  json_end(&w);
  bitrate_check_release(check);
  return out;
}

TEST(HrdCopies, ReadBackAsWrittenAndGiveTheCheckTheFiguresCountedFromTheStream) {
  const struct {
    const char* name;
    HrdSpec spec;
    std::vector<bool> holds;
  } cases[] = {
      {"one bucket that holds: 400 Kb/s, 200 Kb", {4, 4, {{390, 781, 255}}}, {true}},
      {"one that underflows: 150 Kb/s, 100 Kb", {4, 4, {{146, 390, 255}}}, {false}},
      {"two buckets, the second half full", {5, 3, {{240, 1500, 200}, {80, 2000, 127}}}, {true, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(with_hrd(sample_wmv().type_specific, c.spec).empty());
    std::string dir = make_scratch_dir(), path = dir + "/hrd.wmv";
    ASSERT_TRUE(write_file(path, sample_with_hrd(c.spec, {.video = {{.frame_period = kFramePeriod}}}).bytes));
    std::string printed = run_tarvel_binary({"-v2", path}).out;
    std::string expected =
        "HRD_PARAM_FLAG: 1\n-HRD_NUM_LEAKY_BUCKETS: " + std::to_string(c.spec.buckets.size()) +
        "\n-BIT_RATE_EXPONENT: " + std::to_string(c.spec.bit_rate_exponent) +
        "\n-BUFFER_SIZE_EXPONENT: " + std::to_string(c.spec.buffer_size_exponent) + "\n";
    for (size_t n = 0; n < c.spec.buckets.size(); n++) {
      expected += "HRD_RATE[" + std::to_string(n + 1) + "]: " + std::to_string(c.spec.buckets[n].rate) + "\n";
      expected +=
          "HRD_BUFFER[" + std::to_string(n + 1) + "]: " + std::to_string(c.spec.buckets[n].buffer) + "\n";
    }
    EXPECT_NE(printed.find(expected), std::string::npos) << printed;
    for (size_t n = 0; n < c.spec.buckets.size(); n++) {
      std::string full =
          "HRD_FULL[" + std::to_string(n + 1) + "]: " + std::to_string(c.spec.buckets[n].full) + "\n";
      EXPECT_NE(printed.find(full), std::string::npos) << printed;
    }
    if (have_ffmpeg()) {
      std::string md5 = shell_output("ffmpeg -v error -i '" + path + "' -f framemd5 - | grep -vc '^#'");
      EXPECT_EQ(md5, "120\n");
    }

    BinaryRun run = run_tarvel_binary({"--json", "-v3", path, dir + "/hrd.vc1"});
    save_file(dir + "/doc.json", run.out);
    std::vector<int64_t> times;
    for (size_t at = run.out.find("\"time_ms\": "); at != std::string::npos;
         at = run.out.find("\"time_ms\": ", at + 1))
      times.push_back(std::stoll(run.out.substr(at + 11)));
    ASSERT_EQ(times.size(), 120u);
    save_file(dir + "/module.json", module_members(read_file(dir + "/hrd.vc1"), times, c.spec));
    std::string counted =
        shell_output("python3 " TARVEL_SOURCE_DIR "/tests/tools/bitrate_figures.py '" + dir + "/hrd.vc1' '" +
                     dir + "/doc.json' --period-100ns " + std::to_string(kFramePeriod) + " --expect '" + dir +
                     "/module.json' 2>&1");
    std::string holds;
    for (bool h : c.holds) holds += h ? " holds" : " underflows";
    EXPECT_EQ(counted, "same:" + holds + "\n");
  }
  if (!have_ffmpeg()) GTEST_SKIP() << "FFmpeg is not installed: the copies were read by the program only";
}

}  // namespace
