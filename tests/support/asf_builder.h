// Test support: writes ASF Header Objects and their children byte by byte.
//
// Every builder returns the complete bytes of one object (its 24-byte object header
// included), little-endian throughout, so that tests can nest them and append further
// objects (a Data Object, packets) behind a Header Object. The GUIDs here are derived
// from their text form by guid_from_text, independently of the program's own constants.
//
//   Bytes                          a byte vector
//   put_le, put_le16/32/64, put_guid  append little-endian integers / a stored GUID
//   put_utf16                      append ASCII text as UTF-16LE, optionally zero-terminated
//   guid_from_text                 "75B22630-668E-11CF-A6D9-00AA0062CE6C" -> stored bytes
//   build_object                   any object: GUID + size (actual or overridden) + body
//   build_header_object            Header Object around children; child count and Object
//                                  Size can be overridden
//   build_file_properties          File Properties Object (104 bytes) with a Maximum (and
//                                  Minimum) Data Packet Size; `size` shortens/lengthens it
//   build_stream_properties        Stream Properties Object from StreamPropertiesSpec
//   build_header_extension         Header Extension Object around children
//   build_ext_stream_properties    Extended Stream Properties Object from ExtStreamSpec
//   build_metadata                 Metadata Object from MetadataRecordSpec records
//   build_metadata_library         Metadata Library Object from the same records (`reserved`
//                                  is then the Language List Index)
//   build_stream_bitrate_properties  Stream Bitrate Properties Object: (flags, bitrate) records
//   build_bitrate_mutual_exclusion   Bitrate Mutual Exclusion Object over stream numbers
//   build_ext_content_description    Extended Content Description Object from descriptors
//   build_content_encryption, build_ext_content_encryption, build_advanced_content_encryption
//                                  the three encryption objects, with made-up key data
//   metadata_dword/word/qword/unicode  value bytes for metadata records
//   write_temp_file                writes bytes to a new file in the scratch directory and
//                                  returns its path; remove_temp_file deletes it
//
// Example: a minimal WVC1 file header with one stream of 40 codec bytes
//   Bytes header = build_header_object({build_file_properties(3200),
//                                       build_stream_properties({.codec_data = Bytes(40, 1)})});
#ifndef TARVEL_TESTS_SUPPORT_ASF_BUILDER_H_
#define TARVEL_TESTS_SUPPORT_ASF_BUILDER_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

using Bytes = std::vector<uint8_t>;
using Guid = std::array<uint8_t, 16>;

// GUID and Object Size: the bytes in front of every object's body. The builders keep their
// own copy of the file layout rather than the program's, so that a wrong constant in the
// program cannot be matched by the files the tests build.
constexpr uint32_t kObjectHeaderBytes = 16 + 8;

// The low `width` bytes (0 to 8) of value, least significant first.
void put_le(Bytes* out, uint64_t value, uint32_t width);
void put_le16(Bytes* out, uint16_t value);
void put_le32(Bytes* out, uint32_t value);
void put_le64(Bytes* out, uint64_t value);
void put_guid(Bytes* out, const Guid& guid);
void put_bytes(Bytes* out, const Bytes& bytes);
// ASCII text as UTF-16LE characters, with a zero character at the end when `terminate`.
void put_utf16(Bytes* out, const std::string& text, bool terminate);
Bytes utf16(const std::string& text, bool terminate);

// Stored (file) byte order of a GUID given as text.
Guid guid_from_text(const char* text);

extern const Guid kGuidHeaderObject;
extern const Guid kGuidFileProperties;
extern const Guid kGuidStreamProperties;
extern const Guid kGuidHeaderExtension;
extern const Guid kGuidExtStreamProperties;
extern const Guid kGuidMetadata;
extern const Guid kGuidDataObject;
extern const Guid kGuidAudioMedia;
extern const Guid kGuidVideoMedia;
extern const Guid kGuidCommandMedia;
extern const Guid kGuidJfifMedia;
extern const Guid kGuidDegradableJpegMedia;
extern const Guid kGuidFileTransferMedia;
extern const Guid kGuidBinaryMedia;
extern const Guid kGuidMetadataLibrary;
extern const Guid kGuidStreamBitrateProperties;
extern const Guid kGuidBitrateMutualExclusion;
extern const Guid kGuidExtContentDescription;
extern const Guid kGuidContentEncryption;
extern const Guid kGuidExtContentEncryption;
extern const Guid kGuidAdvancedContentEncryption;
extern const Guid kGuidNoErrorCorrection;
extern const Guid kGuidPadding;  // an object the program skips

// An object: GUID, Object Size (the real size unless size_override is non-zero), body.
Bytes build_object(const Guid& guid, const Bytes& body, uint64_t size_override = 0);

struct HeaderObjectSpec {
  int64_t child_count = -1;    // Number of Header Objects; -1: the number of children given
  uint64_t size_override = 0;  // Object Size; 0: the real size
};
Bytes build_header_object(const std::vector<Bytes>& children, const HeaderObjectSpec& spec = {});

// `size` below 104 cuts the object short (its Object Size says so); above 104 pads it.
// The Minimum Data Packet Size is min_packet_size, or the maximum when it is 0.
Bytes build_file_properties(uint32_t max_packet_size, uint32_t size = 104, uint32_t min_packet_size = 0);

struct StreamPropertiesSpec {
  Guid stream_type = kGuidVideoMedia;
  uint16_t flags = 1;                 // low 7 bits: the stream number
  std::string fourcc = "WVC1";        // 4 characters, written as biCompression
  Bytes codec_data;                   // the bytes after the skipped codec byte
  bool video_header = true;           // write the 52 bytes of video header before codec_data
  int64_t type_specific_length = -1;  // the length field; -1: what was written
  Bytes error_correction_data;
  uint64_t size_override = 0;
  uint32_t width = 240;
  uint32_t height = 104;
};
Bytes build_stream_properties(const StreamPropertiesSpec& spec);

Bytes build_header_extension(const std::vector<Bytes>& children, uint64_t size_override = 0);

struct StreamNameSpec {
  uint16_t language_index = 0;
  Bytes name;                    // the name's bytes as stored (see utf16())
  int32_t length_override = -1;  // the Stream Name Length field; -1: name.size()
};

struct PayloadExtSystemSpec {
  Guid system_id = {};
  uint16_t data_size = 0;
  Bytes info;
  int64_t info_length_override = -1;
};

struct ExtStreamSpec {
  uint16_t stream_number = 1;
  uint64_t start_time = 0;
  uint64_t end_time = 0;
  uint32_t data_bitrate = 0;
  uint32_t buffer_size = 0;
  uint32_t initial_buffer_fullness = 0;
  uint32_t alt_data_bitrate = 0;
  uint32_t alt_buffer_size = 0;
  uint32_t alt_initial_buffer_fullness = 0;
  uint32_t max_object_size = 0;
  uint32_t flags = 0;
  uint16_t language_index = 0;
  uint64_t avg_time_per_frame = 0;
  std::vector<StreamNameSpec> names;
  std::vector<PayloadExtSystemSpec> payload_ext_systems;
  int32_t name_count_override = -1;
  int32_t payload_count_override = -1;
  Bytes embedded;  // appended after the payload extension systems (a Stream Properties Object)
  uint64_t size_override = 0;
};
Bytes build_ext_stream_properties(const ExtStreamSpec& spec);

struct MetadataRecordSpec {
  uint16_t reserved = 0;
  uint16_t stream_number = 1;
  std::string name;  // written as zero-terminated UTF-16LE
  uint16_t data_type = 3;
  Bytes data;
  int32_t name_length_override = -1;  // the Name Length field; -1: the bytes written
  int64_t data_length_override = -1;  // the Data Length field; -1: data.size()
};
Bytes build_metadata(const std::vector<MetadataRecordSpec>& records, int32_t count_override = -1,
                     uint64_t size_override = 0);

Bytes build_metadata_library(const std::vector<MetadataRecordSpec>& records);

struct StreamBitrateSpec {
  uint16_t flags = 1;  // low 7 bits: the stream number
  uint32_t average_bitrate = 0;
};
Bytes build_stream_bitrate_properties(const std::vector<StreamBitrateSpec>& records,
                                      int32_t count_override = -1);
Bytes build_bitrate_mutual_exclusion(const std::vector<uint16_t>& stream_numbers);

struct ContentDescriptorSpec {
  std::string name;  // written as zero-terminated UTF-16LE
  uint16_t type = 0;
  Bytes value;
  int32_t value_length_override = -1;  // the Value Length field; -1: value.size()
};
Bytes build_ext_content_description(const std::vector<ContentDescriptorSpec>& descriptors);

Bytes build_content_encryption();
Bytes build_ext_content_encryption();
Bytes build_advanced_content_encryption(uint16_t stream_number);

Bytes metadata_word(uint16_t value);
Bytes metadata_dword(uint32_t value);
Bytes metadata_qword(uint64_t value);
Bytes metadata_unicode(const std::string& text);  // zero-terminated UTF-16LE

#endif  // TARVEL_TESTS_SUPPORT_ASF_BUILDER_H_
