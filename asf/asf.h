// ASF header parsing: the Header Object walk, one stream record per ASF stream number,
// the Header Extension (Extended Stream Properties, Metadata) and the video stream choice.
//
// Every handler takes the object's bytes in memory with their length and never reads
// past them. Messages go through print_at_level; nothing here stops the run.
#ifndef TARVEL_ASF_ASF_H_
#define TARVEL_ASF_ASF_H_

#include <cstdint>
#include <type_traits>

#include "io/file_reader.h"
#include "platform/platform.h"
#include "vc1/header_buffer.h"

// 100-ns units to microseconds, rounded to the nearest, halves upward. The sum is taken in
// the argument's own unsigned width and the result cut to its low 32 bits: a 64-bit time
// rounds in 64-bit arithmetic, while the low 32 bits of a time, passed as uint32_t, round
// in 32-bit arithmetic (a sum past 2^32 wraps to a small period).
template <typename T>
constexpr uint32_t asf_100ns_to_microseconds(T time) {
  static_assert(std::is_unsigned_v<T> && sizeof(T) >= sizeof(uint32_t), "a 32- or 64-bit unsigned time");
  return static_cast<uint32_t>((time + 5) / 10);
}

constexpr int kMaxStreams = 128;  // slots 1..127 are valid stream numbers

// The most bytes of the Header Object's child area that are read and walked. Real files
// carry album art and padding there; a longer child area is walked over its first part.
constexpr uint32_t kMaxHeaderChildArea = 16u << 20;

typedef uint8_t AsfGuid[16];  // in the stored (file) byte order

// Object layout, in bytes from the object's first byte. Every object starts with its GUID
// and its 64-bit Object Size.
constexpr uint32_t kAsfObjectSizeOffset = 16;
constexpr uint32_t kAsfObjectHeaderSize = 24;
// Stream Properties: the fixed part (object header .. Reserved), then the type-specific
// data; for video the BITMAPINFOHEADER's biCompression is the FourCC, and the codec data
// follows the 11 + 40 bytes of video header and the one skipped codec byte.
constexpr uint32_t kStreamPropertiesStreamTypeOffset = 24;
constexpr uint32_t kStreamPropertiesTypeSpecificLengthOffset = 64;
constexpr uint32_t kStreamPropertiesFlagsOffset = 72;
constexpr uint32_t kStreamPropertiesFixedSize = 78;
constexpr uint32_t kStreamPropertiesFourccOffset = 105;
constexpr uint32_t kStreamPropertiesFourccEnd = kStreamPropertiesFourccOffset + 4;
constexpr uint32_t kStreamPropertiesCodecDataOffset = 130;
constexpr uint32_t kStreamPropertiesVideoHeaderBytes = 52;
// Extended Stream Properties: the fixed part, with the stream number inside it.
constexpr uint32_t kExtStreamPropertiesStreamNumberOffset = 72;
constexpr uint32_t kExtStreamPropertiesFixedSize = 88;
// File Properties Flags: the Broadcast flag says the file's sizes are not valid yet.
constexpr uint32_t kFilePropertiesBroadcast = 1;
// Data Object: GUID, Object Size, File ID, Total Data Packets, Reserved.
constexpr uint32_t kDataObjectHeaderSize = 50;

extern const AsfGuid ASF_Header_Object;
extern const AsfGuid ASF_File_Properties_Object;
extern const AsfGuid ASF_Stream_Properties_Object;
extern const AsfGuid ASF_Header_Extension_Object;
extern const AsfGuid ASF_Extended_Stream_Properties_Object;
extern const AsfGuid ASF_Metadata_Object;
extern const AsfGuid ASF_Data_Object;
extern const AsfGuid ASF_Audio_Media;
extern const AsfGuid ASF_Video_Media;
extern const AsfGuid ASF_Command_Media;
extern const AsfGuid ASF_JFIF_Media;
extern const AsfGuid ASF_Degradable_JPEG_Media;
extern const AsfGuid ASF_File_Transfer_Media;
extern const AsfGuid ASF_Binary_Media;

bool guid_equal(const uint8_t* a, const uint8_t* b);

// The fixed first 88 bytes of an Extended Stream Properties Object, decoded.
struct AsfExtStreamProperties {
  uint8_t object_id[16];
  uint64_t object_size;
  uint64_t start_time;
  uint64_t end_time;
  uint32_t data_bitrate;  // bits per second
  uint32_t buffer_size;
  uint32_t initial_buffer_fullness;
  uint32_t alt_data_bitrate;
  uint32_t alt_buffer_size;
  uint32_t alt_initial_buffer_fullness;
  uint32_t max_object_size;
  uint32_t flags;
  uint16_t stream_number;
  uint16_t language_index;
  uint64_t avg_time_per_frame;  // 100-ns units; 0 when unknown
  uint16_t stream_name_count;
  uint16_t payload_ext_system_count;
};

struct AsfPayloadExtSystem {
  uint8_t system_id[16];
  uint16_t data_size;
  uint32_t info_length;
  uint8_t info[256];
};

constexpr int kMaxPayloadExtSystems = 8;

// What the header says about one ASF stream.
struct AsfStreamRecord {
  uint32_t stream_number;  // 1..127
  uint32_t is_video;
  uint32_t is_wvc1;
  uint8_t stream_properties[kStreamPropertiesFixedSize];
  AsfExtStreamProperties ext_stream_properties;
  AsfPayloadExtSystem payload_ext_systems[kMaxPayloadExtSystems];
  HeaderBuffer retrieved_headers;
  uint32_t par_x;  // metadata AspectRatioX; 0 = none
  uint32_t par_y;  // metadata AspectRatioY; 0 = none
};

struct AsfParserContext {
  PlatformFile file;         // not owned
  uint32_t max_packet_size;  // 0 until a File Properties Object is seen
  uint64_t preroll;          // File Properties Preroll, milliseconds
  uint64_t play_duration;    // File Properties Play Duration, 100-ns units
  uint32_t file_flags;       // File Properties Flags; bit 0: Broadcast (sizes not valid)
  AsfStreamRecord* streams[kMaxStreams];
  FileReader* reader;   // not owned
  uint64_t header_end;  // the Header Object's declared end (its 64-bit Object Size)
  HeaderBuffer head;    // the first bytes of the file as the header walk read them
};

// Returns a new context, or null when it cannot be allocated.
AsfParserContext* asf_context_create(PlatformFile file, FileReader* reader);
void asf_context_free(AsfParserContext* context);

// Reads and walks the Header Object at offset 0 with direct file reads. Returns non-zero
// when a top-level Stream Properties Object of a usable WVC1 stream was found; then the
// context holds the File Properties (wherever that object stood) and the file offset is the
// Header Object's declared end, where the Data Object starts. Returns 0 for a file that is not ASF, is cut short inside the header,
// or holds no usable WVC1 stream. An input that cannot seek (a pipe) is read strictly
// forward from where it stands, up to the header's end; either way the context's head
// keeps the first (up to 1024) bytes read.
int asf_read_header(AsfParserContext* context);

AsfStreamRecord* asf_find_or_create_stream(AsfParserContext* context, uint32_t stream_number);
AsfStreamRecord* asf_get_stream(AsfParserContext* context, uint32_t stream_number);
AsfStreamRecord* asf_stream_record_init(AsfStreamRecord* record, uint32_t stream_number);

// Handlers of one object's bytes (size = the object's length in memory). An object too
// short for its fixed part (Stream Properties 78 bytes, Extended Stream Properties 88,
// Metadata 26) is not used: the handler returns 0 without a message.

// 1 for "WVC1" video with more than 52 bytes of type-specific data, else 0; hidden (an
// object embedded in an Extended Stream Properties Object) selects the deeper prefix.
int asf_parse_stream_properties(const uint8_t* object, uint32_t size, AsfStreamRecord* record, int hidden);
const char* asf_stream_type_name(const uint8_t* guid);
void asf_parse_header_extension(const uint8_t* object, uint32_t size, AsfParserContext* context);
int asf_parse_ext_stream_properties(const uint8_t* object, uint32_t size, AsfStreamRecord* record);
int asf_parse_metadata(const uint8_t* object, uint32_t size, AsfParserContext* context);
// Returns the bytes consumed of the `remaining` up to the object's end; 0 when the record
// cannot be framed (then the metadata walk ends).
uint32_t asf_parse_metadata_record(const uint8_t* record_bytes, AsfStreamRecord* record, uint32_t remaining);

// UTF-16LE texts (stream names, metadata names and values): `length` bytes, an odd last
// byte ignored, read up to the first zero character.

// The number of 16-bit units before the first zero character.
uint32_t asf_utf16_units(const uint8_t* text, uint32_t length);

// Converts the text to UTF-8 in `out` (always terminated, cut at a character boundary when
// out_size is too small; a lone surrogate becomes U+FFFD). (length / 2) * 3 + 1 bytes of
// out always suffice. Returns the bytes written, terminator excluded.
uint32_t asf_utf16_to_utf8(const uint8_t* text, uint32_t length, char* out, uint32_t out_size);

// The text as a new UTF-8 string, whole (free it with std::free), or null when it cannot be
// allocated.
char* asf_utf16_to_new_utf8(const uint8_t* text, uint32_t length);

// The usable WVC1 stream with the highest data bitrate (ties to the higher number), or 0.
uint32_t asf_select_video_stream(AsfParserContext* context);

#endif  // TARVEL_ASF_ASF_H_
