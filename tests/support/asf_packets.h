// Test support: builds ASF Data Objects and data packets byte for byte, as they stand in
// a file, so that demux tests can describe every packet layout a file may use.
//
//   PacketLayout   one data packet. Every length-coded field of the packet is written with
//                  the width its code gives (code 0: absent, 1: byte, 2: word, 3: dword,
//                  little-endian; values wider than the field are cut to it):
//                    error correction (flags byte + 2 data bytes) when `error_correction`,
//                    Length Type Flags from multiple_payloads / sequence_code /
//                    padding_code / packet_length_code, Property Flags from
//                    replicated_code / offset_code / object_number_code (stream number
//                    length code 1), Packet Length, Sequence, Padding Length, Send Time,
//                    Duration, and with multiple payloads the Payload Flags (payload count
//                    = payloads.size() unless `payload_count` is set, with
//                    payload_length_code). `padding_length` is written in the Padding
//                    Length field and that many padding bytes (0xEE) end the packet.
//   PayloadLayout  one payload: Stream Number byte (stream_number, key_frame in bit 7),
//                  Media Object Number, Offset Into Media Object, Replicated Data Length
//                  (`replicated_length`), then always Media Object Size and Presentation
//                  Time (8 bytes), then replicated_length - 8 filler bytes (0xAA) when the
//                  length exceeds 8; with multiple payloads the Payload Length field
//                  (`length_field`, or data.size() when it is negative); then `data`.
//                  With sub_payloads, a compressed payload instead (see PayloadLayout).
//
// A single-payload packet has no length field: its data must fill the packet up to the
// file's maximum packet size less the padding. fit_single_payload() sets the padding so
// that a packet of data of any size up to the capacity comes out exactly that long.
//
// The Data Object header (kDataObjectHeaderBytes) carries any Object Size and Total Data Packets.
// The file helpers write and read whole files in a fresh temporary directory.
//
// DemuxRun / run_demux (header-only, for the demux tests): puts the input bytes in a
// file, sets up a reader and a stream record as the header parser and the conversion
// course leave them, runs demux_data_object into an output file, and collects the output
// bytes, the captured console and standard-output text, and the record's counters.
#ifndef TARVEL_TESTS_SUPPORT_ASF_PACKETS_H_
#define TARVEL_TESTS_SUPPORT_ASF_PACKETS_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "asf/asf.h"
#include "demux/demux.h"
#include "io/file_reader.h"
#include "platform/platform.h"
#include "report/report.h"
#include "tests/support/asf_builder.h"
#include "tests/support/test_files.h"

// Media Object Number and Offset Into Media Object left at kAutoField are filled in by
// build_data_object as a muxer would: per stream, objects numbered 1, 2, ... in the order
// they begin, each payload at the offset its object's earlier payloads reach.
constexpr int64_t kAutoField = -1;

struct PayloadLayout {
  uint8_t stream_number = 1;  // 0..127
  bool key_frame = false;
  int64_t object_number = kAutoField;
  int64_t offset_into_object = kAutoField;
  uint32_t replicated_length = 8;
  uint32_t object_size = 0;
  uint32_t presentation_time = 0;
  int64_t length_field = -1;  // Payload Length field value; -1: data.size()
  Bytes data;
  // A compressed payload when not empty: Replicated Data Length 1, the Offset field holding
  // presentation_time, one byte of time_delta, then each sub-payload as a length byte and
  // its bytes (`data` and `object_size` are not used). Its sub-payloads are objects
  // object_number, object_number + 1, ...
  std::vector<Bytes> sub_payloads;
  uint8_t time_delta = 0;
};

struct PacketLayout {
  bool error_correction = false;
  uint8_t error_correction_flags = 0x82;  // bit 7 must stay set
  bool multiple_payloads = false;
  uint8_t packet_length_code = 0;
  uint8_t sequence_code = 0;
  uint8_t padding_code = 2;
  uint8_t replicated_code = 1;
  uint8_t offset_code = 3;
  uint8_t object_number_code = 1;
  uint8_t payload_length_code = 2;
  int payload_count = -1;  // Payload Flags count; -1: payloads.size()
  uint32_t packet_length = 0;
  uint32_t sequence = 0;
  uint32_t padding_length = 0;
  uint32_t send_time = 0;
  uint16_t duration = 0;
  std::vector<PayloadLayout> payloads;
};

// Field width in bytes of a 2-bit length code.
uint32_t length_code_width(uint8_t code);

// Bytes of the packet before its first payload header.
uint32_t packet_header_size(const PacketLayout& packet);
// Bytes of a payload header (everything before its data).
uint32_t payload_header_size(const PacketLayout& packet, const PayloadLayout& payload);

// Payload data bytes a single-payload packet holds with its current padding.
uint32_t single_payload_capacity(const PacketLayout& packet, uint32_t max_packet_size);
// Sets padding_length so that the single payload's data ends the packet exactly at
// max_packet_size. False when the data is too large for that.
bool fit_single_payload(PacketLayout* packet, uint32_t max_packet_size);

// Appends the packet's bytes.
void append_packet(Bytes* out, const PacketLayout& packet);

// The Data Object header: GUID, Object Size, File ID, Total Data Packets, Reserved.
constexpr uint32_t kDataObjectHeaderBytes = kObjectHeaderBytes + 16 + 8 + 2;
Bytes data_object_header(uint64_t object_size, uint64_t total_packets);

// The packet size the demux tests use unless they say otherwise.
constexpr uint32_t kTestPacketSize = 4096;

// Header plus packets, each padded with zero bytes to packet_size (as a file's packets all
// are that long; a packet longer than that is a test failure), with automatic object
// numbers and offsets filled in. Object Size is the true size, Total Data Packets the
// packet count.
Bytes build_data_object(std::vector<PacketLayout> packets, uint32_t packet_size = kTestPacketSize);
// Fills in the automatic object numbers and offsets of the packets' payloads.
void number_payloads(std::vector<PacketLayout>* packets);

// A single payload packet of max_packet_size bytes carrying `data` for stream `stream`.
PacketLayout single_payload_packet(uint8_t stream, bool key_frame, uint32_t object_size, Bytes data,
                                   uint32_t max_packet_size);

// The first bytes of a packet of max_packet_size bytes whose single payload, of `stream`,
// is zero bytes up to the packet's end: written at packet starts of a sparse file, they
// make whole packets of it without writing the zeros.
Bytes filler_packet_header(uint8_t stream, uint32_t max_packet_size);

// A multiple-payload packet with one payload that carries a whole media object.
PacketLayout whole_object_packet(uint8_t stream, bool key_frame, Bytes data);

// What the elementary stream holds for one frame: the headers written before it (none
// for a frame without the key frame flag), the frame start code, the frame's bytes.
Bytes expected_frame(const Bytes& headers, const Bytes& frame);
// The end-of-sequence start code.
Bytes end_of_sequence();

// n bytes of a repeatable pattern that differs with the seed.
Bytes pattern_bytes(size_t n, uint32_t seed);

// Appends bytes (put_le, the little-endian writer, comes with the ASF builder).
void append(Bytes* out, const Bytes& more);

struct DemuxRun {
  // The settings as the header parser and the conversion course would leave them.
  uint32_t stream_number = 1;
  uint32_t max_packet_size = kTestPacketSize;
  uint32_t max_object_size = 0x80000;
  uint64_t avg_time_per_frame = 0;
  uint32_t interlaced = 0;
  uint32_t seq_header_once = 0;
  Bytes output_headers;
  Bytes entry_point_headers;
  uint32_t verbosity = 2;
  std::string output_path;  // empty: a fresh temporary file, read back into `output`

  int result = kDemuxCompleted;  // a DemuxResult, or kDemuxNoDataObject
  Bytes output;
  std::string console;  // level-0 text
  std::string out;      // standard-output text
  uint32_t frames_written = 0;
  uint32_t frame_type_counts[kPictureTypeCount] = {};
  uint64_t bytes_written = 0;
  uint64_t damaged_packets = 0;
  uint32_t dropped_frames = 0;
};

// No Data Object where the input starts: the demux was not run.
constexpr int kDemuxNoDataObject = -1;

inline void set_header_buffer(HeaderBuffer* buffer, const Bytes& bytes) {
  buffer->count = static_cast<uint32_t>(bytes.size());
  if (!bytes.empty()) std::memcpy(buffer->data, bytes.data(), bytes.size());
}

// Runs the demux over the file at input_name (from its first byte). False, with a test
// failure recorded, when the files cannot be set up.
inline bool run_demux_file(const std::string& input_name, DemuxRun* run) {
  static int run_number = 0;
  PlatformFile input = platform_open_read(input_name.c_str());
  if (input == kInvalidFile) {
    ADD_FAILURE() << "cannot open " << input_name;
    return false;
  }
  bool own_output = run->output_path.empty();
  std::string output_name =
      own_output ? temp_path("demux_out_" + std::to_string(++run_number)) : run->output_path;
  PlatformFile output = platform_create(output_name.c_str(), kCreateAlways, kInvalidFile);
  FileReader reader = reader_create();
  if (output == kInvalidFile || !reader_init(input, 0, &reader)) {
    ADD_FAILURE() << "cannot set up the output " << output_name << " or the reader";
    platform_close(input);
    if (output != kInvalidFile) platform_close(output);
    return false;
  }
  auto settings = std::make_unique<DemuxSettings>();
  settings->stream_number = run->stream_number;
  settings->packet_size = run->max_packet_size;
  settings->max_object_size = run->max_object_size;
  settings->avg_time_per_frame = run->avg_time_per_frame;
  settings->interlaced = run->interlaced;
  settings->seq_header_once = run->seq_header_once;
  for (uint32_t n = 1; n < 128; ++n) demux_know_stream(settings.get(), n);
  set_header_buffer(&settings->output_headers, run->output_headers);
  set_header_buffer(&settings->entry_point_headers, run->entry_point_headers);
  settings->output_path = output_name.c_str();

  run->console.clear();
  run->out.clear();
  Report report;
  report.verbosity = run->verbosity;
  report.capture_console = &run->console;
  report.capture_out = &run->out;
  DemuxOutputs outputs = {&report, output, nullptr, nullptr, nullptr};
  DataObjectInfo info;
  DemuxCounters counters = {};
  if (demux_find_data_object(&reader, &info)) {
    run->result = demux_data_object(settings.get(), &outputs, &info, &reader, &counters);
  } else {
    run->result = kDemuxNoDataObject;
  }

  run->bytes_written = counters.bytes_written;
  run->frames_written = counters.frames_written;
  run->damaged_packets = counters.damaged_packets;
  run->dropped_frames = counters.dropped_frames;
  std::memcpy(run->frame_type_counts, counters.frame_type_counts, sizeof run->frame_type_counts);
  reader_release(&reader);
  platform_close(output);
  platform_close(input);
  if (own_output) {
    run->output = read_file(output_name);
    std::remove(output_name.c_str());
  }
  return true;
}

// Runs the demux over input bytes that start with the Data Object.
inline bool run_demux(const Bytes& input, DemuxRun* run) {
  static int input_number = 0;
  std::string path = temp_path("demux_in_" + std::to_string(++input_number));
  if (!write_file(path, input)) {
    ADD_FAILURE() << "cannot write " << path;
    return false;
  }
  bool ok = run_demux_file(path, run);
  std::remove(path.c_str());
  return ok;
}

#endif  // TARVEL_TESTS_SUPPORT_ASF_PACKETS_H_
