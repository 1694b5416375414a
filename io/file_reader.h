// Forward-only reader over the input: a window of the input's next bytes, contiguous in
// memory, that the demux looks at in place and consumes as it goes.
//
// The window is a buffer topped up in large sequential reads. reader_fill asks for the next
// n bytes to lie contiguously in it; when they are not there yet the window moves: the
// bytes not yet consumed move to the buffer's front and more are read behind them. Every
// pointer into the window taken before a fill that moved it is then stale, so a consumer
// that holds such pointers (the demux's pieces of a frame in progress) uses or copies them
// first; reader_fill_moves tells beforehand whether a fill will move the window.
//
// On a pipe a fill returns as soon as the bytes asked for have arrived, and an interrupt
// request ends a wait for more. The end of the input, a read error and an interrupt are
// kept apart: a fill that delivers fewer bytes than asked says which it was.
#ifndef TARVEL_IO_FILE_READER_H_
#define TARVEL_IO_FILE_READER_H_

#include <cstdint>

#include "platform/platform.h"

// How the input stopped delivering bytes; kReaderOpen while it still does.
enum ReaderEnd {
  kReaderOpen = 0,
  kReaderEndOfInput = 1,   // the file (or the pipe's writer) has no more bytes
  kReaderReadError = 2,    // a read failed; platform_last_error() holds the reason
  kReaderInterrupted = 3,  // an interrupt request ended a wait for more bytes
};

struct FileReader {
  PlatformFile file;   // not owned
  uint64_t position;   // input offset of the next byte to consume
  uint64_t file_size;  // the input's size at init; 0 when it has none (a pipe)
  uint8_t* buffer;     // the window's buffer (owned), capacity bytes
  uint32_t capacity;
  uint32_t start;   // buffer index of the next byte to consume
  uint32_t end;     // buffer index just past the last byte read
  ReaderEnd ended;  // set once the input stops delivering
  uint32_t waits;   // reads may wait (a pipe, FIFO or terminal): each takes what has come
};

// Default window buffer; a fill that asks for more makes it larger (up to kReaderMaxFill).
constexpr uint32_t kReaderBufferSize = 1u << 20;
// The most bytes one fill may ask for.
constexpr uint32_t kReaderMaxFill = 128u << 20;

// Zeroed record with an invalid file, as before reader_init.
FileReader reader_create();

// Sets the reader up on an open input whose next byte is at input offset `offset` (where
// the header walk left it). Returns false, the reader then unusable, when the file is
// invalid or the buffer cannot be allocated.
bool reader_init(PlatformFile file, uint64_t offset, FileReader* reader);

// Releases the buffer; safe on a record never inited. The record can be dropped afterwards.
void reader_release(FileReader* reader);

// Bytes in the window from the next byte to consume on.
inline uint32_t reader_buffered(const FileReader* reader) { return reader->end - reader->start; }

// The next byte to consume; reader_buffered() bytes are valid from here.
inline const uint8_t* reader_peek(const FileReader* reader) { return reader->buffer + reader->start; }

// True when reader_fill(n) would move the window (the n bytes are not all in it yet).
inline bool reader_fill_moves(const FileReader* reader, uint32_t n) { return reader_buffered(reader) < n; }

// Makes the next n bytes (n <= kReaderMaxFill) lie contiguously in the window, reading
// as needed. Returns the bytes now buffered: n or more, or fewer when the input stopped
// first (reader->ended says why). Moves the window when fewer than n were buffered, which
// makes every pointer into it stale; a request above kReaderMaxFill, or a buffer that
// cannot grow to hold n, gets what fits and is reported like a read error (ENOMEM).
uint32_t reader_fill(FileReader* reader, uint32_t n);

// Consumes n bytes of the window (n <= reader_buffered()).
inline void reader_consume(FileReader* reader, uint32_t n) {
  reader->start += n;
  reader->position += n;
}

#endif  // TARVEL_IO_FILE_READER_H_
