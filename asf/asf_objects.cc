// The object tables, the framing of a child object, and the Header Extension Object, whose
// children are walked through the second table.
#include "asf/asf_objects.h"

#include "asf/le_bytes.h"
#include "report/report.h"

namespace {

constexpr uint32_t kExtensionDataOffset = 46;  // the Header Extension's children start here

}  // namespace

const AsfObjectRow kAsfHeaderObjects[] = {
    {ASF_Stream_Properties_Object, asf_handle_stream_properties},
    {ASF_File_Properties_Object, asf_parse_file_properties},
    {ASF_Header_Extension_Object, asf_parse_header_extension},
    {ASF_Stream_Bitrate_Properties_Object, asf_parse_stream_bitrate_properties},
    {ASF_Extended_Content_Description_Object, asf_parse_ext_content_description},
    {ASF_Content_Encryption_Object, asf_parse_content_encryption},
    {ASF_Extended_Content_Encryption_Object, asf_parse_content_encryption},
    {nullptr, nullptr},
};

const AsfObjectRow kAsfHeaderExtensionObjects[] = {
    {ASF_Extended_Stream_Properties_Object, asf_handle_ext_stream_properties},
    {ASF_Metadata_Object, asf_parse_metadata},
    {ASF_Metadata_Library_Object, asf_parse_metadata_library},
    {ASF_Advanced_Content_Encryption_Object, asf_parse_content_encryption},
    {nullptr, nullptr},
};

uint32_t asf_child_size(const uint8_t* area, uint32_t length, uint32_t offset) {
  if (offset > length || length - offset <= kAsfObjectHeaderSize) return 0;
  uint64_t size = read_le64(area + offset + kAsfObjectSizeOffset);
  if (size < kAsfObjectHeaderSize || size > length - offset) return 0;
  return static_cast<uint32_t>(size);
}

bool asf_dispatch_object(const AsfObjectRow* rows, const uint8_t* object, uint32_t size,
                         AsfParserContext* context) {
  for (const AsfObjectRow* row = rows; row->guid != nullptr; row++) {
    if (guid_equal(object, row->guid)) return row->handle(object, size, context);
  }
  return false;
}

bool asf_parse_header_extension(const uint8_t* object, uint32_t size, AsfParserContext* context) {
  print_at_level(context->report, 2, "-- Found ASF_Header_Extension_Object\n");
  if (size < kExtensionDataOffset) return false;
  uint32_t length = 0;
  for (uint32_t cur = kExtensionDataOffset; (length = asf_child_size(object, size, cur)) != 0;
       cur += length) {
    asf_dispatch_object(kAsfHeaderExtensionObjects, object + cur, length, context);
  }
  return false;
}
