// ASF header parsing: the Header Object walk, one stream record per ASF stream number,
// the Header Extension (Extended Stream Properties, Metadata, Metadata Library), stream
// bitrates, the encoder's name, the encryption objects and the video stream choice.
//
// Every handler takes the object's bytes in memory with their length and never reads
// past them. Messages go to the context's report; nothing here stops the run.
#ifndef TARVEL_ASF_ASF_H_
#define TARVEL_ASF_ASF_H_

#include <cstdint>
#include <type_traits>

#include "platform/platform.h"
#include "vc1/header_buffer.h"

struct Report;
struct JsonWriter;

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
// Stream Properties Flags: bits 0-6 the stream number, bit 15 the Encrypted Content Flag.
constexpr uint16_t kStreamPropertiesEncryptedFlag = 0x8000;
// Video type-specific data: Encoded Image Width and Height lead it.
constexpr uint32_t kStreamPropertiesWidthOffset = 78;
constexpr uint32_t kStreamPropertiesHeightOffset = 82;
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
extern const AsfGuid ASF_Metadata_Library_Object;
extern const AsfGuid ASF_Payload_Extension_System_Pixel_Aspect_Ratio;
extern const AsfGuid ASF_Stream_Bitrate_Properties_Object;
extern const AsfGuid ASF_Extended_Content_Description_Object;
extern const AsfGuid ASF_Content_Encryption_Object;
extern const AsfGuid ASF_Extended_Content_Encryption_Object;
extern const AsfGuid ASF_Advanced_Content_Encryption_Object;
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

// Where a stream's pixel aspect ratio was found.
enum AsfParSource : uint32_t {
  kParNone = 0,
  kParMetadata = 1,          // the Metadata Object
  kParMetadataLibrary = 2,   // the Metadata Library Object
  kParPayloadExtension = 3,  // the Pixel Aspect Ratio payload extension of the first payload
};

// What the header says about one ASF stream.
struct AsfStreamRecord {
  uint32_t stream_number;  // 1..127
  uint32_t is_video;
  uint32_t is_wvc1;
  uint32_t has_properties;  // a Stream Properties Object (top-level or embedded) described it
  uint8_t stream_properties[kStreamPropertiesFixedSize];
  AsfExtStreamProperties ext_stream_properties;
  AsfPayloadExtSystem payload_ext_systems[kMaxPayloadExtSystems];
  HeaderBuffer retrieved_headers;
  // The pixel aspect ratio from the Metadata Object, or, when that gives neither value for
  // the stream, from the Metadata Library Object (settled when the walk ends).
  uint32_t par_x;  // AspectRatioX; 0 = none
  uint32_t par_y;  // AspectRatioY; 0 = none
  // What the header says about the stream, decoded for the choice and the report.
  uint32_t encrypted;        // Stream Properties Encrypted Content Flag
  uint32_t width;            // video: Encoded Image Width; 0 = not known
  uint32_t height;           // video: Encoded Image Height; 0 = not known
  uint8_t fourcc[4];         // video: the FourCC; zero bytes = not known
  uint32_t average_bitrate;  // Stream Bitrate Properties, bits per second; 0 = none
  uint32_t library_par_x;    // Metadata Library AspectRatioX; 0 = none
  uint32_t library_par_y;    // Metadata Library AspectRatioY; 0 = none
  AsfParSource par_source;   // where par_x and par_y came from
  // Set when the walk ends: the Extended Stream Properties Data Bitrate, else the Stream
  // Bitrate Properties Average Bitrate, else 0. The stream choice compares it.
  uint32_t bitrate;
};

constexpr uint32_t kMaxEncoderText = 256;  // bytes of the encoder's name, terminator included

struct AsfParserContext {
  PlatformFile file;         // not owned
  Report* report;            // the run's, where the header is reported; not owned
  uint32_t max_packet_size;  // 0 until a File Properties Object is seen
  AsfStreamRecord* streams[kMaxStreams];
  uint64_t header_end;  // the Header Object's declared end (its 64-bit Object Size)
  HeaderBuffer head;    // the first bytes of the file as the header walk read them
  // File Properties Object.
  uint64_t preroll;        // Preroll, milliseconds
  uint64_t play_duration;  // Play Duration, 100-ns units
  uint32_t file_flags;     // Flags; bit 0 is the Broadcast flag (the file's sizes not valid)
  // A Content Encryption, Extended Content Encryption or Advanced Content Encryption
  // Object was seen: the file's content is protected.
  uint32_t content_encrypted;
  // A Stream Properties Object embedded in an Extended Stream Properties Object gave a
  // usable WVC1 stream.
  uint32_t embedded_stream_found;
  // The Extended Content Description's encoder: "WM/ToolName WM/ToolVersion", else
  // WM/EncodingSettings, as UTF-8; empty when it names none.
  char encoder[kMaxEncoderText];
  // The Header Object was read whole: the input is ASF, whether or not a stream of it can
  // be converted.
  uint32_t header_read;
  // The choice: the stream, and whether the command line named it.
  uint32_t chosen_stream;
  uint32_t chosen_on_command_line;
};

// Returns a new context, or null when it cannot be allocated.
AsfParserContext* asf_context_create(PlatformFile file, Report* report);
void asf_context_free(AsfParserContext* context);

// Reads and walks the Header Object at offset 0 with direct file reads. The children are
// reported up to the first top-level Stream Properties Object of a usable WVC1 stream;
// the ones behind it are handled by the same handlers without a message, so that every
// stream, the Header Extension, the bitrates, the encoder and the encryption objects are
// known wherever they stand.
//
// Returns true when a usable WVC1 stream with codec data was found, top-level or embedded
// in an Extended Stream Properties Object, else false. When the whole header was read,
// whatever streams it holds, `header_read` is set, the context holds the File Properties
// and every stream record its `bitrate`, and the file offset is the Header Object's
// declared end, where the Data Object starts. A file that is not ASF, or is cut short
// inside the header, leaves `header_read` 0. An input that cannot seek (a pipe) is read
// strictly forward from where it stands, up to the header's end; either way the context's
// head keeps the first (up to 1024) bytes read.
bool asf_read_header(AsfParserContext* context);

// The stream records, one per stream number 1..127, each made when a header object first
// names its number (asf_stream.cc). The record of the number, made empty when there is
// none yet; null, after "Invalid stream #n" (shown at every verbosity), for a number
// outside 1..127, and null without a message when it cannot be allocated.
AsfStreamRecord* asf_find_or_create_stream(AsfParserContext* context, uint32_t stream_number);
// The same lookup without the "Invalid stream" message, for objects in which stream
// number 0 stands for the whole file: null for a number outside 1..127.
AsfStreamRecord* asf_find_or_create_stream_quietly(AsfParserContext* context, uint32_t stream_number);
// The record of the number, or null when there is none (or the number is outside 1..127).
AsfStreamRecord* asf_get_stream(AsfParserContext* context, uint32_t stream_number);
// Frees every record and empties the slots.
void asf_release_streams(AsfParserContext* context);
AsfStreamRecord* asf_stream_record_init(AsfStreamRecord* record, uint32_t stream_number);

// Handlers of one object's bytes (size = the object's length in memory). An object too
// short for its fixed part (Stream Properties 78 bytes, Extended Stream Properties 88,
// Metadata 26) is not used: the handler returns false without a message. Each returns true
// only for the object of a usable WVC1 stream.

// True for "WVC1" video with more than 52 bytes of type-specific data; hidden (an object
// embedded in an Extended Stream Properties Object) selects the deeper prefix.
bool asf_parse_stream_properties(Report* report, const uint8_t* object, uint32_t size,
                                 AsfStreamRecord* record, bool hidden);
const char* asf_stream_type_name(const uint8_t* guid);
// Takes the packet size, Preroll, Play Duration and Flags; an object shorter than 100
// bytes gives none of them. Returns false.
bool asf_parse_file_properties(const uint8_t* object, uint32_t size, AsfParserContext* context);
// Walks the children of a Header Extension Object (asf_objects.cc). Returns false.
bool asf_parse_header_extension(const uint8_t* object, uint32_t size, AsfParserContext* context);
// True when the object ends with an embedded Stream Properties Object of a usable WVC1
// stream (asf_parse_stream_properties gave true).
bool asf_parse_ext_stream_properties(Report* report, const uint8_t* object, uint32_t size,
                                     AsfStreamRecord* record);
// The pixel aspect ratios by stream. Returns false.
bool asf_parse_metadata(const uint8_t* object, uint32_t size, AsfParserContext* context);
// Returns the bytes consumed of the `remaining` up to the object's end; 0 when the record
// cannot be framed (then the metadata walk ends).
uint32_t asf_parse_metadata_record(Report* report, const uint8_t* record_bytes, AsfStreamRecord* record,
                                   uint32_t remaining);

// UTF-16LE texts (stream names, metadata names and values): `length` bytes, an odd last
// byte ignored, read up to the first zero character.

// The number of 16-bit units before the first zero character.
uint32_t asf_utf16_units(const uint8_t* text, uint32_t length);

// True when the text, up to its first zero character, is exactly the ASCII `ascii`.
bool asf_utf16_equals(const uint8_t* text, uint32_t length, const char* ascii);

// Converts the text to UTF-8 in `out` (always terminated, cut at a character boundary when
// out_size is too small; a lone surrogate becomes U+FFFD). (length / 2) * 3 + 1 bytes of
// out always suffice. Returns the bytes written, terminator excluded.
uint32_t asf_utf16_to_utf8(const uint8_t* text, uint32_t length, char* out, uint32_t out_size);

// The text as a new UTF-8 string, whole (free it with std::free), or null when it cannot be
// allocated.
char* asf_utf16_to_new_utf8(const uint8_t* text, uint32_t length);

// The handlers of the objects that only store what they find, without a message. Each
// returns false.
// Metadata Library: AspectRatioX / AspectRatioY per stream, kept apart from the Metadata
// Object's (the walk's end takes them when the Metadata Object gave neither).
bool asf_parse_metadata_library(const uint8_t* object, uint32_t size, AsfParserContext* context);
// Stream Bitrate Properties: each stream's Average Bitrate.
bool asf_parse_stream_bitrate_properties(const uint8_t* object, uint32_t size, AsfParserContext* context);
// Extended Content Description: the encoder's name.
bool asf_parse_ext_content_description(const uint8_t* object, uint32_t size, AsfParserContext* context);
// Content Encryption, Extended Content Encryption, Advanced Content Encryption: marks the
// content as encrypted.
bool asf_parse_content_encryption(const uint8_t* object, uint32_t size, AsfParserContext* context);

// The index of the stream's Pixel Aspect Ratio payload extension system among the first
// kMaxPayloadExtSystems, with the data size of it and of each system before it in
// sizes[0..index]; -1 when the stream has none there.
int asf_pixel_aspect_extension(const AsfStreamRecord* record, uint32_t sizes[kMaxPayloadExtSystems]);

// Usable: video marked "WVC1".
bool asf_stream_is_usable(const AsfStreamRecord* record);
// The stream's frames are encrypted: its own Encrypted Content Flag, or an encryption
// object in the header.
bool asf_stream_is_encrypted(const AsfParserContext* context, const AsfStreamRecord* record);

// Chooses the stream to convert, after listing the usable WVC1 streams at level 2 when
// there are more than one. With `requested` 0: the usable stream with the highest
// `bitrate` (ties to the higher number), or, when there is none, an error at level 0 that
// names each video stream's FourCC. With `requested` 1..127: that stream when it is
// usable; otherwise "Error: Stream %d is not a usable WVC1 video stream." at level 0.
// Returns the stream number, or 0 when none can be chosen; records the choice in the
// context.
uint32_t asf_select_video_stream(AsfParserContext* context, uint32_t requested);

// Writes the member "asf" into the open object of the JSON document: the File Properties,
// every stream record, the choice (null when none was made) and the encoder (null when
// the header names none).
void asf_json_header(const AsfParserContext* context, JsonWriter* json);

#endif  // TARVEL_ASF_ASF_H_
