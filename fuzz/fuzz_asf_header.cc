// Property: for any input file, the ASF header walk and the stream choice stay within
// their memory, and when the walk accepts the file (a) the file offset is the Header
// Object's declared end, which lies within the file, (b) every stream record carries at
// most 1024 header bytes, (c) the chosen stream, if any, is usable WVC1 video, (d) a stream
// asked for by number is chosen only when it is usable WVC1 video, and (e) the reader then
// delivers exactly the file's bytes from that offset on, in windows of any size, reporting
// the end of the input where the file ends.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "asf/asf.h"
#include "io/file_reader.h"
#include "platform/platform.h"
#include "report/report.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// Reads the rest of the input through the reader, asking for windows of varying sizes and
// consuming varying parts of them, and compares every byte with the input: each when it
// first shows in the window, and again after the window moved, which carries the bytes not
// consumed. A byte is compared once per window it lies in, not once per fill.
void check_reader_delivers_rest(FileReader* reader, const uint8_t* data, size_t size, uint64_t from) {
  static const uint32_t kWindows[] = {1, 2, 4, 16, 7, 300, 4096, 65536, 1u << 20, 3u << 20};
  uint64_t at = from;
  uint64_t compared = from;  // the window's bytes before this input offset were compared
  for (int i = 0; at <= size; i++) {
    uint32_t n = kWindows[(static_cast<size_t>(i) + size) % (sizeof kWindows / sizeof kWindows[0])];
    const uint8_t* before = reader_peek(reader);
    uint32_t got = reader_fill(reader, n);
    check(reader->position == at);
    check(got >= n ? true : (reader->ended == kReaderEndOfInput && at + got == size));
    const uint8_t* bytes = reader_peek(reader);
    if (bytes != before) compared = at;
    check(std::memcmp(bytes + (compared - at), data + compared, static_cast<size_t>(at + got - compared)) ==
          0);
    compared = at + got;
    if (got == 0) break;
    uint32_t take = (got + static_cast<uint32_t>(i)) % got + 1;
    reader_consume(reader, take);
    at += take;
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
  Report report;
  report.verbosity = 3;
  report.capture_console = &console;
  report.capture_out = &out;
  {
    AsfParserContext* context = asf_context_create(file, &report);
    if (context != nullptr) {
      if (asf_read_header(context)) {
        uint64_t offset = 0;
        check(platform_tell(file, &offset) && offset == context->header_end);
        check(context->header_end <= size);
        for (const AsfStreamRecord* record : context->streams) {
          if (record == nullptr) continue;
          check(record->retrieved_headers.count <= kHeaderBufferSize);
        }
        uint32_t requested = static_cast<uint32_t>(size % kMaxStreams);  // 0: by bitrate
        uint32_t chosen = asf_select_video_stream(context, requested);
        if (chosen != 0) {
          const AsfStreamRecord* record = asf_get_stream(context, chosen);
          check(record != nullptr && record->is_video == 1 && record->is_wvc1 == 1);
          check(requested == 0 || chosen == requested);
        }
        FileReader reader = reader_create();
        check(reader_init(file, offset, &reader));
        check_reader_delivers_rest(&reader, data, size, offset);
        reader_release(&reader);
      }
      asf_context_free(context);
    }
  }
  platform_close(file);
  return 0;
}
