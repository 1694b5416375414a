// The header objects the program reads, by GUID: one table for the children of the Header
// Object and one for the children of the Header Extension Object. Reading one more object
// is one handler and one row here; no walk changes.
#ifndef TARVEL_ASF_ASF_OBJECTS_H_
#define TARVEL_ASF_ASF_OBJECTS_H_

#include <cstdint>

#include "asf/asf.h"

// Handles one object (size = its length in memory, object header included). True only
// from the top-level Stream Properties handler, for a usable WVC1 stream.
typedef bool (*AsfObjectHandler)(const uint8_t* object, uint32_t size, AsfParserContext* context);

struct AsfObjectRow {
  const uint8_t* guid;  // null ends a table
  AsfObjectHandler handle;
};

extern const AsfObjectRow kAsfHeaderObjects[];
extern const AsfObjectRow kAsfHeaderExtensionObjects[];

// The length of the child that starts at `offset` in an area of `length` bytes, or 0 when
// it cannot be framed: fewer than an object header and one byte left, a declared size
// below an object header, or an end past the area. Such a child ends a walk: stepping by
// its size would not move forward or would leave the area.
uint32_t asf_child_size(const uint8_t* area, uint32_t length, uint32_t offset);

// Hands the object to the handler of the first row with its GUID and returns what it
// returned; false when no row has it.
bool asf_dispatch_object(const AsfObjectRow* rows, const uint8_t* object, uint32_t size,
                         AsfParserContext* context);

// Row handlers that find the stream record first.
bool asf_handle_stream_properties(const uint8_t* object, uint32_t size, AsfParserContext* context);
bool asf_handle_ext_stream_properties(const uint8_t* object, uint32_t size, AsfParserContext* context);

#endif  // TARVEL_ASF_ASF_OBJECTS_H_
