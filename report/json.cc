// The streaming JSON writer and its string escaping.
#include "report/json.h"

#include <cstring>

namespace {

void put(JsonWriter* w, const char* text, size_t length) {
  while (length > 0) {
    if (w->used == kJsonBufferSize) json_flush(w);
    size_t n = kJsonBufferSize - w->used;
    if (n > length) n = length;
    std::memcpy(w->buffer + w->used, text, n);
    w->used += static_cast<uint32_t>(n);
    text += n;
    length -= n;
  }
}

void put_char(JsonWriter* w, char c) {
  if (w->used == kJsonBufferSize) json_flush(w);
  w->buffer[w->used++] = c;
}

void put_text(JsonWriter* w, const char* text) { put(w, text, std::strlen(text)); }

// The length of the well-formed UTF-8 sequence at text[0, length), or 0 when it is not
// one: no overlong forms, no surrogates, nothing past U+10FFFF.
size_t utf8_sequence(const unsigned char* text, size_t length) {
  unsigned char lead = text[0];
  size_t n;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;  // the bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (length < n || text[1] < low || text[1] > high) return 0;
  for (size_t i = 2; i < n; i++) {
    if ((text[i] & 0xC0) != 0x80) return 0;
  }
  return n;
}

void put_escaped(JsonWriter* w, const char* text, size_t length) {
  static const char kHex[] = "0123456789abcdef";
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  put_char(w, '"');
  size_t i = 0;
  while (i < length) {
    unsigned char c = p[i];
    if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
      put_char(w, static_cast<char>(c));
      i++;
      continue;
    }
    if (c >= 0x80) {
      size_t n = utf8_sequence(p + i, length - i);
      if (n == 0) {
        put_text(w, "\\ufffd");
        i++;
      } else {
        put(w, text + i, n);
        i += n;
      }
      continue;
    }
    // The characters with a short escape, then the letters of their escapes.
    static constexpr char kShort[] = "\"\\\b\f\n\r\t";
    static constexpr char kLetter[] = "\"\\bfnrt";
    put_char(w, '\\');
    const char* at = c != 0 ? std::strchr(kShort, c) : nullptr;
    if (at != nullptr) {
      put_char(w, kLetter[at - kShort]);
    } else {
      char escape[5] = {'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
      put(w, escape, sizeof escape);
    }
    i++;
  }
  put_char(w, '"');
}

// Whether members of the container at this depth are written; false past the deepest.
bool writing(const JsonWriter* w) { return w->skipped == 0; }

// What comes before a member: the separator, the line break and indent, the key.
void begin_member(JsonWriter* w, const char* key) {
  if (w->depth == 0) return;
  uint32_t top = w->depth - 1;
  if (w->has_member[top]) put_char(w, ',');
  if (w->one_line[top]) {
    if (w->has_member[top]) put_char(w, ' ');
  } else {
    put_char(w, '\n');
    for (uint32_t i = 0; i < w->depth; i++) put(w, "  ", 2);
  }
  w->has_member[top] = 1;
  if (!w->is_array[top]) {
    put_escaped(w, key != nullptr ? key : "", key != nullptr ? std::strlen(key) : 0);
    put(w, ": ", 2);
  }
}

void begin_container(JsonWriter* w, const char* key, JsonLayout layout, bool array) {
  if (!writing(w) || w->depth == kJsonMaxDepth) {
    w->skipped++;
    return;
  }
  begin_member(w, key);
  put_char(w, array ? '[' : '{');
  bool inside_one_line = w->depth > 0 && w->one_line[w->depth - 1];
  w->has_member[w->depth] = 0;
  w->one_line[w->depth] = layout == kJsonOneLine || inside_one_line ? 1 : 0;
  w->is_array[w->depth] = array ? 1 : 0;
  w->depth++;
}

void put_number(JsonWriter* w, const char* key, uint64_t magnitude, bool negative) {
  if (!writing(w)) return;
  begin_member(w, key);
  char digits[21];
  size_t n = 0;
  do {
    digits[sizeof digits - 1 - n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) put_char(w, '-');
  put(w, digits + sizeof digits - n, n);
}

}  // namespace

void json_init(JsonWriter* w, JsonOutput output, void* context) {
  w->output = output;
  w->output_context = context;
  w->used = 0;
  w->depth = 0;
  w->skipped = 0;
}

void json_begin_object(JsonWriter* w, const char* key, JsonLayout layout) {
  begin_container(w, key, layout, false);
}

void json_begin_array(JsonWriter* w, const char* key, JsonLayout layout) {
  begin_container(w, key, layout, true);
}

void json_end(JsonWriter* w) {
  if (w->skipped > 0) {
    w->skipped--;
    return;
  }
  if (w->depth == 0) return;
  uint32_t top = --w->depth;
  if (w->has_member[top] && !w->one_line[top]) {
    put_char(w, '\n');
    for (uint32_t i = 0; i < w->depth; i++) put(w, "  ", 2);
  }
  put_char(w, w->is_array[top] ? ']' : '}');
  if (w->depth == 0) {
    put_char(w, '\n');
    json_flush(w);
  }
}

void json_string(JsonWriter* w, const char* key, const char* text) {
  json_string_bytes(w, key, text, std::strlen(text));
}

void json_string_bytes(JsonWriter* w, const char* key, const char* text, size_t length) {
  if (!writing(w)) return;
  begin_member(w, key);
  put_escaped(w, text, length);
}

void json_hex(JsonWriter* w, const char* key, const uint8_t* bytes, size_t count) {
  static const char kHex[] = "0123456789abcdef";
  if (!writing(w)) return;
  begin_member(w, key);
  put_char(w, '"');
  for (size_t i = 0; i < count; i++) {
    char pair[2] = {kHex[bytes[i] >> 4], kHex[bytes[i] & 15]};
    put(w, pair, 2);
  }
  put_char(w, '"');
}

void json_uint(JsonWriter* w, const char* key, uint64_t value) { put_number(w, key, value, false); }

void json_int(JsonWriter* w, const char* key, int64_t value) {
  // The magnitude in unsigned arithmetic, so that the most negative value has one too.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  put_number(w, key, magnitude, value < 0);
}

void json_bool(JsonWriter* w, const char* key, bool value) {
  if (!writing(w)) return;
  begin_member(w, key);
  put_text(w, value ? "true" : "false");
}

void json_null(JsonWriter* w, const char* key) {
  if (!writing(w)) return;
  begin_member(w, key);
  put_text(w, "null");
}

void json_flush(JsonWriter* w) {
  if (w->used == 0) return;
  w->output(w->output_context, w->buffer, w->used);
  w->used = 0;
}
