// The parser context and the Header Object walk.
#include <cstdlib>
#include <cstring>

#include "asf/asf.h"
#include "asf/asf_objects.h"
#include "asf/le_bytes.h"
#include "report/report.h"

namespace {

constexpr uint32_t kHeaderFixedSize = kAsfObjectHeaderSize + 6;  // + child count, two reserved bytes

// Reads the next n bytes of the header. The first bytes of the file are also kept in the
// context's head, so that an input that cannot go back (a pipe) can still be read from its
// start as an elementary stream when it proves not to be usable ASF.
bool read_exactly(AsfParserContext* context, uint8_t* buffer, uint32_t n) {
  uint32_t got = 0;
  bool ok = platform_read(context->file, buffer, n, &got) && got == n;
  HeaderBuffer& head = context->head;
  uint32_t keep = kHeaderBufferSize - head.count < got ? kHeaderBufferSize - head.count : got;
  std::memcpy(head.data + head.count, buffer, keep);
  head.count += keep;
  return ok;
}

// Moves a forward-only input on by n bytes, reading and dropping them. False when the
// input ends first.
bool read_past(AsfParserContext* context, uint64_t n, uint8_t* scratch, uint32_t scratch_size) {
  while (n > 0) {
    uint32_t piece = n < scratch_size ? static_cast<uint32_t>(n) : scratch_size;
    if (!read_exactly(context, scratch, piece)) return false;
    n -= piece;
  }
  return true;
}

// Walks the children of the Header Object in `area` through the object table. The
// children are reported up to the first Stream Properties Object of a usable WVC1 stream;
// the rest are handled by the same handlers with the report silenced, so that what they
// hold is known without a line of text more. At most `count` children are visited.
bool walk_children(const uint8_t* area, uint32_t length, uint32_t count, AsfParserContext* context) {
  bool result = false;
  bool was_silent = context->report->silent;
  uint32_t off = 0;
  uint32_t size = 0;
  for (uint32_t i = 0; i < count && (size = asf_child_size(area, length, off)) != 0; i++) {
    if (!result) {
      result = asf_dispatch_object(kAsfHeaderObjects, area + off, size, context);
      if (result) context->report->silent = true;
    } else {
      asf_dispatch_object(kAsfHeaderObjects, area + off, size, context);
    }
    off += size;
  }
  context->report->silent = was_silent;
  return result;
}

// What the walk leaves in every record once every object was seen: the bitrate the choice
// compares and the pixel aspect ratio.
void settle_records(AsfParserContext* context) {
  for (AsfStreamRecord* record : context->streams) {
    if (record == nullptr) continue;
    uint32_t extended = record->ext_stream_properties.data_bitrate;
    record->bitrate = extended != 0 ? extended : record->average_bitrate;
    if (record->par_x != 0 || record->par_y != 0) {
      record->par_source = kParMetadata;
    } else if (record->library_par_x != 0 || record->library_par_y != 0) {
      record->par_x = record->library_par_x;
      record->par_y = record->library_par_y;
      record->par_source = kParMetadataLibrary;
    }
  }
}

}  // namespace

AsfParserContext* asf_context_create(PlatformFile file, Report* report) {
  AsfParserContext* context = static_cast<AsfParserContext*>(std::calloc(1, sizeof(AsfParserContext)));
  if (context == nullptr) return nullptr;
  context->file = file;
  context->report = report;
  context->max_packet_size = 0;
  context->header_end = 0;
  for (AsfStreamRecord*& slot : context->streams) slot = nullptr;
  return context;
}

void asf_context_free(AsfParserContext* context) {
  if (context == nullptr) return;
  asf_release_streams(context);
  std::free(context);
}

bool asf_read_header(AsfParserContext* context) {
  uint8_t fixed[kHeaderFixedSize];
  bool seekable = platform_is_seekable(context->file);
  context->head.count = 0;
  if (seekable && !platform_seek(context->file, 0)) return false;
  if (!read_exactly(context, fixed, kHeaderFixedSize)) return false;
  if (!guid_equal(fixed, ASF_Header_Object)) return false;
  print_at_level(context->report, 2, "Found ASF_Header_Object\n\n");

  uint64_t object_size = read_le64(fixed + kAsfObjectSizeOffset);
  if (object_size < kHeaderFixedSize) return false;
  context->header_end = object_size;
  uint64_t declared_children = object_size - kHeaderFixedSize;
  uint32_t length = declared_children > kMaxHeaderChildArea ? kMaxHeaderChildArea
                                                            : static_cast<uint32_t>(declared_children);
  uint32_t count = read_le32(fixed + kAsfObjectHeaderSize);

  // One extra byte keeps the allocation non-empty for a header without children.
  uint8_t* area = static_cast<uint8_t*>(std::malloc(length + 1u));
  if (area == nullptr) return false;
  if (!read_exactly(context, area, length)) {
    std::free(area);
    return false;
  }
  bool result = walk_children(area, length, count, context);
  // A header whose only usable stream is embedded in the Header Extension is read as well.
  if (!result && context->embedded_stream_found != 0) result = true;
  // A forward-only input reaches the Data Object by reading over the part of the header
  // that was not walked; one that ends first is cut short inside its header.
  bool reached_end =
      seekable || read_past(context, object_size - kHeaderFixedSize - length, area, length + 1u);
  std::free(area);

  settle_records(context);
  if (!reached_end) return false;
  if (seekable) {
    // The demux's reader starts at the file's offset: put it where the Data Object begins.
    // A header that declares more bytes than the file holds is cut short.
    uint64_t file_size = 0;
    if (!platform_file_size(context->file, &file_size) || object_size > file_size) return false;
    if (!platform_seek(context->file, object_size)) return false;
  }
  context->header_read = 1;
  return result;
}
