// Forward-only buffered reader over the input file: a 1 MiB ring topped up in sequential
// reads of up to 896 KiB, and a 64-bit count of the bytes consumed.
//
// The reader's first fill starts at the file's current offset (the ASF header walk leaves
// it at the end of the Header Object); `position` counts from the offset recorded at init.
// The reader also tracks where the file's data ends, so that callers can stop at the end
// of the input (reader_available) instead of consuming stale ring bytes.
#ifndef TARVEL_IO_FILE_READER_H_
#define TARVEL_IO_FILE_READER_H_

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

struct FileReader {
  uint64_t position;     // offset at init + every byte consumed since
  uint64_t file_size;    // size of the file, taken at init
  PlatformFile file;     // kInvalidFile until init
  uint32_t size_log2;    // 20
  uint32_t ring_size;    // 1048576
  uint32_t index_mask;   // ring_size - 1
  uint32_t reserve;      // 131072: the part of the ring a fill leaves free
  uint32_t fill_target;  // 917504: a fill tops the buffered amount up to this
  uint32_t write_index;  // where the next file bytes are stored
  uint32_t read_index;   // next byte to be consumed
  uint8_t* buffer;       // the ring, ring_size bytes, starting on a page boundary
  uint8_t* allocation;   // what was allocated for the ring (owned)
  uint32_t started;      // 1 once the first fill chose where in the ring the file starts
  // End of input: once a file read has delivered fewer bytes than asked (end of file or a
  // read error), `ended` is 1 and `data_end` is the `position` value just past the last
  // byte the file delivered. Until then every buffered byte is file data.
  uint32_t ended;
  uint64_t data_end;
  // Called before a fill stores file bytes in the ring, which overwrites every consumed
  // byte but the last `reserve` ones: a consumer still holding pointers to older consumed
  // bytes (see reader_take_in_place) moves or uses them first. Null: nothing to do.
  void (*before_fill)(void* context);
  void* before_fill_context;
};

// Zeroed record with an invalid file, as before reader_init.
FileReader reader_create();

// Sets up the reader on an open file: constants, file size, position (the file's current
// offset) and the ring. Returns false (and the reader must not be used) when the file is
// invalid, its size cannot be taken, or the ring cannot be allocated.
bool reader_init(PlatformFile file, FileReader* reader);

// Releases the ring; the record can be dropped afterwards. Safe on a record never inited.
void reader_release(FileReader* reader);

// The file's current offset (the platform's 64-bit position query).
uint64_t file_tell(const FileReader* reader);

// Ensures the ring holds at least n bytes where the file has them. Returns true.
bool reader_fill(FileReader* reader, uint32_t n);

// Consumes n bytes, copying them to destination when it is not null. A request of
// fill_target bytes or more is refused: nothing happens. Returns n in every case.
// Bytes consumed past the end of the input read as zeros.
inline uint32_t reader_read(FileReader* reader, uint32_t n, void* destination);
inline uint32_t reader_skip(FileReader* reader, uint32_t n);

// Consumes n bytes as reader_skip does and gives where they lie in the ring, without
// copying them: one piece, or two when they wrap around the ring's end. Returns the
// number of pieces (0 for n == 0 or a refused request). The bytes stay in place until
// a fill overwrites them (reader_fill_keeps tells which survive the next one).
uint32_t reader_take_in_place(FileReader* reader, uint32_t n, PlatformPiece pieces[2]);

// True when `bytes` points at a consumed byte of the ring that the next fill leaves in
// place, and so do all bytes consumed after it; false for any other address.
bool reader_fill_keeps(const FileReader* reader, const void* bytes);

// True when the next n bytes can be consumed without passing the end of the input
// (fills the ring as needed to find out). Requests of fill_target bytes or more are
// answered for what they would consume, which is nothing: true.
inline bool reader_available(FileReader* reader, uint32_t n);

// The calls above are answered inline while the request lies in the buffered file bytes
// (the demux makes millions of small ones); these do the rest.
uint32_t reader_read_general(FileReader* reader, uint32_t n, void* destination);
bool reader_available_general(FileReader* reader, uint32_t n);

inline uint32_t reader_buffered(const FileReader* reader) {
  return (reader->write_index - reader->read_index) & reader->index_mask;
}

inline uint32_t reader_read(FileReader* reader, uint32_t n, void* destination) {
  uint32_t at = reader->read_index;
  if (n > reader_buffered(reader) || n >= reader->fill_target || n > reader->ring_size - at ||
      (reader->ended != 0 && destination != nullptr)) {
    return reader_read_general(reader, n, destination);
  }
  if (destination != nullptr && n != 0) std::memcpy(destination, reader->buffer + at, n);
  reader->read_index = (at + n) & reader->index_mask;
  reader->position += n;
  return n;
}

inline uint32_t reader_skip(FileReader* reader, uint32_t n) { return reader_read(reader, n, nullptr); }

inline bool reader_available(FileReader* reader, uint32_t n) {
  if (reader->ended == 0 && n <= reader_buffered(reader)) return true;
  return reader_available_general(reader, n);
}

#endif  // TARVEL_IO_FILE_READER_H_
