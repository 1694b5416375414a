// Test support: real VC-1 frames laid out into complete ASF files, byte for byte, and a
// little reader that takes them out again.
//
//   read_wmv      one stream's media objects out of an ASF file: frames, key flags,
//                 presentation times, the stream's type-specific data (its codec data), and
//                 where each object's pieces lie (packet index, file offset). Its packet
//                 parse keeps every packet inside its bounds and says when one is damaged.
//   sample_wmv    the test data sample read that way, once.
//   write_wmv     the source's frames laid out as a WmvLayout says: packets of one size,
//                 several payloads each (82 00 00, Length Type Flags 0x11, Property Flags
//                 0x5D, padding declared), one or more video streams, an optional audio
//                 stream whose objects open every packet, compressed payloads, one frame's
//                 pieces in any order or shape, extra header objects, the Header Extension
//                 before or after the streams, a stream's Stream Properties embedded in its
//                 Extended Stream Properties or marked encrypted, any Data Object Size, or
//                 no Data Object at all. The result tells where every video piece went.
//
// Neither includes the program's headers: a wrong constant in the program must not be
// matched by the files the tests make.
#ifndef TARVEL_TESTS_SUPPORT_WMV_WRITER_H_
#define TARVEL_TESTS_SUPPORT_WMV_WRITER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/asf_builder.h"

struct WmvFrame {
  Bytes data;
  bool key = false;
  uint32_t time_ms = 0;  // presentation time
};

// One media object of a video stream and where its pieces were found or put.
struct WmvObject {
  uint8_t stream = 0;
  uint32_t frame = 0;             // index of the frame (source frames for a written file)
  uint32_t number = 0;            // Media Object Number as stored
  std::vector<uint32_t> packets;  // packet index of each piece, in the order sent
  std::vector<uint64_t> offsets;  // file offset of each piece's payload header
};

struct WmvFile {
  Bytes bytes;
  uint64_t packet_area = 0;  // file offset of the first data packet
  uint32_t packet_size = 0;
  uint32_t packet_count = 0;
  std::vector<WmvObject> objects;  // the video objects in the order sent
};

struct WmvSource {
  Bytes type_specific;  // the video Stream Properties' type-specific data
  std::vector<WmvFrame> frames;
  WmvFile file;
};

// One payload of a data packet; `at` and `head` are offsets within the packet.
struct WmvPayload {
  uint8_t stream = 0;
  bool key = false;
  uint32_t number = 0;
  uint32_t offset = 0;  // Offset Into Media Object; the presentation time when compressed
  uint32_t object_size = 0;
  uint32_t time_ms = 0;
  bool compressed = false;  // Replicated Data Length 1: a run of sub-payloads
  uint32_t time_delta = 0;
  uint32_t head = 0;  // where the payload header starts
  uint32_t at = 0;    // where its data starts
  uint32_t length = 0;
};

// The payloads of one packet of `size` bytes. False when the packet is damaged: a field or
// payload passes the packet's end, or a Replicated Data Length of 2 to 7.
bool parse_wmv_packet(const uint8_t* packet, uint32_t size, std::vector<WmvPayload>* payloads);

// Reads stream `stream` of an ASF file. False when it is not one with a Data Object whose
// packets all parse.
bool read_wmv(const Bytes& bytes, uint8_t stream, WmvSource* source);
const WmvSource& sample_wmv();  // testdata/vc1ap_240x104.wmv, stream 1

struct WmvVideoStream {
  uint8_t number = 1;
  std::vector<uint32_t> frames;  // source frame indices; empty: all of them
  uint32_t ext_bitrate = 0;      // Extended Stream Properties' Data Bitrate
  uint64_t frame_period = 0;     // and its Average Time Per Frame (100 ns); both 0: no such object
  uint32_t listed_bitrate = 0;   // in the Stream Bitrate Properties Object; 0: not listed
  bool encrypted = false;        // the Stream Properties' Encrypted Content Flag
  bool embedded = false;         // Stream Properties only inside an Extended Stream Properties Object
  std::string fourcc;            // the FourCC; empty: the source's
  // A Pixel Aspect Ratio payload extension: every payload carries x and y behind the
  // object's size and time. 0: none.
  uint8_t par_x = 0;
  uint8_t par_y = 0;
};

struct WmvPiece {
  uint32_t offset = 0;
  uint32_t length = 0;  // bytes past the frame's end are filler
};

constexpr uint8_t kWmvAudioStream = 9;

struct WmvLayout {
  uint32_t packet_size = 3200;
  std::vector<WmvVideoStream> video = {WmvVideoStream{}};
  uint32_t audio_bytes = 0;    // > 0: stream kWmvAudioStream, an object this long opens every packet
  uint32_t audio_lead_ms = 0;  // the audio objects' times this much before their packet's
  uint32_t preroll_ms = 3100;
  // Presentation time of each source frame; empty: the source's. A stream's frames are sent
  // in source (decode) order whatever their times; the streams are interleaved by time.
  std::vector<uint32_t> times_ms;
  bool compressed = false;            // runs of frames under 256 bytes, evenly spaced, in compressed payloads
  std::vector<Bytes> header_objects;  // appended to the Header Object
  std::vector<Bytes> extension_objects;  // appended inside the Header Extension
  bool extension_last = false;           // the Header Extension after the Stream Properties
  int64_t shaped_frame = -1;             // this source frame of the first stream is sent as `pieces`
  std::vector<WmvPiece> pieces;
  int64_t data_object_size = -1;  // the Data Object's Object Size; -1: its true size
  bool data_object = true;        // false: the file ends with the header
  // The video's codec data: the type-specific data behind its 11-byte video header and
  // 40-byte BITMAPINFOHEADER. Unset: the source's.
  std::optional<Bytes> codec_data;
  // The frames as an elementary stream holds them, as muxers fed by one store them: each
  // behind its frame start code, key frames with the source's sequence and entry-point
  // headers in front.
  bool elementary_frames = false;
};

// The sample's sequence and entry-point headers as its codec data holds them, behind the
// one leading byte.
Bytes sample_headers();

WmvFile write_wmv(const WmvSource& source, const WmvLayout& layout);

#endif  // TARVEL_TESTS_SUPPORT_WMV_WRITER_H_
