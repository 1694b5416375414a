// The test files' ASF writer held to the sample: the frames its reader takes out of the
// sample are the elementary stream's, and what it writes is read by FFmpeg as exactly the
// source frames (skipped, with a message, where FFmpeg is not installed).
#include "tests/support/wmv_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/frame_check.h"

namespace {

TEST(WmvWriter, SampleFramesAreTheElementaryStreamFrames) {
  const WmvSource& sample = sample_wmv();
  EsFrames es = split_elementary_stream(read_file(testdata_path("vc1ap_240x104.vc1")));
  ASSERT_EQ(sample.frames.size(), 120u);
  ASSERT_EQ(es.frames.size(), 120u);
  EXPECT_EQ(sample.type_specific.size(), 78u);
  for (size_t i = 0; i < es.frames.size(); i++) {
    EXPECT_TRUE(sample.frames[i].data == es.frames[i]) << "frame " << i;
    EXPECT_EQ(sample.frames[i].key, es.after_headers[i]) << "frame " << i;
    if (i > 0) {
      EXPECT_GT(sample.frames[i].time_ms, sample.frames[i - 1].time_ms) << "frame " << i;
    }
  }
  EXPECT_EQ(sample.file.packet_count, 40u);
  EXPECT_EQ(sample.file.objects[3].packets, (std::vector<uint32_t>{1, 2}));
}

TEST(WmvWriter, WrittenFilesAreReadAsTheSourceFrames) {
  const WmvSource& sample = sample_wmv();
  std::vector<uint32_t> even_frames, small_frames = {0}, steady_times, gapped_times;
  for (uint32_t i = 0; i < sample.frames.size(); i++) {
    if (i % 2 == 0) even_frames.push_back(i);
    if (sample.frames[i].data.size() < 256) small_frames.push_back(i);
    steady_times.push_back(3100 + 40 * i);
    gapped_times.push_back(3100 + 33 * i + (i >= 60 ? 2000 : 0) + (i % 3) * 7);
  }
  struct Case {
    const char* name;
    WmvLayout layout;
  } cases[] = {
      {"plain", {}},
      {"audio between the video pieces, frame period and bitrates",
       {.video = {{.ext_bitrate = 300000, .frame_period = 417083, .listed_bitrate = 280000}},
        .audio_bytes = 300}},
      {"two video streams, variable times with a gap",
       {.video = {{.number = 1, .ext_bitrate = 200000},
                  {.number = 2, .frames = even_frames, .ext_bitrate = 90000}},
        .times_ms = gapped_times}},
      {"compressed payloads: the key frame and the frames under 256 bytes",
       {.video = {{.frames = small_frames}}, .times_ms = steady_times, .compressed = true}},
      {"packets of 1,200,000 bytes", {.packet_size = 1200000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WmvFile file = write_wmv(sample, c.layout);
    ASSERT_EQ(file.bytes.size(), file.packet_area + uint64_t{file.packet_count} * file.packet_size);
    std::vector<WmvPayload> payloads;
    int compressed = 0, audio = 0;
    for (uint32_t k = 0; k < file.packet_count; k++) {
      const uint8_t* packet = &file.bytes[file.packet_area + uint64_t{k} * file.packet_size];
      EXPECT_EQ(Bytes(packet, packet + 5), (Bytes{0x82, 0x00, 0x00, packet[3], 0x5D})) << "packet " << k;
      EXPECT_TRUE(parse_wmv_packet(packet, file.packet_size, &payloads)) << "packet " << k;
      for (const WmvPayload& p : payloads) {
        compressed += p.compressed;
        audio += p.stream == kWmvAudioStream;
      }
    }
    EXPECT_EQ(compressed > 0, c.layout.compressed);
    int shared = 0;  // objects sent in one compressed payload with the object before
    for (size_t i = 1; i < file.objects.size(); i++)
      shared += file.objects[i].offsets == file.objects[i - 1].offsets;
    EXPECT_EQ(shared > 0, c.layout.compressed);
    EXPECT_EQ(audio > 0, c.layout.audio_bytes > 0);
    WmvSource back;
    ASSERT_TRUE(read_wmv(file.bytes, 1, &back));
    std::vector<WmvObject> sent;
    for (const WmvObject& o : file.objects) {
      if (o.stream == 1) sent.push_back(o);
    }
    ASSERT_EQ(back.frames.size(), sent.size());
    for (size_t i = 0; i < sent.size(); i++) {
      EXPECT_TRUE(back.frames[i].data == sample.frames[sent[i].frame].data) << "frame " << i;
      EXPECT_EQ(back.file.objects[i].number, sent[i].number) << "frame " << i;
      EXPECT_EQ(back.file.objects[i].offsets, sent[i].offsets) << "frame " << i;
    }

    if (!have_ffmpeg()) continue;
    std::string path = temp_path("written.wmv");
    ASSERT_TRUE(write_file(path, file.bytes));
    std::vector<std::vector<std::string>> expected(c.layout.video.size()), read(c.layout.video.size());
    for (const WmvObject& o : file.objects) {
      for (size_t s = 0; s < c.layout.video.size(); s++) {
        if (c.layout.video[s].number == o.stream) expected[s].push_back(md5_hex(sample.frames[o.frame].data));
      }
    }
    for (const CopiedFrame& f : ffmpeg_copied_frames(path)) {
      if (f.stream >= 0 && f.stream < static_cast<int>(read.size())) read[f.stream].push_back(f.md5);
    }
    EXPECT_EQ(read, expected);
  }
  if (!have_ffmpeg()) GTEST_SKIP() << "FFmpeg is not installed: written files checked by the own reader only";
}

}  // namespace
