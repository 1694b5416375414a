// The Extended Content Description Object: the name of the encoder that wrote the file,
// from "WM/ToolName" with "WM/ToolVersion", else from "WM/EncodingSettings".
#include <cstring>

#include "asf/asf.h"
#include "asf/le_bytes.h"

namespace {

constexpr uint32_t kDescriptorsOffset = kAsfObjectHeaderSize + 2;  // after the descriptor count
constexpr uint32_t kTypeUnicode = 0;

struct Text {
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  bool present() const { return data != nullptr && asf_utf16_units(data, length) != 0; }
};

// Appends the text as UTF-8 to `out` (kMaxEncoderText bytes, terminated), cut to fit.
void append_text(char* out, const Text& text) {
  uint32_t used = static_cast<uint32_t>(std::strlen(out));
  asf_utf16_to_utf8(text.data, text.length, out + used, kMaxEncoderText - used);
}

}  // namespace

bool asf_parse_ext_content_description(const uint8_t* object, uint32_t size, AsfParserContext* context) {
  if (size < kDescriptorsOffset) return false;
  uint32_t count = read_le16(object + kAsfObjectHeaderSize);
  Text tool_name, tool_version, settings;
  uint32_t pos = kDescriptorsOffset;
  // Each descriptor: Name Length, Name, Value Data Type, Value Length, Value. One that
  // runs past the object ends the walk.
  for (uint32_t i = 0; i < count && size - pos >= 2; i++) {
    uint32_t name_length = read_le16(object + pos);
    if (size - pos - 2 < name_length + 4u) break;
    const uint8_t* name = object + pos + 2;
    const uint8_t* value_header = name + name_length;
    uint32_t type = read_le16(value_header);
    uint32_t value_length = read_le16(value_header + 2);
    if (size - pos - 2 - name_length - 4 < value_length) break;
    Text value = {value_header + 4, value_length};
    if (type == kTypeUnicode) {
      if (asf_utf16_equals(name, name_length, "WM/ToolName")) tool_name = value;
      if (asf_utf16_equals(name, name_length, "WM/ToolVersion")) tool_version = value;
      if (asf_utf16_equals(name, name_length, "WM/EncodingSettings")) settings = value;
    }
    pos += 2 + name_length + 4 + value_length;
  }

  if (!tool_name.present() && !settings.present()) return false;
  context->encoder[0] = '\0';
  if (tool_name.present()) {
    append_text(context->encoder, tool_name);
    if (tool_version.present()) {
      std::strncat(context->encoder, " ", kMaxEncoderText - 1 - std::strlen(context->encoder));
      append_text(context->encoder, tool_version);
    }
  } else {
    append_text(context->encoder, settings);
  }
  return false;
}
