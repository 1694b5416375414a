// A strict reader of JSON text (RFC 8259) for the fuzz targets' oracles: anything the
// grammar does not allow is refused, and so are strings that are not well-formed UTF-8,
// unescaped control characters, lone surrogate escapes, a key given twice in one object
// and anything behind the top-level value.
#ifndef TARVEL_FUZZ_STRICT_JSON_H_
#define TARVEL_FUZZ_STRICT_JSON_H_

#include <cstdint>
#include <string>
#include <vector>

enum class JsonKind { kNull, kBool, kNumber, kString, kArray, kObject };

struct JsonValue {
  JsonKind kind = JsonKind::kNull;
  bool boolean = false;
  std::string text;               // a number as written, or a string's UTF-8
  std::vector<std::string> keys;  // an object's keys, in order
  std::vector<JsonValue> items;   // an array's elements, or an object's values
};

// Parses the whole text into `out`. False, with the byte offset of the fault in *error_at,
// when it is not one JSON value.
bool json_parse(const std::string& text, JsonValue* out, size_t* error_at);

// The member `key` of an object, or null (not an object, or no such member).
const JsonValue* json_member(const JsonValue* object, const char* key);

// A number that is a whole number within int64_t; false for anything else.
bool json_integer(const JsonValue* value, int64_t* out);

#endif  // TARVEL_FUZZ_STRICT_JSON_H_
