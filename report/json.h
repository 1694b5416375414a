// A JSON document (RFC 8259, UTF-8) written as it goes: the report for programs.
//
// The writer holds no part of the document but a small output buffer and the stack of
// open containers, so that a run lists any number of frames in the same memory. Members
// are written in the order they are given; a key is given for an object's member and
// null for an array's element. Containers opened with kJsonOneLine keep their members on
// one line (a frame, a message), the others put each member on a line of its own.
//
// The text goes to the output the writer is given: the run's report gives its own
// (report_json_start), which sends it to standard output or a test's capture.
#ifndef TARVEL_REPORT_JSON_H_
#define TARVEL_REPORT_JSON_H_

#include <cstddef>
#include <cstdint>

constexpr uint32_t kJsonMaxDepth = 8;       // containers open at once; deeper ones are not written
constexpr uint32_t kJsonBufferSize = 4096;  // bytes held before they go to the output

enum JsonLayout : uint8_t {
  kJsonLines = 0,    // one member per line, indented by depth
  kJsonOneLine = 1,  // every member on the container's own line
};

// Where the document's bytes go, with the context it was given.
typedef void (*JsonOutput)(void* context, const char* text, size_t length);

struct JsonWriter {
  JsonOutput output;
  void* output_context;
  char buffer[kJsonBufferSize];
  uint32_t used;
  uint32_t depth;                     // containers open
  uint32_t skipped;                   // containers opened past kJsonMaxDepth, not written
  uint8_t has_member[kJsonMaxDepth];  // per open container: a member was written
  uint8_t one_line[kJsonMaxDepth];    // per open container: kJsonOneLine
  uint8_t is_array[kJsonMaxDepth];    // per open container: an array
};

// Makes the writer empty, with nothing open, writing to `output`.
void json_init(JsonWriter* w, JsonOutput output, void* context);

// Opens an object or an array: the document itself when nothing is open (its key is then
// ignored). Inside a one-line container the new one is one-line too.
void json_begin_object(JsonWriter* w, const char* key, JsonLayout layout = kJsonLines);
void json_begin_array(JsonWriter* w, const char* key, JsonLayout layout = kJsonLines);
// Closes the innermost open container; closing the document ends its line and writes out
// everything held. Nothing when nothing is open.
void json_end(JsonWriter* w);

// Members. Text is escaped: quotation mark, reverse solidus and control characters as
// escapes, bytes that are not well-formed UTF-8 as U+FFFD; everything else as it is.
void json_string(JsonWriter* w, const char* key, const char* text);
void json_string_bytes(JsonWriter* w, const char* key, const char* text, size_t length);
// The bytes as one string of lower-case hex digits, two per byte.
void json_hex(JsonWriter* w, const char* key, const uint8_t* bytes, size_t count);
void json_uint(JsonWriter* w, const char* key, uint64_t value);
void json_int(JsonWriter* w, const char* key, int64_t value);
void json_bool(JsonWriter* w, const char* key, bool value);
void json_null(JsonWriter* w, const char* key);

// Writes out what the writer holds.
void json_flush(JsonWriter* w);

#endif  // TARVEL_REPORT_JSON_H_
