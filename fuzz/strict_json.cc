// The strict JSON reader (see strict_json.h): recursive descent over the text.
#include "fuzz/strict_json.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMaxDepth = 64;

struct Parser {
  const std::string& text;
  size_t at;

  int peek() const { return at < text.size() ? static_cast<uint8_t>(text[at]) : -1; }
  void skip_space() {
    while (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r') at++;
  }
  bool take(char c) {
    if (peek() != static_cast<uint8_t>(c)) return false;
    at++;
    return true;
  }
  bool literal(const char* word) {
    size_t n = std::strlen(word);
    if (text.compare(at, n, word) != 0) return false;
    at += n;
    return true;
  }
};

bool is_digit(int c) { return c >= '0' && c <= '9'; }

bool parse_value(Parser* p, JsonValue* out, int depth);

bool parse_number(Parser* p, JsonValue* out) {
  size_t start = p->at;
  p->take('-');
  if (p->take('0')) {
    if (is_digit(p->peek())) return false;  // no leading zeros
  } else {
    if (!is_digit(p->peek())) return false;
    while (is_digit(p->peek())) p->at++;
  }
  if (p->take('.')) {
    if (!is_digit(p->peek())) return false;
    while (is_digit(p->peek())) p->at++;
  }
  if (p->peek() == 'e' || p->peek() == 'E') {
    p->at++;
    if (p->peek() == '+' || p->peek() == '-') p->at++;
    if (!is_digit(p->peek())) return false;
    while (is_digit(p->peek())) p->at++;
  }
  out->kind = JsonKind::kNumber;
  out->text = p->text.substr(start, p->at - start);
  return true;
}

void put_utf8(uint32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | c >> 6));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | c >> 12));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | c >> 18));
    out->push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool hex4(Parser* p, uint32_t* out) {
  *out = 0;
  for (int i = 0; i < 4; i++) {
    int c = p->peek();
    uint32_t v = is_digit(c)              ? c - '0'
                 : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                 : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                          : 16;
    if (v == 16) return false;
    *out = *out << 4 | v;
    p->at++;
  }
  return true;
}

bool parse_escape(Parser* p, std::string* out) {
  static const char kPlain[] = "\"\\/bfnrt";
  static const char kMeans[] = "\"\\/\b\f\n\r\t";
  int c = p->peek();
  const char* plain = c > 0 ? std::strchr(kPlain, c) : nullptr;
  if (plain != nullptr && *plain != '\0') {
    out->push_back(kMeans[plain - kPlain]);
    p->at++;
    return true;
  }
  uint32_t unit = 0;
  if (!p->take('u') || !hex4(p, &unit) || (unit >= 0xDC00 && unit < 0xE000)) return false;
  if (unit >= 0xD800 && unit < 0xDC00) {
    uint32_t low = 0;
    if (!p->take('\\') || !p->take('u') || !hex4(p, &low) || low < 0xDC00 || low >= 0xE000) return false;
    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  }
  put_utf8(unit, out);
  return true;
}

// One well-formed UTF-8 character of two to four bytes, its lead byte at p->at.
bool take_utf8(Parser* p, std::string* out) {
  int lead = p->peek();
  int n = lead >= 0xC2 && lead <= 0xDF   ? 1
          : lead >= 0xE0 && lead <= 0xEF ? 2
          : lead >= 0xF0 && lead <= 0xF4 ? 3
                                         : 0;
  if (n == 0 || p->at + n >= p->text.size()) return false;
  uint32_t c = lead & (0x3F >> n);
  for (int i = 1; i <= n; i++) {
    uint8_t b = static_cast<uint8_t>(p->text[p->at + i]);
    if ((b & 0xC0) != 0x80) return false;
    c = c << 6 | (b & 0x3F);
  }
  static const uint32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
  if (c < kLeast[n] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
  out->append(p->text, p->at, n + 1);
  p->at += n + 1;
  return true;
}

bool parse_string(Parser* p, std::string* out) {
  if (!p->take('"')) return false;
  out->clear();
  for (;;) {
    int c = p->peek();
    if (c < 0x20) return false;  // the end of the text, or a control character
    if (c == '"') {
      p->at++;
      return true;
    }
    if (c == '\\') {
      p->at++;
      if (!parse_escape(p, out)) return false;
    } else if (c < 0x80) {
      out->push_back(static_cast<char>(c));
      p->at++;
    } else if (!take_utf8(p, out)) {
      return false;
    }
  }
}

bool parse_container(Parser* p, JsonValue* out, bool object, int depth) {
  out->kind = object ? JsonKind::kObject : JsonKind::kArray;
  p->skip_space();
  if (p->take(object ? '}' : ']')) return true;
  for (;;) {
    if (object) {
      std::string key;
      p->skip_space();
      if (!parse_string(p, &key)) return false;
      for (const std::string& k : out->keys) {
        if (k == key) return false;
      }
      out->keys.push_back(key);
      p->skip_space();
      if (!p->take(':')) return false;
    }
    out->items.emplace_back();
    if (!parse_value(p, &out->items.back(), depth + 1)) return false;
    p->skip_space();
    if (p->take(object ? '}' : ']')) return true;
    if (!p->take(',')) return false;
  }
}

bool parse_value(Parser* p, JsonValue* out, int depth) {
  if (depth > kMaxDepth) return false;
  p->skip_space();
  int c = p->peek();
  if (c == '{' || c == '[') {
    p->at++;
    return parse_container(p, out, c == '{', depth);
  }
  if (c == '"') {
    out->kind = JsonKind::kString;
    return parse_string(p, &out->text);
  }
  if (c == '-' || is_digit(c)) return parse_number(p, out);
  if (p->literal("true") || p->literal("false")) {
    out->kind = JsonKind::kBool;
    out->boolean = p->text[p->at - 2] == 'u';  // "true" ends in "ue", "false" in "se"
    return true;
  }
  out->kind = JsonKind::kNull;
  return p->literal("null");
}

}  // namespace

bool json_parse(const std::string& text, JsonValue* out, size_t* error_at) {
  Parser p{text, 0};
  *out = JsonValue{};
  bool ok = parse_value(&p, out, 0);
  if (ok) p.skip_space();
  if (ok && p.at == text.size()) return true;
  *error_at = p.at;
  return false;
}

const JsonValue* json_member(const JsonValue* object, const char* key) {
  if (object == nullptr || object->kind != JsonKind::kObject) return nullptr;
  for (size_t i = 0; i < object->keys.size(); i++) {
    if (object->keys[i] == key) return &object->items[i];
  }
  return nullptr;
}

bool json_integer(const JsonValue* value, int64_t* out) {
  if (value == nullptr || value->kind != JsonKind::kNumber) return false;
  if (value->text.find_first_of(".eE") != std::string::npos) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(value->text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *out = v;
  return true;
}
