// The Content Encryption, Extended Content Encryption and Advanced Content Encryption
// Objects: any of them means the file's frames are encrypted, and are not to be converted.
#include "asf/asf.h"

bool asf_parse_content_encryption(const uint8_t*, uint32_t, AsfParserContext* context) {
  context->content_encrypted = 1;
  return false;
}

bool asf_stream_is_encrypted(const AsfParserContext* context, const AsfStreamRecord* record) {
  return context->content_encrypted != 0 || record->encrypted != 0;
}
