// The bitrate figures and the leaky-bucket check, held to a plain count over every frame
// kept in memory (exact 128-bit arithmetic, sorted times, no bounded buffers), and to
// buckets whose outcome follows from their numbers alone.
#include "report/bitrate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "report/json.h"
#include "report/report.h"
#include "tests/support/captured_report.h"
#include "tests/support/wmv_writer.h"

namespace {

struct Frame {
  uint32_t bytes;
  int64_t time_ms;
  int type = 2;
  bool key = false;
};

struct Checked {
  BitrateResults r;
  std::vector<uint64_t> seconds;
};

Checked run(const std::vector<Frame>& frames, BitratePeriod period, const BitrateHrd& hrd) {
  BitrateSettings s = {period, hrd, nullptr};
  BitrateCheck* check = bitrate_check_create(&s);
  for (const Frame& f : frames) bitrate_check_frame(check, f.bytes, f.time_ms, f.type, f.key);
  Checked out;
  bitrate_check_finish(check, &out.r);
  out.seconds.assign(out.r.per_second, out.r.per_second + out.r.seconds);
  out.r.per_second = out.seconds.data();  // the check's own list goes with it
  bitrate_check_release(check);
  return out;
}

// Wide enough for any product here (the test is built by GCC or Clang only).
__extension__ typedef __int128 i128;

// The figures straight from their definitions, over all frames at once.
void expect_counted(const std::vector<Frame>& frames, BitratePeriod period, const BitrateHrd& hrd,
                    const Checked& got) {
  std::vector<int64_t> times;
  i128 total = 0;
  size_t largest = 0;
  for (size_t i = 0; i < frames.size(); i++) {
    times.push_back(frames[i].time_ms);
    total += frames[i].bytes * 8ull;
    if (frames[i].bytes > frames[largest].bytes) largest = i;
  }
  std::sort(times.begin(), times.end());
  uint64_t num = period.num, den = period.num == 0 ? 1 : period.den;
  i128 duration = static_cast<i128>(times.back() - times.front()) * den + i128{1000} * num;
  EXPECT_EQ(got.r.average, duration == 0 ? 0 : static_cast<uint64_t>(total * 1000 * den / duration));
  EXPECT_EQ(got.r.largest_frame, largest + 1);
  std::vector<Frame> by_time = frames;
  std::stable_sort(by_time.begin(), by_time.end(),
                   [](const Frame& a, const Frame& b) { return a.time_ms < b.time_ms; });
  std::vector<uint64_t> before = {0};  // bits of the frames before each in time order
  for (const Frame& f : by_time) before.push_back(before.back() + f.bytes * 8ull);
  uint64_t peak = 0;
  int64_t peak_from = 0;
  for (size_t i = 0; i < times.size(); i++) {
    size_t end = std::lower_bound(times.begin(), times.end(), times[i] + 1000) - times.begin();
    size_t from = std::lower_bound(times.begin(), times.end(), times[i]) - times.begin();
    if (before[end] - before[from] > peak) peak = before[end] - before[from], peak_from = times[i];
  }
  uint32_t late = 0;  // frames over 1,048 ms before one sent earlier: left out of the peak window
  int64_t latest = frames[0].time_ms;
  for (const Frame& f : frames) late += f.time_ms < latest - 1048, latest = std::max(latest, f.time_ms);
  EXPECT_EQ(got.r.peak_missed, late);
  EXPECT_EQ(got.r.peak_1s, peak);
  EXPECT_EQ(got.r.peak_1s_from_ms, peak_from);
  // Second 0 starts at the earliest of the first 512 frames, moved down by whole seconds
  // over any frame earlier still.
  int64_t origin = frames[0].time_ms;
  for (size_t i = 0; i < std::min<size_t>(frames.size(), 512); i++)
    origin = std::min(origin, frames[i].time_ms);
  origin -= (origin - times.front() + 999) / 1000 * 1000;
  EXPECT_EQ(got.r.seconds_origin_ms, origin);
  std::vector<uint64_t> seconds((times.back() - origin) / 1000 + 1, 0);
  for (const Frame& f : frames) seconds[(f.time_ms - origin) / 1000] += f.bytes * 8ull;
  EXPECT_EQ(got.seconds, seconds);
  for (uint32_t n = 0; n < hrd.bucket_count; n++) {
    SCOPED_TRACE("bucket " + std::to_string(n + 1));
    i128 rate = i128{hrd.rate[n] + 1} << (6 + hrd.bit_rate_exponent);
    i128 buffer = i128{hrd.buffer[n] + 1} << (4 + hrd.buffer_size_exponent);
    i128 level = (hrd.full[n] + 1) * buffer / 256 * den, lowest = 0;  // in 1/den bit
    uint32_t underflow = 0;
    for (size_t k = 0; k < frames.size(); k++) {
      i128 bits = i128{frames[k].bytes} * 8 * den;
      if (underflow == 0 && bits > level) underflow = static_cast<uint32_t>(k + 1);
      lowest = k == 0 ? level - bits : std::min(lowest, level - bits);
      level = std::min(buffer * den, level - bits + rate * num);
    }
    const BitrateBucketResult& b = got.r.buckets[n];
    EXPECT_EQ(b.underflow_frame, underflow);
    EXPECT_EQ(b.holds, underflow == 0);
    i128 floored = lowest >= 0 ? lowest / den : -((-lowest + den - 1) / den);
    EXPECT_EQ(b.lowest_fullness, static_cast<int64_t>(floored));
    if (underflow > 0) {
      EXPECT_EQ(b.underflow_time_ms,
                frames[0].time_ms + static_cast<int64_t>(i128{underflow - 1} * num * 1000 / den));
    }
  }
}

// Decode order of an I P B B P B B ... run: each P is sent before the two B before it.
std::vector<Frame> reordered(uint32_t count, int64_t first_ms, int64_t spacing_ms, uint32_t seed) {
  std::vector<Frame> frames;
  for (uint32_t i = 0; i < count; i++) {
    uint32_t shown = i == 0 ? 0 : i % 3 == 1 ? std::min(i + 2, count - 1) : i - 1;
    seed = seed * 1103515245 + 12345;
    frames.push_back({2000 + (seed >> 16) % 9000, first_ms + shown * spacing_ms, i % 3 == 1 ? 2 : 3, false});
  }
  frames[0].type = 1;
  frames[0].key = true;
  return frames;
}

TEST(Bitrate, FiguresAreThoseOfAPlainCountOverEveryFrame) {
  std::vector<Frame> sample;
  for (const WmvFrame& f : sample_wmv().frames) {
    sample.push_back(
        {static_cast<uint32_t>(f.data.size() + 4 + (f.key ? 26 : 0)), f.time_ms - 3100, 2, f.key});
  }
  std::vector<Frame> earlier_later =
      reordered(700, -500, 40, 7);  // a frame far before the rest, past the head
  earlier_later.push_back({5000, -4321, 1, true});
  std::vector<Frame> gapped = reordered(300, 0, 33, 3);
  for (size_t i = 150; i < gapped.size(); i++) gapped[i].time_ms += 12000;  // the peak ring empties
  std::vector<Frame> far = gapped;  // the window must not walk the empty hours a millisecond at a time
  for (size_t i = 150; i < far.size(); i++) far[i].time_ms += 72000000;
  std::vector<Frame> two_hours;  // 100 Mb/s, the largest buckets, a period of odd 100-ns units
  for (uint32_t i = 0; i < 172800; i++)
    two_hours.push_back({300000 + (i * 7919) % 400000, int64_t{i} * 41708 / 1000});
  const BitratePeriod asf = bitrate_period_from_100ns(417083),
                      ntsc = bitrate_period_from_frame_rate(30000, 1001);
  const struct {
    const char* name;
    std::vector<Frame> frames;
    BitratePeriod given, used;  // the settings' period, and the period the figures use
    BitrateHrd hrd;
  } cases[] = {
      {"the sample at the ASF period, two buckets",
       sample,
       asf,
       {417083, 10000000},
       {2, 2, 3, {3000, 2500}, {4000, 6000}, {128, 255}}},
      {"B frames sent before their time, no period given: the median spacing",
       reordered(90, 3100, 40, 1),
       {},
       {1, 25},
       {1, 0, 0, {399}, {2000}, {100}}},
      {"negative times, then a frame earlier than all, 29.97 fps",
       earlier_later,
       ntsc,
       {1001, 30000},
       {1, 1, 1, {3500}, {9000}, {10}}},
      {"twelve seconds without frames", gapped, {}, {33, 1000}, {1, 3, 2, {100}, {30000}, {255}}},
      {"twenty hours without frames", far, {}, {33, 1000}, {1, 3, 2, {100}, {30000}, {255}}},
      {"two hours at 100 Mb/s, 2^37 bit/s and 2^35-bit buckets",
       two_hours,
       asf,
       {417083, 10000000},
       {2, 15, 15, {65535, 2000}, {65535, 1000}, {255, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Checked got = run(c.frames, c.given, c.hrd);
    EXPECT_EQ(got.r.period.num, c.used.num);
    EXPECT_EQ(got.r.period.den, c.used.den);
    EXPECT_EQ(got.r.period_source,
              bitrate_period_known(c.given) ? kBitratePeriodGiven : kBitratePeriodMedian);
    expect_counted(c.frames, c.used, c.hrd, got);
  }
}

// Frames of 12,800 bits every 40 ms; a bucket of rate 64 * (rate + 1) takes in
// 2.56 * (rate + 1) bits a frame; buffer 16 * (buffer + 1) bits, full at the start.
TEST(Bitrate, LeakyBucketsHoldOrUnderflowWhereTheirNumbersSay) {
  std::vector<Frame> frames;
  for (uint32_t i = 0; i < 100; i++) frames.push_back({1600, 40 * i, 2, false});
  const int64_t bits = 12800, buffer = 64000;
  const struct {
    const char* name;
    BitrateHrd hrd;
    std::vector<int64_t> inflow;  // bits a frame period brings each bucket
  } cases[] = {
      {"one bucket that holds: in as much as goes out", {1, 0, 0, {4999}, {3999}, {255}}, {12800}},
      {"one that underflows: 2,560 bits short a frame", {1, 0, 0, {3999}, {3999}, {255}}, {10240}},
      {"two buckets, the second short", {2, 0, 0, {4999, 3999}, {3999, 3999}, {255, 255}}, {12800, 10240}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Checked got = run(frames, bitrate_period_from_100ns(400000), c.hrd);
    ASSERT_EQ(got.r.bucket_count, c.inflow.size());
    for (size_t n = 0; n < c.inflow.size(); n++) {
      const BitrateBucketResult& b = got.r.buckets[n];
      int64_t deficit = bits - c.inflow[n];
      int64_t first_short =
          deficit == 0 ? -1 : (buffer - bits) / deficit + 1;  // first k with F - k*deficit < bits
      EXPECT_EQ(b.bucket, n + 1);
      EXPECT_EQ(b.rate, static_cast<uint64_t>(c.inflow[n] * 25));
      EXPECT_EQ(b.buffer, static_cast<uint64_t>(buffer));
      EXPECT_EQ(b.initial_fullness, static_cast<uint64_t>(buffer));
      EXPECT_EQ(b.holds, deficit == 0);
      EXPECT_EQ(b.underflow_frame, static_cast<uint32_t>(first_short + 1));
      EXPECT_EQ(b.underflow_time_ms, deficit == 0 ? 0 : 40 * first_short);
      EXPECT_EQ(b.lowest_fullness, buffer - 99 * deficit - bits);
    }
  }
}

TEST(Bitrate, SummaryLinesAndDocumentMembers) {
  std::vector<Frame> frames = {{2000, -500, 1, true}};
  for (uint32_t i = 1; i < 50; i++) frames.push_back({1000, -500 + 40 * int64_t{i}, 2, false});
  // R = 64 * 3008 = 192,512 bit/s and B = 16 * 4000 = 64,000 bits: 193 Kb/s and 64 Kb as
  // rounded; the second bucket is short from its first frame.
  Checked got = run(frames, bitrate_period_from_100ns(400000), {2, 0, 0, {3007, 15}, {3999, 99}, {255, 0}});
  char line[200];
  bitrate_format_summary(&got.r, line, sizeof line);
  // 51,000 bytes over 2 s; the first second holds 25 frames, one of them the large one.
  EXPECT_STREQ(
      line, "Bitrate: average 204 Kb/s, peak 208 Kb/s (1 s from -0.500 s), largest frame 1 (2000 bytes)\n");
  bitrate_format_bucket(&got.r.buckets[0], line, sizeof line);
  EXPECT_STREQ(line, "HRD leaky bucket 1 (rate 193 Kb/s, buffer 64 Kb): holds\n");
  bitrate_format_bucket(&got.r.buckets[1], line, sizeof line);
  EXPECT_STREQ(line, "HRD leaky bucket 2 (rate 1 Kb/s, buffer 2 Kb): underflow at frame 1 (-0.500 s)\n");

  std::string out;
  JsonWriter w;
  json_init(&w, append_to_string, &out);
  json_begin_object(&w, nullptr);
  bitrate_write_json(&w, &got.r);
  json_end(&w);
  EXPECT_NE(out.find("\"average\": 204000,"), std::string::npos) << out;
  EXPECT_NE(out.find("\"per_second\": [208000, 200000]"), std::string::npos) << out;
  EXPECT_NE(out.find("\"holds\": true, \"underflow\": null, \"lowest_fullness\": "), std::string::npos)
      << out;
  EXPECT_NE(out.find("\"underflow\": {\"frame\": 1, \"time_ms\": -500}"), std::string::npos) << out;
}

}  // namespace
