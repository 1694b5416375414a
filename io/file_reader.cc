// The buffered reader: a power-of-two ring topped up to a fixed level in at most two
// sequential file reads, and consumed a few bytes at a time by the demux.
#include "io/file_reader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kSizeLog2 = 20;
constexpr uint32_t kRingSize = 1u << kSizeLog2;
constexpr uint32_t kReserve = 0x20000;
constexpr uint32_t kFillTarget = kRingSize - kReserve;
// The system copies file data fastest into memory that stands at the same offset within
// a page as the data in the file: the ring starts on a page boundary, and the first fill
// puts the file's bytes at the ring index that matches their file offset.
constexpr uint32_t kPageSize = 4096;

// Reads n bytes into the ring at index `at` (the piece must not pass the ring's end).
// Returns the count the file delivered; once the input has ended nothing more is read.
// Ring bytes a short read left unwritten keep whatever they held: they lie past the end
// of the input, and consuming them gives zeros (see file_bytes_in).
uint32_t read_piece(FileReader* reader, uint32_t at, uint32_t n) {
  uint32_t got = 0;
  if (reader->ended == 0) {
    // A failing read reports what it delivered before the error; the input ends there.
    if (!platform_read(reader->file, reader->buffer + at, n, &got)) reader->ended = 1;
    if (got > n) got = n;
  }
  return got;
}

// How many of the next n bytes to be consumed are file data; the rest lie past the end.
uint32_t file_bytes_in(const FileReader* reader, uint32_t n) {
  if (reader->ended == 0) return n;
  if (reader->data_end <= reader->position) return 0;
  uint64_t left = reader->data_end - reader->position;
  return left < n ? static_cast<uint32_t>(left) : n;
}

// Copies n ring bytes from index `at` on, wrapping around the ring's end.
void copy_out(const FileReader* reader, uint32_t at, uint32_t n, uint8_t* out) {
  uint32_t room = reader->ring_size - at;
  uint32_t first = n < room ? n : room;
  std::memcpy(out, reader->buffer + at, first);
  if (n > first) std::memcpy(out + first, reader->buffer, n - first);
}

void consume(FileReader* reader, uint32_t n) {
  reader->read_index = (reader->read_index + n) & reader->index_mask;
  reader->position += n;
}

}  // namespace

FileReader reader_create() {
  FileReader reader;
  std::memset(&reader, 0, sizeof reader);
  reader.file = kInvalidFile;
  return reader;
}

bool reader_init(PlatformFile file, FileReader* reader) {
  reader->file = file;
  reader->size_log2 = kSizeLog2;
  reader->ring_size = kRingSize;
  reader->index_mask = kRingSize - 1;
  reader->reserve = kReserve;
  reader->fill_target = kFillTarget;
  if (file == kInvalidFile) return false;

  uint64_t size = 0;
  if (!platform_file_size(file, &size)) return false;
  reader->file_size = size;
  reader->position = file_tell(reader);
  reader->ended = 0;
  reader->data_end = 0;
  reader->started = 0;
  reader->allocation = static_cast<uint8_t*>(std::malloc(kRingSize + kPageSize));
  if (reader->allocation == nullptr) return false;
  uintptr_t address = reinterpret_cast<uintptr_t>(reader->allocation);
  reader->buffer = reader->allocation + ((kPageSize - address % kPageSize) % kPageSize);
  return true;
}

void reader_release(FileReader* reader) {
  std::free(reader->allocation);
  reader->allocation = nullptr;
  reader->buffer = nullptr;
}

uint64_t file_tell(const FileReader* reader) {
  uint64_t position = 0;
  if (!platform_tell(reader->file, &position)) return 0;
  return position;
}

bool reader_fill(FileReader* reader, uint32_t n) {
  uint32_t buffered = reader_buffered(reader);
  if (buffered >= n) return true;
  uint32_t want = reader->fill_target - buffered;
  if (want == 0) return true;

  if (reader->before_fill != nullptr) reader->before_fill(reader->before_fill_context);
  if (reader->started == 0) {
    // Nothing is buffered or held yet: both indices may move. An input without a position
    // (a pipe) starts at index 0.
    reader->started = 1;
    reader->read_index = reader->write_index = static_cast<uint32_t>(file_tell(reader) % kPageSize);
  }
  bool was_ended = reader->ended != 0;
  uint32_t got = 0;
  // ended is raised by read_piece on a read error or here on a short read; data_end is
  // recorded once, by the fill in which the input ended.
  if (reader->write_index < reader->read_index) {
    got = read_piece(reader, reader->write_index, want);
  } else {
    uint32_t room = reader->ring_size - reader->write_index;
    uint32_t first = want < room ? want : room;
    got = read_piece(reader, reader->write_index, first);
    if (want > first) {
      // After a short first piece the input has ended; the second piece is not read.
      if (got < first) reader->ended = 1;
      got += read_piece(reader, 0, want - first);
    }
  }
  if (got < want) reader->ended = 1;
  if (!was_ended && reader->ended != 0) {
    reader->data_end = reader->position + buffered + got;
  }
  // The write index moves by the amount asked for, whatever the file delivered: the
  // buffered amount is then exactly fill_target, and end-of-input tracking tells the
  // file's bytes from the leftovers behind them.
  reader->write_index = (reader->write_index + want) & reader->index_mask;
  return true;
}

uint32_t reader_read_general(FileReader* reader, uint32_t n, void* destination) {
  if (n >= reader->fill_target) return n;
  reader_fill(reader, n);
  if (destination != nullptr && n != 0) {
    uint8_t* out = static_cast<uint8_t*>(destination);
    uint32_t data = file_bytes_in(reader, n);
    copy_out(reader, reader->read_index, data, out);
    if (data < n) std::memset(out + data, 0, n - data);
  }
  consume(reader, n);
  return n;
}

uint32_t reader_take_in_place(FileReader* reader, uint32_t n, PlatformPiece pieces[2]) {
  if (n >= reader->fill_target || n == 0) return 0;
  reader_fill(reader, n);
  uint32_t at = reader->read_index;
  uint32_t room = reader->ring_size - at;
  uint32_t first = n < room ? n : room;
  // Bytes past the end of the input are zeroed where they lie, as reader_read gives them.
  uint32_t data = file_bytes_in(reader, n);
  if (data < first) std::memset(reader->buffer + at + data, 0, first - data);
  if (n > first) {
    uint32_t data_second = data > first ? data - first : 0;
    std::memset(reader->buffer + data_second, 0, n - first - data_second);
  }
  pieces[0] = PlatformPiece{reader->buffer + at, first};
  pieces[1] = PlatformPiece{reader->buffer, n - first};
  consume(reader, n);
  return n > first ? 2 : 1;
}

bool reader_fill_keeps(const FileReader* reader, const void* bytes) {
  uintptr_t address = reinterpret_cast<uintptr_t>(bytes);
  uintptr_t ring = reinterpret_cast<uintptr_t>(reader->buffer);
  if (reader->buffer == nullptr || address < ring || address - ring >= reader->ring_size) return false;
  // A fill tops the buffered bytes up to fill_target: it overwrites every consumed byte
  // but the `reserve` consumed last, which lie just behind the read index.
  uint32_t behind = (reader->read_index - static_cast<uint32_t>(address - ring)) & reader->index_mask;
  return behind != 0 && behind <= reader->reserve;
}

bool reader_available_general(FileReader* reader, uint32_t n) {
  if (n >= reader->fill_target || n == 0) return true;
  reader_fill(reader, n);
  if (reader->ended == 0) return true;
  return reader->data_end >= reader->position && reader->data_end - reader->position >= n;
}
