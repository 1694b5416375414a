// Property: for any input file, the ASF header walk and the stream choice stay within
// their memory, and when the walk accepts the file (a) the file offset is the Header
// Object's declared end, which lies within the file, (b) every stream record carries the
// context's packet size and at most 1024 header bytes, (c) the chosen stream, if any, is
// usable WVC1 video, (d) a stream asked for by number is chosen only when it is usable
// WVC1 video, and (e) the buffered reader then delivers exactly the file's bytes from that
// offset on, reporting the end of the input where the file ends.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "asf/asf.h"
#include "io/file_reader.h"
#include "platform/platform.h"
#include "report/report.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// Reads the rest of the input through the reader in chunks of varying sizes and compares
// every byte with the input.
void check_reader_delivers_rest(FileReader* reader, const uint8_t* data, size_t size, uint64_t from) {
  static const uint32_t kChunks[] = {1, 2, 4, 16, 7, 300, 4096, 65536, 917503};
  static uint8_t chunk[917503];
  uint64_t at = from;
  for (int i = 0; at <= size + 2000; i++) {
    uint32_t n = kChunks[(static_cast<size_t>(i) + size) % (sizeof kChunks / sizeof kChunks[0])];
    bool available = reader_available(reader, n);
    check(available == (at + n <= size));
    uint64_t before = reader->position;
    reader_read(reader, n, chunk);
    check(reader->position == before + n);
    for (uint32_t k = 0; k < n && at + k < size; k++) check(chunk[k] == data[at + k]);
    at += n;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fd = memfd_create("fuzz-asf-header", 0);
  if (fd < 0) return 0;
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  std::string path = "/proc/self/fd/" + std::to_string(fd);
  PlatformFile file = platform_open_read(path.c_str());
  close(fd);
  if (file == kInvalidFile) return 0;

  std::string console, out;
  console_capture(&console, &out);
  report_set_verbosity(3);
  FileReader reader = reader_create();
  if (reader_init(file, &reader)) {
    AsfParserContext* context = asf_context_create(file, &reader);
    if (context != nullptr) {
      if (asf_read_header(context) != 0) {
        uint64_t offset = 0;
        check(platform_tell(file, &offset) && offset == context->header_end);
        check(context->header_end <= size);
        for (const AsfStreamRecord* record : context->streams) {
          if (record == nullptr) continue;
          check(record->max_packet_size == context->max_packet_size);
          check(record->retrieved_headers.count <= kHeaderBufferSize);
        }
        uint32_t requested = static_cast<uint32_t>(size % kMaxStreams);  // 0: by bitrate
        uint32_t chosen = asf_select_video_stream(context, requested);
        if (chosen != 0) {
          const AsfStreamRecord* record = asf_get_stream(context, chosen);
          check(record != nullptr && record->is_video == 1 && record->is_wvc1 == 1);
          check(requested == 0 || chosen == requested);
        }
        check_reader_delivers_rest(&reader, data, size, offset);
      }
      asf_context_free(context);
    }
  }
  reader_release(&reader);
  console_capture(nullptr, nullptr);
  report_set_verbosity(2);
  platform_close(file);
  return 0;
}
