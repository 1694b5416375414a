// Test support: ASF Header Object builder (see asf_builder.h).
#include "tests/support/asf_builder.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

void put_le(Bytes* out, uint64_t value, uint32_t width) {
  for (uint32_t i = 0; i < width; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void put_le16(Bytes* out, uint16_t value) { put_le(out, value, 2); }
void put_le32(Bytes* out, uint32_t value) { put_le(out, value, 4); }
void put_le64(Bytes* out, uint64_t value) { put_le(out, value, 8); }

void put_guid(Bytes* out, const Guid& guid) { out->insert(out->end(), guid.begin(), guid.end()); }

void put_bytes(Bytes* out, const Bytes& bytes) { out->insert(out->end(), bytes.begin(), bytes.end()); }

void put_utf16(Bytes* out, const std::string& text, bool terminate) {
  for (char c : text) put_le16(out, static_cast<uint8_t>(c));
  if (terminate) put_le16(out, 0);
}

Bytes utf16(const std::string& text, bool terminate) {
  Bytes out;
  put_utf16(&out, text, terminate);
  return out;
}

Guid guid_from_text(const char* text) {
  // Hex digits in text order: 8-4-4-4-12.
  uint8_t raw[16] = {};
  int n = 0;
  for (const char* p = text; *p != '\0' && n < 32; p++) {
    int digit;
    if (*p >= '0' && *p <= '9')
      digit = *p - '0';
    else if (*p >= 'A' && *p <= 'F')
      digit = *p - 'A' + 10;
    else if (*p >= 'a' && *p <= 'f')
      digit = *p - 'a' + 10;
    else
      continue;
    raw[n / 2] = static_cast<uint8_t>(raw[n / 2] << 4 | digit);
    n++;
  }
  // The first three groups are stored little-endian, the last eight bytes as written.
  Guid g = {raw[3], raw[2], raw[1],  raw[0],  raw[5],  raw[4],  raw[7],  raw[6],
            raw[8], raw[9], raw[10], raw[11], raw[12], raw[13], raw[14], raw[15]};
  return g;
}

const Guid kGuidHeaderObject = guid_from_text("75B22630-668E-11CF-A6D9-00AA0062CE6C");
const Guid kGuidFileProperties = guid_from_text("8CABDCA1-A947-11CF-8EE4-00C00C205365");
const Guid kGuidStreamProperties = guid_from_text("B7DC0791-A9B7-11CF-8EE6-00C00C205365");
const Guid kGuidHeaderExtension = guid_from_text("5FBF03B5-A92E-11CF-8EE3-00C00C205365");
const Guid kGuidExtStreamProperties = guid_from_text("14E6A5CB-C672-4332-8399-A96952065B5A");
const Guid kGuidMetadata = guid_from_text("C5F8CBEA-5BAF-4877-8467-AA8C44FA4CCA");
const Guid kGuidDataObject = guid_from_text("75B22636-668E-11CF-A6D9-00AA0062CE6C");
const Guid kGuidAudioMedia = guid_from_text("F8699E40-5B4D-11CF-A8FD-00805F5C442B");
const Guid kGuidVideoMedia = guid_from_text("BC19EFC0-5B4D-11CF-A8FD-00805F5C442B");
const Guid kGuidCommandMedia = guid_from_text("59DACFC0-59E6-11D0-A3AC-00A0C90348F6");
const Guid kGuidJfifMedia = guid_from_text("B61BE100-5B4E-11CF-A8FD-00805F5C442B");
const Guid kGuidDegradableJpegMedia = guid_from_text("35907DE0-E415-11CF-A917-00805F5C442B");
const Guid kGuidFileTransferMedia = guid_from_text("91BD222C-F21C-497A-8B6D-5AA86BFC0185");
const Guid kGuidBinaryMedia = guid_from_text("3AFB65E2-47EF-40F2-AC2C-70A90D71D343");
const Guid kGuidMetadataLibrary = guid_from_text("44231C94-9498-49D1-A141-1D134E457054");
const Guid kGuidStreamBitrateProperties = guid_from_text("7BF875CE-468D-11D1-8D82-006097C9A2B2");
const Guid kGuidBitrateMutualExclusion = guid_from_text("D6E229DC-35DA-11D1-9034-00A0C90349BE");
const Guid kGuidExtContentDescription = guid_from_text("D2D0A440-E307-11D2-97F0-00A0C95EA850");
const Guid kGuidContentEncryption = guid_from_text("2211B3FB-BD23-11D2-B4B7-00A0C955FC6E");
const Guid kGuidExtContentEncryption = guid_from_text("298AE614-2622-4C17-B935-DAE07EE9289C");
const Guid kGuidAdvancedContentEncryption = guid_from_text("43058533-6981-49E6-9B74-AD12CB86D58C");
const Guid kGuidNoErrorCorrection = guid_from_text("20FB5700-5B55-11CF-A8FD-00805F5C442B");
const Guid kGuidPadding = guid_from_text("1806D474-CADF-4509-A4BA-9AABCB96AAE8");

Bytes build_object(const Guid& guid, const Bytes& body, uint64_t size_override) {
  Bytes out;
  put_guid(&out, guid);
  put_le64(&out, size_override != 0 ? size_override : kObjectHeaderBytes + body.size());
  put_bytes(&out, body);
  return out;
}

Bytes build_header_object(const std::vector<Bytes>& children, const HeaderObjectSpec& spec) {
  Bytes body;
  put_le32(&body, static_cast<uint32_t>(spec.child_count >= 0 ? spec.child_count : children.size()));
  body.push_back(1);  // Reserved1
  body.push_back(2);  // Reserved2
  for (const Bytes& child : children) put_bytes(&body, child);
  return build_object(kGuidHeaderObject, body, spec.size_override);
}

Bytes build_file_properties(uint32_t max_packet_size, uint32_t size, uint32_t min_packet_size) {
  uint32_t min_size = min_packet_size != 0 ? min_packet_size : max_packet_size;
  Bytes body;
  put_guid(&body, guid_from_text("01234567-89AB-CDEF-0123-456789ABCDEF"));  // File ID
  put_le64(&body, 0x12345);                                                 // File Size
  put_le64(&body, 0);                                                       // Creation Date
  put_le64(&body, 7);                                                       // Data Packets Count
  put_le64(&body, 10000000);                                                // Play Duration
  put_le64(&body, 10000000);                                                // Send Duration
  put_le64(&body, 3000);                                                    // Preroll
  put_le32(&body, 2);                                                       // Flags
  put_le32(&body, min_size);                                                // Minimum Data Packet Size
  put_le32(&body, max_packet_size);                                         // Maximum Data Packet Size
  put_le32(&body, 1000000);                                                 // Maximum Bitrate
  body.resize(size >= kObjectHeaderBytes ? size - kObjectHeaderBytes : 0, 0);
  return build_object(kGuidFileProperties, body);
}

Bytes build_stream_properties(const StreamPropertiesSpec& spec) {
  Bytes type_specific;
  if (spec.video_header) {
    put_le32(&type_specific, spec.width);
    put_le32(&type_specific, spec.height);
    type_specific.push_back(2);  // Reserved Flags
    put_le16(&type_specific, static_cast<uint16_t>(40 + 1 + spec.codec_data.size()));
    put_le32(&type_specific, static_cast<uint32_t>(40 + 1 + spec.codec_data.size()));  // biSize
    put_le32(&type_specific, spec.width);
    put_le32(&type_specific, spec.height);
    put_le16(&type_specific, 1);   // biPlanes
    put_le16(&type_specific, 24);  // biBitCount
    for (size_t i = 0; i < 4; i++) type_specific.push_back(i < spec.fourcc.size() ? spec.fourcc[i] : ' ');
    for (int i = 0; i < 5; i++) put_le32(&type_specific, 0);  // biSizeImage .. biClrImportant
    type_specific.push_back(0x25);                            // the skipped codec byte
  }
  put_bytes(&type_specific, spec.codec_data);

  Bytes body;
  put_guid(&body, spec.stream_type);
  put_guid(&body, kGuidNoErrorCorrection);
  put_le64(&body, 0);  // Time Offset
  put_le32(&body, static_cast<uint32_t>(spec.type_specific_length >= 0 ? spec.type_specific_length
                                                                       : type_specific.size()));
  put_le32(&body, static_cast<uint32_t>(spec.error_correction_data.size()));
  put_le16(&body, spec.flags);
  put_le32(&body, 0);  // Reserved
  put_bytes(&body, type_specific);
  put_bytes(&body, spec.error_correction_data);
  return build_object(kGuidStreamProperties, body, spec.size_override);
}

Bytes build_header_extension(const std::vector<Bytes>& children, uint64_t size_override) {
  Bytes data;
  for (const Bytes& child : children) put_bytes(&data, child);
  Bytes body;
  put_guid(&body, guid_from_text("ABD3D211-A9BA-11CF-8EE6-00C00C205365"));  // Reserved Field 1
  put_le16(&body, 6);                                                       // Reserved Field 2
  put_le32(&body, static_cast<uint32_t>(data.size()));
  put_bytes(&body, data);
  return build_object(kGuidHeaderExtension, body, size_override);
}

Bytes build_ext_stream_properties(const ExtStreamSpec& spec) {
  Bytes body;
  put_le64(&body, spec.start_time);
  put_le64(&body, spec.end_time);
  put_le32(&body, spec.data_bitrate);
  put_le32(&body, spec.buffer_size);
  put_le32(&body, spec.initial_buffer_fullness);
  put_le32(&body, spec.alt_data_bitrate);
  put_le32(&body, spec.alt_buffer_size);
  put_le32(&body, spec.alt_initial_buffer_fullness);
  put_le32(&body, spec.max_object_size);
  put_le32(&body, spec.flags);
  put_le16(&body, spec.stream_number);
  put_le16(&body, spec.language_index);
  put_le64(&body, spec.avg_time_per_frame);
  put_le16(&body, static_cast<uint16_t>(spec.name_count_override >= 0 ? spec.name_count_override
                                                                      : spec.names.size()));
  put_le16(&body, static_cast<uint16_t>(spec.payload_count_override >= 0 ? spec.payload_count_override
                                                                         : spec.payload_ext_systems.size()));
  for (const StreamNameSpec& name : spec.names) {
    put_le16(&body, name.language_index);
    put_le16(&body,
             static_cast<uint16_t>(name.length_override >= 0 ? name.length_override : name.name.size()));
    put_bytes(&body, name.name);
  }
  for (const PayloadExtSystemSpec& system : spec.payload_ext_systems) {
    put_guid(&body, system.system_id);
    put_le16(&body, system.data_size);
    put_le32(&body, static_cast<uint32_t>(system.info_length_override >= 0 ? system.info_length_override
                                                                           : system.info.size()));
    put_bytes(&body, system.info);
  }
  put_bytes(&body, spec.embedded);
  return build_object(kGuidExtStreamProperties, body, spec.size_override);
}

namespace {

Bytes metadata_body(const std::vector<MetadataRecordSpec>& records, int32_t count_override) {
  Bytes body;
  put_le16(&body, static_cast<uint16_t>(count_override >= 0 ? count_override : records.size()));
  for (const MetadataRecordSpec& record : records) {
    Bytes name = utf16(record.name, true);
    put_le16(&body, record.reserved);
    put_le16(&body, record.stream_number);
    put_le16(&body, static_cast<uint16_t>(record.name_length_override >= 0 ? record.name_length_override
                                                                           : name.size()));
    put_le16(&body, record.data_type);
    put_le32(&body, static_cast<uint32_t>(record.data_length_override >= 0 ? record.data_length_override
                                                                           : record.data.size()));
    put_bytes(&body, name);
    put_bytes(&body, record.data);
  }
  return body;
}

}  // namespace

Bytes build_metadata(const std::vector<MetadataRecordSpec>& records, int32_t count_override,
                     uint64_t size_override) {
  return build_object(kGuidMetadata, metadata_body(records, count_override), size_override);
}

Bytes build_metadata_library(const std::vector<MetadataRecordSpec>& records) {
  return build_object(kGuidMetadataLibrary, metadata_body(records, -1));
}

Bytes build_stream_bitrate_properties(const std::vector<StreamBitrateSpec>& records, int32_t count_override) {
  Bytes body;
  put_le16(&body, static_cast<uint16_t>(count_override >= 0 ? count_override : records.size()));
  for (const StreamBitrateSpec& record : records) {
    put_le16(&body, record.flags);
    put_le32(&body, record.average_bitrate);
  }
  return build_object(kGuidStreamBitrateProperties, body);
}

Bytes build_bitrate_mutual_exclusion(const std::vector<uint16_t>& stream_numbers) {
  Bytes body;
  put_guid(&body, guid_from_text("D6E22A01-35DA-11D1-9034-00A0C90349BE"));  // exclusion by bitrate
  put_le16(&body, static_cast<uint16_t>(stream_numbers.size()));
  for (uint16_t number : stream_numbers) put_le16(&body, number);
  return build_object(kGuidBitrateMutualExclusion, body);
}

Bytes build_ext_content_description(const std::vector<ContentDescriptorSpec>& descriptors) {
  Bytes body;
  put_le16(&body, static_cast<uint16_t>(descriptors.size()));
  for (const ContentDescriptorSpec& descriptor : descriptors) {
    Bytes name = utf16(descriptor.name, true);
    put_le16(&body, static_cast<uint16_t>(name.size()));
    put_bytes(&body, name);
    put_le16(&body, descriptor.type);
    put_le16(&body,
             static_cast<uint16_t>(descriptor.value_length_override >= 0 ? descriptor.value_length_override
                                                                         : descriptor.value.size()));
    put_bytes(&body, descriptor.value);
  }
  return build_object(kGuidExtContentDescription, body);
}

Bytes build_content_encryption() {
  Bytes body;
  Bytes secret(16, 0x5A);
  put_le32(&body, static_cast<uint32_t>(secret.size()));
  put_bytes(&body, secret);
  const std::string fields[] = {std::string("DRM", 4), std::string("key-id", 7),
                                std::string("http://x/", 10)};
  for (const std::string& field : fields) {  // Protection Type, Key ID, License URL
    put_le32(&body, static_cast<uint32_t>(field.size()));
    put_bytes(&body, Bytes(field.begin(), field.end()));
  }
  return build_object(kGuidContentEncryption, body);
}

Bytes build_ext_content_encryption() {
  Bytes body;
  Bytes data = utf16("<WRMHEADER/>", true);
  put_le32(&body, static_cast<uint32_t>(data.size()));
  put_bytes(&body, data);
  return build_object(kGuidExtContentEncryption, body);
}

Bytes build_advanced_content_encryption(uint16_t stream_number) {
  Bytes body;
  put_le16(&body, 1);  // Content Encryption Records Count
  put_guid(&body, guid_from_text("7A079BB6-DAA4-4E12-A5CA-91D38DC11A8D"));  // System ID
  put_le32(&body, 1);                                                       // System Version
  put_le16(&body, 1);                                                       // Encrypted Object Records
  put_le16(&body, 1);                                                       // type: stream number
  put_le16(&body, 2);                                                       // length
  put_le16(&body, stream_number);
  put_le32(&body, 0);  // Data Size
  return build_object(kGuidAdvancedContentEncryption, body);
}

Bytes metadata_word(uint16_t value) {
  Bytes out;
  put_le16(&out, value);
  return out;
}

Bytes metadata_dword(uint32_t value) {
  Bytes out;
  put_le32(&out, value);
  return out;
}

Bytes metadata_qword(uint64_t value) {
  Bytes out;
  put_le64(&out, value);
  return out;
}

Bytes metadata_unicode(const std::string& text) { return utf16(text, true); }
