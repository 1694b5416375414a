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
  uint8_t* buffer;       // the ring, ring_size bytes
  // End of input: once a file read has delivered fewer bytes than asked (end of file or a
  // read error), `ended` is 1 and `data_end` is the `position` value just past the last
  // byte the file delivered. Until then every buffered byte is file data.
  uint32_t ended;
  uint64_t data_end;
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
// Bytes consumed past the end of the input have unspecified values.
uint32_t reader_read(FileReader* reader, uint32_t n, void* destination);
uint32_t reader_skip(FileReader* reader, uint32_t n);

// True when the next n bytes can be consumed without passing the end of the input
// (fills the ring as needed to find out). Requests of fill_target bytes or more are
// answered for what they would consume, which is nothing: true.
bool reader_available(FileReader* reader, uint32_t n);

#endif  // TARVEL_IO_FILE_READER_H_
