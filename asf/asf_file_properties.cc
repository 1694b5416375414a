// The File Properties Object: the data packet size, and the timing and flags that the
// report and the demux read.
#include "asf/asf.h"
#include "asf/le_bytes.h"
#include "report/report.h"

namespace {

constexpr uint32_t kPlayDurationOffset = 64;
constexpr uint32_t kPrerollOffset = 80;
constexpr uint32_t kFlagsOffset = 88;
constexpr uint32_t kMaxPacketSizeOffset = 96;
constexpr uint32_t kMinSize = 100;  // up to the Maximum Data Packet Size

}  // namespace

bool asf_parse_file_properties(const uint8_t* object, uint32_t size, AsfParserContext* context) {
  print_at_level(context->report, 2, "-- Found ASF_File_Properties_Object\n");
  if (size < kMinSize) return false;
  context->play_duration = read_le64(object + kPlayDurationOffset);
  context->preroll = read_le64(object + kPrerollOffset);
  context->file_flags = read_le32(object + kFlagsOffset);
  context->max_packet_size = read_le32(object + kMaxPacketSizeOffset);
  return false;
}
