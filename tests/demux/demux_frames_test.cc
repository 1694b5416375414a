// Frame reassembly and the elementary-stream output: headers before keyframes, joined
// fragments, the frame buffer's size and growth, and failed writes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/asf_packets.h"

namespace {

const Bytes kHeaders = pattern_bytes(36, 501);     // sequence + entry-point header
const Bytes kEntryPoint = pattern_bytes(11, 502);  // entry-point header alone

Bytes frame_of(size_t n, uint8_t first_byte, uint32_t seed) {
  Bytes frame = pattern_bytes(n, seed);
  frame[0] = first_byte;
  return frame;
}

PayloadLayout fragment(uint8_t stream, bool key_frame, uint32_t object_size, uint32_t offset, Bytes data) {
  PayloadLayout payload;
  payload.stream_number = stream;
  payload.key_frame = key_frame;
  payload.object_size = object_size;
  payload.offset_into_object = offset;
  payload.data = std::move(data);
  return payload;
}

PacketLayout packet_of(std::vector<PayloadLayout> payloads) {
  PacketLayout packet;
  packet.multiple_payloads = true;
  packet.payload_length_code = 3;
  packet.payloads = std::move(payloads);
  return packet;
}

// One packet per frame; frames[i] goes out with key flag keys[i].
Bytes stream_of(const std::vector<Bytes>& frames, const std::vector<bool>& keys) {
  std::vector<PacketLayout> packets;
  for (size_t i = 0; i < frames.size(); ++i) {
    packets.push_back(whole_object_packet(1, keys[i], frames[i]));
  }
  return build_data_object(packets);
}

size_t count_of(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(DemuxFramesTest, ThreeFramesGiveHeadersStartCodesFramesAndEndCode) {
  std::vector<Bytes> frames = {frame_of(100, 0xC5, 1), frame_of(40, 0x12, 2), frame_of(30, 0x9A, 3)};
  DemuxRun run;
  run.output_headers = kHeaders;
  run.entry_point_headers = kEntryPoint;
  ASSERT_TRUE(run_demux(stream_of(frames, {true, false, false}), &run));
  EXPECT_EQ(run.result, kDemuxCompleted);
  Bytes expected = expected_frame(kHeaders, frames[0]);
  append(&expected, expected_frame({}, frames[1]));
  append(&expected, expected_frame({}, frames[2]));
  append(&expected, end_of_sequence());
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(run.bytes_written, 222u);
  EXPECT_EQ(run.frames_written, 3u);
  EXPECT_NE(run.out.find("Total Bytes Written    : 222\n\n"), std::string::npos);
}

TEST(DemuxFramesTest, LaterKeyframesGetEntryPointAloneOnlyWithSequenceHeaderOnce) {
  std::vector<Bytes> frames;
  for (uint32_t i = 0; i < 5; ++i) frames.push_back(frame_of(20 + i, 0xC0, 10 + i));
  std::vector<bool> keys = {true, false, true, false, true};
  for (uint32_t once : {0u, 1u}) {
    SCOPED_TRACE(once ? "-nseq" : "sequence header on every keyframe");
    DemuxRun run;
    run.output_headers = kHeaders;
    run.entry_point_headers = kEntryPoint;
    run.seq_header_once = once;
    ASSERT_TRUE(run_demux(stream_of(frames, keys), &run));
    Bytes expected;
    for (size_t i = 0; i < frames.size(); ++i) {
      Bytes headers = !keys[i] ? Bytes{} : (once && i > 0) ? kEntryPoint : kHeaders;
      append(&expected, expected_frame(headers, frames[i]));
    }
    append(&expected, end_of_sequence());
    EXPECT_EQ(run.output, expected);
  }
}

TEST(DemuxFramesTest, FirstFrameWithoutKeyFlagIsWrittenBareAndReported) {
  std::vector<Bytes> frames = {frame_of(25, 0x12, 20), frame_of(26, 0xC0, 21), frame_of(27, 0x12, 22)};
  DemuxRun run;
  run.output_headers = kHeaders;
  run.entry_point_headers = kEntryPoint;
  run.seq_header_once = 1;
  ASSERT_TRUE(run_demux(stream_of(frames, {false, true, false}), &run));
  // With -nseq the first keyframe comes after frame 0, so no sequence header is written.
  Bytes expected = expected_frame({}, frames[0]);
  append(&expected, expected_frame(kEntryPoint, frames[1]));
  append(&expected, expected_frame({}, frames[2]));
  append(&expected, end_of_sequence());
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(count_of(run.out, "Error: First frame in file is not a keyframe\n"), 1u);
  EXPECT_EQ(run.result, kDemuxCompleted);
}

TEST(DemuxFramesTest, FirstFrameWithoutKeyFlagIsReportedFromVerbosityOne) {
  for (uint32_t verbosity : {0u, 1u}) {
    DemuxRun run;
    run.verbosity = verbosity;
    ASSERT_TRUE(run_demux(stream_of({frame_of(25, 0x12, 23), frame_of(26, 0xC0, 24)}, {false, true}), &run));
    EXPECT_EQ(count_of(run.out, "Error: First frame in file is not a keyframe\n"), verbosity) << verbosity;
    EXPECT_EQ(run.console, "");
  }
}

TEST(DemuxFramesTest, FragmentsInterleavedWithAnotherStreamAreJoinedIntoOneFrame) {
  Bytes frame = frame_of(10000, 0xC2, 30);
  Bytes audio = pattern_bytes(900, 31);
  auto piece = [](const Bytes& bytes, size_t from, size_t n) {
    return Bytes(bytes.begin() + from, bytes.begin() + from + n);
  };
  std::vector<PacketLayout> packets = {
      packet_of({fragment(1, true, 10000, 0, piece(frame, 0, 4000)),
                 fragment(2, false, 900, 0, piece(audio, 0, 300))}),
      packet_of({fragment(2, false, 900, 300, piece(audio, 300, 300)),
                 fragment(1, true, 10000, 4000, piece(frame, 4000, 4000))}),
      packet_of({fragment(2, false, 900, 600, piece(audio, 600, 300))}),
      packet_of({fragment(1, true, 10000, 8000, piece(frame, 8000, 2000))}),
  };
  DemuxRun run;
  run.output_headers = kHeaders;
  run.max_packet_size = 4400;
  ASSERT_TRUE(run_demux(build_data_object(packets, run.max_packet_size), &run));
  Bytes expected = expected_frame(kHeaders, frame);
  append(&expected, end_of_sequence());
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(run.frames_written, 1u);
}

TEST(DemuxFramesTest, FragmentsArePlacedAtTheirOffsetsWhateverTheirOrder) {
  Bytes first = pattern_bytes(50, 40);
  Bytes second = frame_of(30, 0x12, 41);
  std::vector<PacketLayout> packets = {packet_of({fragment(1, false, 80, 30, first)}),
                                       packet_of({fragment(1, false, 80, 0, second)})};
  DemuxRun run;
  ASSERT_TRUE(run_demux(build_data_object(packets), &run));
  Bytes joined = second;
  append(&joined, first);
  Bytes expected = expected_frame({}, joined);
  append(&expected, end_of_sequence());
  EXPECT_EQ(run.output, expected);
}

TEST(DemuxFramesTest, ChosenStreamWithoutPayloadsGivesOnlyEndOfSequence) {
  DemuxRun run;
  run.stream_number = 3;
  ASSERT_TRUE(run_demux(stream_of({frame_of(40, 0xC0, 50)}, {true}), &run));
  EXPECT_EQ(run.output, end_of_sequence());
  EXPECT_EQ(run.bytes_written, 4u);
  EXPECT_EQ(run.frames_written, 0u);
}

TEST(DemuxFramesTest, OutputToNulRunsTheWholeWalkAndCountsTheBytes) {
  std::vector<Bytes> frames = {frame_of(64, 0xC0, 60), frame_of(32, 0x12, 61)};
  DemuxRun run;
  run.output_path = "nul";
  run.output_headers = kHeaders;
  ASSERT_TRUE(run_demux(stream_of(frames, {true, false}), &run));
  EXPECT_EQ(run.result, kDemuxCompleted);
  EXPECT_EQ(run.frames_written, 2u);
  EXPECT_EQ(run.bytes_written, 36u + 4 + 64 + 4 + 32 + 4);
}

TEST(DemuxFramesTest, MaxObjectSizeZeroOrAboveDefaultIsWarnedAbout) {
  struct Case {
    uint32_t max_object_size;
    const char* warning;
  };
  const Case cases[] = {
      {0, "Warning: no max object size for stream 1; using default\n"},
      {524289, "Warning: max object size for stream 1 too large; using default\n"},
      {524288, nullptr},
      {1000, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.max_object_size);
    DemuxRun run;
    run.max_object_size = c.max_object_size;
    ASSERT_TRUE(run_demux(stream_of({frame_of(900, 0xC0, 70)}, {true}), &run));
    EXPECT_EQ(count_of(run.out, "Warning:"), c.warning ? 1u : 0u);
    if (c.warning) {
      EXPECT_NE(run.out.find(std::string("Starting ASF demux / VC-1 write...\n\n") + c.warning),
                std::string::npos);
    }
    EXPECT_EQ(run.frames_written, 1u);
  }
}

TEST(DemuxFramesTest, FrameLargerThanTheBufferIsWrittenWhole) {
  const uint32_t kSize = 600000;
  Bytes frame = frame_of(kSize, 0xC0, 80);
  std::vector<PacketLayout> packets;
  for (uint32_t at = 0; at < kSize; at += 60000) {
    packets.push_back(
        packet_of({fragment(1, true, kSize, at, Bytes(frame.begin() + at, frame.begin() + at + 60000))}));
  }
  Bytes small = frame_of(5000, 0x12, 81);
  packets.push_back(whole_object_packet(1, false, small));

  DemuxRun run;
  run.max_object_size = 0;
  run.output_headers = kHeaders;
  run.max_packet_size = 61000;
  ASSERT_TRUE(run_demux(build_data_object(packets, run.max_packet_size), &run));
  Bytes expected = expected_frame(kHeaders, frame);
  append(&expected, expected_frame({}, small));
  append(&expected, end_of_sequence());
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(count_of(run.out, "Warning:"), 1u);  // only the missing max object size
}

// The largest object the frame buffer grows to is written whole; one byte more is skipped,
// a dropped frame like any other.
TEST(DemuxFramesTest, ObjectOfSixtyFourMebibytesIsWrittenWholeAndOneByteMoreIsSkipped) {
  const uint32_t kLargest = 64u * 1024 * 1024;
  const uint32_t kPiece = 800000;
  Bytes after = frame_of(300, 0xC0, 90);
  for (uint32_t size : {kLargest + 1, kLargest}) {
    SCOPED_TRACE(size);
    std::vector<PacketLayout> packets;
    for (uint32_t at = 0; at < size; at += kPiece) {
      uint32_t n = size - at < kPiece ? size - at : kPiece;
      packets.push_back(packet_of({fragment(1, true, size, at, Bytes(n, 0x5A))}));
    }
    packets.push_back(whole_object_packet(1, true, after));

    DemuxRun run;
    run.output_headers = kHeaders;
    run.max_packet_size = kPiece + 100;
    ASSERT_TRUE(run_demux(build_data_object(packets, run.max_packet_size), &run));
    packets.clear();
    bool whole = size == kLargest;
    EXPECT_EQ(run.result, whole ? kDemuxCompleted : kDemuxDamaged);
    EXPECT_EQ(run.dropped_frames, whole ? 0u : 1u);
    Bytes expected = whole ? expected_frame(kHeaders, Bytes(size, 0x5A)) : Bytes{};
    append(&expected, expected_frame(kHeaders, after));
    append(&expected, end_of_sequence());
    EXPECT_TRUE(run.output == expected) << "output of " << run.output.size() << " bytes differs";
    EXPECT_EQ(run.frames_written, whole ? 2u : 1u);
    EXPECT_EQ(count_of(run.out, "Warning:"), whole ? 0u : 1u);
    EXPECT_EQ(count_of(run.out,
                       "Warning: media object of 67108865 bytes in stream 1 is too large; "
                       "frame skipped\n"),
              whole ? 0u : 1u);
  }
}

TEST(DemuxFramesTest, PayloadsLargerThanTheReadersBufferAreStored) {
  // A packet of more than a mebibyte holds a frame in two payloads, the first of 917504
  // bytes (requests of that size were once refused and their bytes lost).
  const uint32_t kLarge = 917504;
  Bytes frame = frame_of(kLarge + 200000, 0x12, 100);
  std::vector<PacketLayout> packets = {
      packet_of({fragment(1, false, kLarge + 200000, 0, Bytes(frame.begin(), frame.begin() + kLarge)),
                 fragment(1, false, kLarge + 200000, kLarge, Bytes(frame.begin() + kLarge, frame.end()))})};
  DemuxRun run;
  run.max_packet_size = 1200000;
  ASSERT_TRUE(run_demux(build_data_object(packets, run.max_packet_size), &run));
  Bytes expected = expected_frame({}, frame);
  append(&expected, end_of_sequence());
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(run.frames_written, 1u);
}

TEST(DemuxFramesTest, WriteFailureOnAFullDeviceStopsTheWalk) {
  FILE* probe = std::fopen("/dev/full", "wb");
  if (probe == nullptr) GTEST_SKIP() << "no /dev/full on this system";
  std::fclose(probe);
  std::vector<Bytes> frames = {frame_of(50, 0xC0, 110), frame_of(50, 0x12, 111), frame_of(50, 0xC0, 112)};
  DemuxRun run;
  run.output_path = "/dev/full";
  run.output_headers = kHeaders;
  ASSERT_TRUE(run_demux(stream_of(frames, {true, false, true}), &run));
  EXPECT_EQ(run.result, kDemuxWriteFailed);
  EXPECT_EQ(run.console, std::string("Error writing output file /dev/full: ") + system_text(ENOSPC));
  EXPECT_EQ(run.frames_written, 0u);
  EXPECT_EQ(run.bytes_written, 0u);
  EXPECT_NE(run.out.find("\nDone.\n\n"), std::string::npos);
  EXPECT_NE(run.out.find("Total Frames Written   : 0\n"), std::string::npos);
}

TEST(DemuxFramesTest, WriteFailureMidFrameKeepsWhatWasWrittenAndWritesNothingMore) {
  std::vector<Bytes> frames = {frame_of(100, 0xC0, 120), frame_of(60, 0x12, 121), frame_of(70, 0x12, 122)};
  Bytes full = expected_frame(kHeaders, frames[0]);
  append(&full, expected_frame({}, frames[1]));
  append(&full, expected_frame({}, frames[2]));
  append(&full, end_of_sequence());
  const size_t kLimit = 36 + 4 + 100 + 4 + 25;  // the output may not grow past this

  std::string input = temp_path("limited_input");
  ASSERT_TRUE(write_file(input, stream_of(frames, {true, false, false})));
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limited = saved;
  limited.rlim_cur = kLimit;
  void (*saved_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  DemuxRun run;
  run.output_headers = kHeaders;
  bool ran = run_demux_file(input, &run);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, saved_handler);
  std::remove(input.c_str());
  ASSERT_TRUE(ran);

  EXPECT_EQ(run.result, kDemuxWriteFailed);
  EXPECT_EQ(run.output, Bytes(full.begin(), full.begin() + kLimit));
  EXPECT_EQ(run.bytes_written, kLimit);
  EXPECT_EQ(run.frames_written, 1u);
  EXPECT_EQ(count_of(run.console, "Error writing output file "), 1u);
  // The frame that did not reach the output is neither shown nor counted.
  EXPECT_NE(run.out.find("\n|\n\nDone.\n\n"), std::string::npos);
  EXPECT_NE(run.out.find("Max Keyframe Distance *: 1\n"), std::string::npos);
  EXPECT_NE(run.out.find("Total Frames Written   : 1\n"), std::string::npos);
}

// Runs the demux with the output file limited to `limit` bytes (a write past it fails).
bool run_demux_limited(const Bytes& input, size_t limit, DemuxRun* run) {
  std::string path = temp_path("limited_batch_input");
  if (!write_file(path, input)) return false;
  struct rlimit saved;
  if (getrlimit(RLIMIT_FSIZE, &saved) != 0) return false;
  struct rlimit limited = saved;
  limited.rlim_cur = limit;
  void (*saved_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  bool ran = setrlimit(RLIMIT_FSIZE, &limited) == 0 && run_demux_file(path, run);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, saved_handler);
  std::remove(path.c_str());
  return ran;
}

TEST(DemuxFramesTest, WriteFailureInsideABatchShowsAndCountsOnlyTheFramesBeforeIt) {
  // Twelve small frames go out in one batch; the limit cuts it in the headers of the first
  // frame, inside the seventh (start code, bytes) or right after it.
  std::vector<Bytes> frames;
  std::vector<bool> keys;
  Bytes full;
  std::vector<size_t> frame_end;
  for (uint32_t i = 0; i < 12; ++i) {
    frames.push_back(frame_of(300 + i, i % 4 == 0 ? 0xC0 : 0x12, 130 + i));
    keys.push_back(i % 4 == 0);
    append(&full, expected_frame(keys[i] ? kHeaders : Bytes(), frames[i]));
    frame_end.push_back(full.size());
  }
  struct Case {
    size_t limit;
    uint32_t frames_whole;
  };
  const Case cases[] = {{10, 0}, {frame_end[5] + 2, 6}, {frame_end[5] + 4 + 150, 6}, {frame_end[6], 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE("limit " + std::to_string(c.limit));
    DemuxRun run;
    run.verbosity = 3;
    run.output_headers = kHeaders;
    ASSERT_TRUE(run_demux_limited(stream_of(frames, keys), c.limit, &run));
    EXPECT_EQ(run.result, kDemuxWriteFailed);
    EXPECT_EQ(run.output, Bytes(full.begin(), full.begin() + c.limit));
    EXPECT_EQ(run.bytes_written, c.limit);
    EXPECT_EQ(run.frames_written, c.frames_whole);
    EXPECT_EQ(run.console.rfind("Error writing output file ", 0), 0u);
    EXPECT_EQ(run.console.substr(run.console.find(": ") + 2), system_text(EFBIG));
    // Only what was written is shown: the frames written whole, not the one the failure
    // cut, nor any after it; the summary counts the whole ones.
    EXPECT_EQ(count_of(run.out, "Frame: "), c.frames_whole);
    EXPECT_NE(run.out.find("Total Frames Written   : " + std::to_string(c.frames_whole) + "\n"),
              std::string::npos);
  }
}

TEST(DemuxFramesTest, FrameSplitAcrossWindowMovesIsWrittenWhole) {
  // Six 120 kB frames take the reader close to the end of its first window; the next
  // frame's fragments straddle the moves of the window, which copy them out.
  std::vector<PacketLayout> packets;
  Bytes expected;
  for (uint32_t i = 0; i < 6; ++i) {
    Bytes frame = frame_of(120000, 0x12, 140 + i);
    packets.push_back(packet_of({fragment(1, false, 120000, 0, frame)}));
    append(&expected, expected_frame({}, frame));
  }
  const uint32_t kSize = 420000;
  Bytes big = frame_of(kSize, 0x12, 150);
  for (uint32_t at = 0; at < kSize; at += 35000) {
    Bytes piece(big.begin() + at, big.begin() + at + 35000);
    packets.push_back(packet_of(
        {fragment(1, false, kSize, at, piece), fragment(2, false, 900, 0, pattern_bytes(900, at))}));
  }
  append(&expected, expected_frame({}, big));
  // The file goes on long enough for the refill to overwrite the ring where it started.
  for (uint32_t i = 0; i < 8; ++i) {
    Bytes frame = frame_of(100000, 0x12, 160 + i);
    packets.push_back(packet_of({fragment(1, false, 100000, 0, frame)}));
    append(&expected, expected_frame({}, frame));
  }
  append(&expected, end_of_sequence());

  DemuxRun run;
  run.max_packet_size = 121000;
  ASSERT_TRUE(run_demux(build_data_object(packets, run.max_packet_size), &run));
  EXPECT_EQ(run.result, kDemuxCompleted);
  EXPECT_EQ(run.frames_written, 15u);
  EXPECT_EQ(run.output, expected);
}

// A frame in more pieces than the output batch has places for: the pieces held so far are
// gathered into the frame buffer, in order, and the frame is written whole.
TEST(DemuxFramesTest, FrameOfMorePiecesThanTheBatchHoldsIsWrittenWhole) {
  for (uint32_t pieces : {1019u, 1020u, 1021u, 1100u}) {
    SCOPED_TRACE(pieces);
    const uint32_t kPiece = 10;
    Bytes frame = frame_of(pieces * kPiece, 0x12, 170);
    std::vector<PacketLayout> packets;
    for (uint32_t i = 0; i < pieces; ++i) {
      if (i % 60 == 0) packets.push_back(packet_of({}));
      packets.back().payloads.push_back(
          fragment(1, false, pieces * kPiece, i * kPiece,
                   Bytes(frame.begin() + i * kPiece, frame.begin() + (i + 1) * kPiece)));
    }
    Bytes after = frame_of(20, 0x12, 171);
    packets.push_back(whole_object_packet(1, false, after));
    DemuxRun run;
    ASSERT_TRUE(run_demux(build_data_object(packets), &run));
    Bytes expected = expected_frame({}, frame);
    append(&expected, expected_frame({}, after));
    append(&expected, end_of_sequence());
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(run.result, kDemuxCompleted);
  }
}

}  // namespace
