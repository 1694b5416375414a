// The reader's window: a buffer topped up in large sequential reads, its unconsumed bytes
// moved to the front when more must follow them.
#include "io/file_reader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// The system copies file data fastest into memory that stands at the same offset within a
// page as the data in the file: the buffer starts on a page boundary, and every fill puts
// the next byte to consume at the buffer index that matches its input offset.
constexpr uint32_t kPageSize = 4096;

// Makes the buffer at least `size` bytes; a new buffer takes the unconsumed bytes to its
// front. False when it cannot be had (the buffer is then as it was).
bool grow_buffer(FileReader* reader, uint32_t size) {
  if (size <= reader->capacity) return true;
  // Whole pages, so that the new buffer starts on a page boundary as the first did.
  uint32_t capacity = (size + kPageSize - 1) / kPageSize * kPageSize;
  void* larger = nullptr;
#ifdef _WIN32
  larger = _aligned_malloc(capacity, kPageSize);
#else
  if (posix_memalign(&larger, kPageSize, capacity) != 0) larger = nullptr;
#endif
  if (larger == nullptr) return false;
  if (reader->buffer != nullptr)
    std::memcpy(larger, reader->buffer + reader->start, reader->end - reader->start);
#ifdef _WIN32
  _aligned_free(reader->buffer);
#else
  std::free(reader->buffer);
#endif
  reader->end -= reader->start;
  reader->start = 0;
  reader->buffer = static_cast<uint8_t*>(larger);
  reader->capacity = capacity;
  return true;
}

}  // namespace

FileReader reader_create() {
  FileReader reader;
  std::memset(&reader, 0, sizeof reader);
  reader.file = kInvalidFile;
  return reader;
}

bool reader_init(PlatformFile file, uint64_t offset, FileReader* reader) {
  *reader = reader_create();
  reader->file = file;
  reader->position = offset;
  if (file == kInvalidFile) return false;
  uint64_t size = 0;
  reader->waits = platform_is_seekable(file) ? 0 : 1;
  if (!reader->waits && platform_file_size(file, &size)) reader->file_size = size;
  return grow_buffer(reader, kReaderBufferSize);
}

void reader_release(FileReader* reader) {
#ifdef _WIN32
  _aligned_free(reader->buffer);
#else
  std::free(reader->buffer);
#endif
  reader->buffer = nullptr;
  reader->capacity = reader->start = reader->end = 0;
}

uint32_t reader_fill(FileReader* reader, uint32_t n) {
  uint32_t buffered = reader_buffered(reader);
  if (buffered >= n || reader->ended != kReaderOpen) return buffered;

  // The unconsumed bytes move to the front, at the index that matches their input offset
  // within a page; the buffer grows when n bytes would not fit behind that index.
  uint32_t front = static_cast<uint32_t>(reader->position % kPageSize);
  uint32_t want = n <= kReaderMaxFill ? n : kReaderMaxFill;
  if (front + want > reader->capacity && !grow_buffer(reader, front + want)) {
    want = reader->capacity - front;  // what fits is read; the rest is refused
  }
  if (reader->start != front) {
    std::memmove(reader->buffer + front, reader->buffer + reader->start, buffered);
    reader->start = front;
    reader->end = front + buffered;
  }
  // Each read asks for all the room there is, and the fill returns once n bytes are here:
  // a pipe that delivers a little at a time is not waited on for more than was asked for.
  while (reader->end - reader->start < want) {
    uint32_t got = 0;
    uint8_t* into = reader->buffer + reader->end;
    uint32_t room = reader->capacity - reader->end;
    bool ok = reader->waits ? platform_read_some(reader->file, into, room, &got)
                            : platform_read(reader->file, into, room, &got);
    reader->end += got;  // a failing read reports what it delivered before the error
    if (!ok) {
      reader->ended = platform_last_error() == kErrorInterrupted ? kReaderInterrupted : kReaderReadError;
      break;
    }
    if (got == 0) {
      reader->ended = kReaderEndOfInput;
      break;
    }
  }
  if (want < n && reader->ended == kReaderOpen && reader->end - reader->start >= want) {
    platform_set_last_error_from_errno(ENOMEM);
    reader->ended = kReaderReadError;
  }
  return reader_buffered(reader);
}
