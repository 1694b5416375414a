// The Data Object header and the data packet walk: packet layouts, payload headers,
// Data Object bounds and inputs that end inside the Data Object.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/asf_packets.h"

namespace {

const Bytes kHeaders = pattern_bytes(36, 99);

PayloadLayout whole_payload(uint8_t stream, bool key_frame, const Bytes& data) {
  PayloadLayout payload;
  payload.stream_number = stream;
  payload.key_frame = key_frame;
  payload.object_size = static_cast<uint32_t>(data.size());
  payload.data = data;
  return payload;
}

Bytes frame_of(size_t n, uint32_t seed) {
  Bytes frame = pattern_bytes(n, seed);
  frame[0] = 0x12;  // a P picture
  return frame;
}

size_t count_of(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(DemuxPacketsTest, ErrorCorrectedPacketOfTheExampleIsParsed) {
  PacketLayout packet;
  packet.error_correction = true;
  packet.multiple_payloads = true;
  packet.padding_code = 2;
  packet.replicated_code = 1;
  packet.offset_code = 3;
  packet.object_number_code = 1;
  packet.padding_length = 9;
  Bytes frame = frame_of(40, 1);
  packet.payloads = {whole_payload(1, true, frame), whole_payload(2, false, pattern_bytes(21, 2))};
  Bytes input = build_data_object({packet});
  ASSERT_EQ(Bytes(input.begin() + 50, input.begin() + 55), (Bytes{0x82, 0x00, 0x00, 0x11, 0x5D}));

  DemuxRun run;
  run.output_headers = kHeaders;
  ASSERT_TRUE(run_demux(input, &run));
  EXPECT_EQ(run.result, kDemuxCompleted);
  Bytes expected = expected_frame(kHeaders, frame);
  append(&expected, end_of_sequence());
  EXPECT_EQ(run.output, expected);
}

TEST(DemuxPacketsTest, ErrorCorrectionDataIsTwoBytesWhateverTheFlagsLowBits) {
  Bytes key = frame_of(40, 12);
  Bytes next = frame_of(50, 13);
  Bytes expected = expected_frame(kHeaders, key);
  append(&expected, expected_frame({}, next));
  append(&expected, end_of_sequence());
  std::string reference_text;
  for (uint8_t flags : {0x82, 0x81, 0x85}) {
    SCOPED_TRACE("error correction flags " + std::to_string(flags));
    PacketLayout multiple = whole_object_packet(1, true, key);
    PacketLayout single;
    single.payloads = {whole_payload(1, false, next)};
    for (PacketLayout* packet : {&multiple, &single}) {
      packet->error_correction = true;
      packet->error_correction_flags = flags;
    }
    ASSERT_TRUE(fit_single_payload(&single, 120));
    DemuxRun run;
    run.max_packet_size = 120;
    run.output_headers = kHeaders;
    ASSERT_TRUE(run_demux(build_data_object({multiple, single}, 120), &run));
    EXPECT_EQ(run.output, expected);
    if (flags == 0x82) reference_text = run.out;
    EXPECT_EQ(run.out, reference_text);
  }
}

TEST(DemuxPacketsTest, PacketWithoutErrorCorrectionStartsWithItsLengthTypeFlags) {
  Bytes frame = frame_of(70, 3);
  PacketLayout packet;
  packet.padding_code = 1;
  packet.payloads = {whole_payload(1, false, frame)};
  ASSERT_TRUE(fit_single_payload(&packet, 120));
  Bytes input = build_data_object({packet}, 120);
  ASSERT_EQ(input[50], 0x08);

  DemuxRun run;
  run.max_packet_size = 120;
  ASSERT_TRUE(run_demux(input, &run));
  Bytes expected = expected_frame({}, frame);
  append(&expected, end_of_sequence());
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(run.frames_written, 1u);
}

// One multiple-payload packet (a keyframe of stream 1 and an audio payload of stream 2)
// and one single-payload packet (a frame of stream 1), with one field's length code set.
enum CodedField {
  kPacketLength,
  kSequence,
  kPadding,
  kReplicated,
  kOffset,
  kObjectNumber,
  kPayloadLength,
  kCodedFieldCount
};

TEST(DemuxPacketsTest, EveryLengthCodeOfEveryFieldIsHonoured) {
  const uint32_t kMaxPacket = 200;
  for (int field = 0; field < kCodedFieldCount; ++field) {
    for (uint8_t code = 0; code < 4; ++code) {
      if (field == kPayloadLength && code == 0) continue;  // zero-length payloads: own test
      SCOPED_TRACE("field " + std::to_string(field) + " code " + std::to_string(code));
      Bytes frame_a = frame_of(60, 10 + code);
      Bytes frame_b;
      std::vector<PacketLayout> packets(2);
      packets[0].multiple_payloads = true;
      packets[0].payloads = {whole_payload(1, true, frame_a), whole_payload(2, false, pattern_bytes(13, 7))};
      packets[1].payloads = {whole_payload(1, false, {})};
      for (PacketLayout& packet : packets) {
        packet.packet_length = kMaxPacket;  // when present, the packet's true length
        packet.sequence = 0x5A6B7C8D;
        packet.padding_length = 5;
        uint8_t* codes[kCodedFieldCount] = {&packet.packet_length_code, &packet.sequence_code,
                                            &packet.padding_code,       &packet.replicated_code,
                                            &packet.offset_code,        &packet.object_number_code,
                                            &packet.payload_length_code};
        *codes[field] = code;
        for (PayloadLayout& payload : packet.payloads) {
          if (packet.replicated_code == 0) payload.replicated_length = 0;
        }
        if (packet.padding_code == 0) packet.padding_length = 0;
      }
      // The single payload fills its packet up to the maximum packet size.
      uint32_t capacity = single_payload_capacity(packets[1], kMaxPacket);
      frame_b = frame_of(capacity, 20 + code);
      packets[1].payloads[0].data = frame_b;
      packets[1].payloads[0].object_size = capacity;

      DemuxRun run;
      run.max_packet_size = kMaxPacket;
      run.output_headers = kHeaders;
      ASSERT_TRUE(run_demux(build_data_object(packets, kMaxPacket), &run));
      EXPECT_EQ(run.result, kDemuxCompleted);
      Bytes expected = expected_frame(kHeaders, frame_a);
      append(&expected, expected_frame({}, frame_b));
      append(&expected, end_of_sequence());
      EXPECT_EQ(run.output, expected);
    }
  }
}

TEST(DemuxPacketsTest, ReplicatedDataOfAnyLengthIsPassedOverButTooShortIsDamage) {
  for (uint32_t length : {0u, 8u, 9u, 12u, 40u, 2u, 7u}) {
    SCOPED_TRACE("replicated data length " + std::to_string(length));
    PacketLayout packet;
    packet.multiple_payloads = true;
    Bytes frame = frame_of(30, length);
    packet.payloads = {whole_payload(2, false, pattern_bytes(9, 1)), whole_payload(1, true, frame)};
    for (PayloadLayout& payload : packet.payloads) payload.replicated_length = length;

    DemuxRun run;
    run.output_headers = kHeaders;
    ASSERT_TRUE(run_demux(build_data_object({packet}), &run));
    // 2 to 7 bytes cannot hold the object's size and time: the packet is damaged.
    bool damaged = length >= 2 && length < 8;
    Bytes expected = damaged ? Bytes{} : expected_frame(kHeaders, frame);
    append(&expected, end_of_sequence());
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(run.result, damaged ? kDemuxDamaged : kDemuxCompleted);
    EXPECT_EQ(run.damaged_packets, damaged ? 1u : 0u);
  }
}

// Each sub-payload of a compressed payload is a whole frame with its own time; the
// payloads around it are read as usual.
TEST(DemuxPacketsTest, CompressedPayloadsGiveOneFramePerSubPayload) {
  std::vector<Bytes> frames = {frame_of(40, 20), frame_of(1, 21), frame_of(255, 22), frame_of(17, 23)};
  PacketLayout packet;
  packet.multiple_payloads = true;
  PayloadLayout compressed = whole_payload(1, true, {});
  compressed.sub_payloads = {frames[0], frames[1], frames[2]};
  compressed.presentation_time = 5000;
  compressed.time_delta = 40;
  packet.payloads = {whole_payload(2, false, pattern_bytes(9, 1)), compressed,
                     whole_payload(1, false, frames[3])};

  DemuxRun run;
  run.verbosity = 3;
  run.output_headers = kHeaders;
  ASSERT_TRUE(run_demux(build_data_object({packet}), &run));
  Bytes expected;
  for (size_t i = 0; i < 3; ++i) append(&expected, expected_frame(kHeaders, frames[i]));
  append(&expected, expected_frame({}, frames[3]));
  append(&expected, end_of_sequence());
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(run.result, kDemuxCompleted);
  EXPECT_EQ(run.frames_written, 4u);
  EXPECT_EQ(run.out.find("ReplicatedLen"), std::string::npos);
}

TEST(DemuxPacketsTest, PacketWithPayloadCountZeroHasOnlyItsPaddingSkipped) {
  PacketLayout empty;
  empty.multiple_payloads = true;
  empty.padding_length = 25;
  Bytes frame = frame_of(33, 4);
  Bytes input = build_data_object({empty, whole_object_packet(1, true, frame)});

  DemuxRun run;
  run.output_headers = kHeaders;
  ASSERT_TRUE(run_demux(input, &run));
  Bytes expected = expected_frame(kHeaders, frame);
  append(&expected, end_of_sequence());
  EXPECT_EQ(run.output, expected);
}

TEST(DemuxPacketsTest, PayloadLengthCodeZeroGivesEmptyPayloadsAndEmptyFrames) {
  PacketLayout packet;
  packet.multiple_payloads = true;
  packet.payload_length_code = 0;
  packet.padding_length = 40;
  packet.payloads = {whole_payload(1, false, {}), whole_payload(1, false, {})};

  DemuxRun run;
  ASSERT_TRUE(run_demux(build_data_object({packet}), &run));
  Bytes expected = expected_frame({}, {});
  append(&expected, expected_frame({}, {}));
  append(&expected, end_of_sequence());
  EXPECT_EQ(run.output, expected);
  // No byte was stored, so there is no picture header to classify.
  EXPECT_EQ(run.frame_type_counts[kPictureUnclassified], 2u);
}

TEST(DemuxPacketsTest, SinglePayloadRunsToMaxPacketSizeLessPadding) {
  PacketLayout packet;
  packet.padding_code = 1;
  packet.offset_code = 0;
  packet.object_number_code = 1;
  packet.padding_length = 30;
  Bytes frame = frame_of(350, 5);
  packet.payloads = {whole_payload(1, true, frame)};
  ASSERT_EQ(packet_header_size(packet) + payload_header_size(packet, packet.payloads[0]), 20u);
  Bytes input = build_data_object({packet}, 400);
  ASSERT_EQ(input.size(), 50u + 400u);

  DemuxRun run;
  run.max_packet_size = 400;
  run.output_headers = kHeaders;
  ASSERT_TRUE(run_demux(input, &run));
  Bytes expected = expected_frame(kHeaders, frame);
  append(&expected, end_of_sequence());
  EXPECT_EQ(run.output, expected);
}

// The Data Object's size bounds the walk; a size below its own header (allowed while a
// broadcast is written) leaves it to the end of the input, and a tail of 32 bytes or less
// holds no packet.
TEST(DemuxPacketsTest, DataObjectSizeBoundsTheWalkOrLeavesItToTheInputsEnd) {
  PacketLayout packet = whole_object_packet(1, true, frame_of(20, 6));
  Bytes packet_bytes;
  append_packet(&packet_bytes, packet);
  ASSERT_EQ(packet_bytes.size(), 48u);
  struct Case {
    uint64_t size;
    uint32_t frames;
    int result;
  } cases[] = {{0, 1, kDemuxCompleted},  {49, 1, kDemuxCompleted}, {50, 0, kDemuxCompleted},
               {82, 0, kDemuxCompleted}, {98, 1, kDemuxCompleted}, {83, 0, kDemuxDamaged}};
  for (const Case& c : cases) {
    SCOPED_TRACE("object size " + std::to_string(c.size));
    Bytes input = data_object_header(c.size, 99);
    append(&input, packet_bytes);
    DemuxRun run;
    run.output_headers = kHeaders;
    ASSERT_TRUE(run_demux(input, &run));
    EXPECT_EQ(run.result, c.result);
    Bytes expected;
    if (c.frames == 1) expected = expected_frame(kHeaders, packet.payloads[0].data);
    append(&expected, end_of_sequence());
    EXPECT_EQ(run.output, expected);
    EXPECT_NE(run.out.find("\nFound ASF_Data_Object\n-- len = " + std::to_string(c.size) +
                           " bytes; contains 99 data packets\nStarting ASF demux / VC-1 write...\n\n"),
              std::string::npos);
    EXPECT_EQ(run.frames_written, c.frames);
  }
}

TEST(DemuxPacketsTest, InputWithoutDataObjectGuidWritesAndPrintsNothing) {
  Bytes good = build_data_object({whole_object_packet(1, true, frame_of(20, 7))});
  Bytes wrong_guid = good;
  wrong_guid[3] ^= 0x01;
  for (const Bytes& input : {Bytes{}, Bytes(good.begin(), good.begin() + 15), wrong_guid}) {
    DemuxRun run;
    ASSERT_TRUE(run_demux(input, &run));
    EXPECT_EQ(run.result, kDemuxNoDataObject);
    EXPECT_TRUE(run.output.empty());
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.console, "");
  }
}

TEST(DemuxPacketsTest, InputEndingAnywhereInsideTheDataObjectWritesOnlyWholeFrames) {
  const uint32_t kMaxPacket = 120;
  // Packet 1: error correction, two payloads (the first part of frame 1, audio), padding.
  // Packet 2: single payload, the rest of frame 1, padding. Packet 3: frame 2 with
  // replicated data beyond 8 bytes, a sequence and a packet length field, and padding.
  Bytes frame1 = frame_of(60, 8);
  Bytes frame2 = frame_of(30, 9);
  std::vector<PacketLayout> packets(3);
  packets[0].error_correction = true;
  packets[0].multiple_payloads = true;
  packets[0].padding_length = 7;
  packets[0].payloads = {whole_payload(1, true, Bytes(frame1.begin(), frame1.begin() + 40)),
                         whole_payload(2, false, pattern_bytes(20, 3))};
  packets[0].payloads[0].object_size = 60;
  packets[1].padding_code = 1;
  packets[1].payloads = {whole_payload(1, true, Bytes(frame1.begin() + 40, frame1.end()))};
  packets[1].payloads[0].object_size = 60;
  ASSERT_TRUE(fit_single_payload(&packets[1], kMaxPacket));
  packets[2].multiple_payloads = true;
  packets[2].packet_length_code = 2;
  packets[2].sequence_code = 3;
  packets[2].padding_length = 3;
  packets[2].payloads = {whole_payload(1, false, frame2)};
  packets[2].payloads[0].replicated_length = 12;
  Bytes input = build_data_object(packets, kMaxPacket);

  // Where each frame's last payload data ends in the file.
  size_t frame1_end = kDataObjectHeaderBytes + kMaxPacket + packet_header_size(packets[1]) +
                      payload_header_size(packets[1], packets[1].payloads[0]) + 20;
  size_t frame2_end = kDataObjectHeaderBytes + 2 * kMaxPacket + packet_header_size(packets[2]) +
                      payload_header_size(packets[2], packets[2].payloads[0]) + 30;
  ASSERT_EQ(input.size(), kDataObjectHeaderBytes + 3 * kMaxPacket);

  for (size_t cut = 16; cut <= input.size(); ++cut) {
    SCOPED_TRACE("file cut at " + std::to_string(cut));
    DemuxRun run;
    run.max_packet_size = kMaxPacket;
    run.output_headers = kHeaders;
    ASSERT_TRUE(run_demux(Bytes(input.begin(), input.begin() + cut), &run));
    Bytes expected;
    if (cut >= frame1_end) append(&expected, expected_frame(kHeaders, frame1));
    if (cut >= frame2_end) append(&expected, expected_frame({}, frame2));
    append(&expected, end_of_sequence());
    EXPECT_EQ(run.output, expected);
    bool whole = cut == input.size();
    EXPECT_EQ(run.result, whole ? kDemuxCompleted : kDemuxTruncated);
    // A critical error: on the console, so that -v0 shows it too.
    EXPECT_EQ(count_of(run.console,
                       "Error: Input file ends inside the ASF Data Object; demux "
                       "stopped early.\n"),
              whole ? 0u : 1u);
    EXPECT_NE(run.out.find("\nDone.\n\n"), std::string::npos);
    EXPECT_EQ(run.bytes_written, expected.size());
  }
}

}  // namespace
