// The reader's window: the input's bytes in order through windows of any size, the end of
// the input, a pipe that delivers a little at a time or stalls, and 64-bit positions.
#include "io/file_reader.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/asf_builder.h"

namespace {

uint8_t pattern_byte(uint64_t offset) { return static_cast<uint8_t>((offset * 7 + offset / 251) & 0xFF); }

Bytes pattern(uint64_t size) {
  Bytes out(size);
  for (uint64_t i = 0; i < size; i++) out[i] = pattern_byte(i);
  return out;
}

struct OpenReader {
  std::string path;
  PlatformFile file = kInvalidFile;
  FileReader reader = reader_create();
  bool init_ok = false;
  explicit OpenReader(const Bytes& bytes, uint64_t start = 0) : path(write_temp_file(bytes)) {
    file = platform_open_read(path.c_str());
    if (start != 0) platform_seek(file, start);
    init_ok = reader_init(file, start, &reader);
  }
  ~OpenReader() {
    reader_release(&reader);
    if (file != kInvalidFile) platform_close(file);
    remove_temp_file(path);
  }
};

// Asks for windows of the given sizes in turn, consuming `consume` of each (0: all it got),
// and checks every byte and the position against the input from `start` on.
void walk(FileReader* reader, uint64_t start, uint64_t size, const std::vector<uint32_t>& windows,
          uint32_t consume) {
  Bytes expected(size - start);
  for (uint64_t i = start; i < size; i++) expected[i - start] = pattern_byte(i);
  uint64_t at = start;
  for (size_t i = 0; at < size; i++) {
    uint32_t n = windows[i % windows.size()];
    uint32_t got = reader_fill(reader, n);
    ASSERT_EQ(reader->position, at);
    ASSERT_EQ(got, n <= size - at ? std::max<uint64_t>(got, n) : size - at)
        << "window of " << n << " at " << at;
    const uint8_t* bytes = reader_peek(reader);
    ASSERT_EQ(std::memcmp(bytes, expected.data() + (at - start), got), 0) << "window at " << at;
    uint32_t take = consume == 0 || consume > got ? got : consume;
    reader_consume(reader, take);
    at += take;
  }
  EXPECT_EQ(reader_fill(reader, 1), 0u);
  EXPECT_EQ(reader->ended, kReaderEndOfInput);
}

TEST(FileReader, WindowsOfAnySizeDeliverTheInputInOrder) {
  struct Case {
    uint64_t size;
    uint64_t start;  // where the header walk left the file
    std::vector<uint32_t> windows;
    uint32_t consume;
  } cases[] = {
      {100000, 0, {1, 2, 7, 300}, 0},
      {3 * kReaderBufferSize + 17, 4093, {3200, 6400}, 3200},              // packets across many moves
      {5 * kReaderBufferSize, 610, {kReaderBufferSize + 5000, 9}, 0},      // a window above the default
      {2 * kReaderBufferSize, 0, {2 * kReaderBufferSize + 100}, 1000000},  // asks past the end
      {3 * kReaderBufferSize, 4093, {kReaderBufferSize}, 100000},  // the whole buffer, behind kept bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    OpenReader r(pattern(c.size), c.start);
    ASSERT_TRUE(r.init_ok);
    EXPECT_EQ(r.reader.file_size, c.size);
    walk(&r.reader, c.start, c.size, c.windows, c.consume);
  }
}

TEST(FileReader, AWindowThatHoldsTheBytesDoesNotMove) {
  OpenReader r(pattern(50000));
  ASSERT_TRUE(r.init_ok);
  ASSERT_GE(reader_fill(&r.reader, 100), 100u);
  const uint8_t* first = reader_peek(&r.reader);
  reader_consume(&r.reader, 60);
  EXPECT_FALSE(reader_fill_moves(&r.reader, 40));
  reader_fill(&r.reader, 40);
  EXPECT_EQ(reader_peek(&r.reader), first + 60);  // pointers into the window stay good
  EXPECT_EQ(*reader_peek(&r.reader), pattern_byte(60));
}

TEST(FileReader, InitOnInvalidFileFails) {
  FileReader reader = reader_create();
  EXPECT_FALSE(reader_init(kInvalidFile, 0, &reader));
  reader_release(&reader);
}

#ifndef _WIN32
// A pipe whose writer sends `first` bytes, waits, then sends the rest (or keeps the pipe
// open and silent when `rest` is false).
struct SlowPipe {
  int fds[2] = {-1, -1};
  std::thread writer;
  SlowPipe(const Bytes& bytes, size_t first, bool rest) {
    if (pipe(fds) != 0) return;
    writer = std::thread([this, bytes, first, rest] {
      EXPECT_EQ(write(fds[1], bytes.data(), first), static_cast<ssize_t>(first));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      if (rest) {
        EXPECT_EQ(write(fds[1], bytes.data() + first, bytes.size() - first),
                  static_cast<ssize_t>(bytes.size() - first));
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
      }
      close(fds[1]);
    });
  }
  ~SlowPipe() {
    if (writer.joinable()) writer.join();
    close(fds[0]);
  }
};

TEST(FileReader, PipeFillReturnsOnceTheBytesAskedForHaveArrived) {
  Bytes bytes = pattern(30000);
  SlowPipe slow(bytes, 10000, true);
  FileReader reader = reader_create();
  ASSERT_TRUE(reader_init(slow.fds[0], 0, &reader));
  auto before = std::chrono::steady_clock::now();
  uint32_t got = reader_fill(&reader, 8000);  // the writer then pauses: no waiting for more
  auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_GE(got, 8000u);
  EXPECT_LT(waited, std::chrono::milliseconds(250));
  walk(&reader, 0, bytes.size(), {5000, 12000}, 0);
  reader_release(&reader);
}

TEST(FileReader, InterruptEndsAWaitOnAStalledPipe) {
  platform_catch_interrupts();
  Bytes bytes = pattern(5000);
  SlowPipe slow(bytes, bytes.size(), false);  // everything sent, the pipe left open
  FileReader reader = reader_create();
  ASSERT_TRUE(reader_init(slow.fds[0], 0, &reader));
  EXPECT_EQ(reader_fill(&reader, 5000), 5000u);
  std::thread interrupter([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(getpid(), SIGINT);
  });
  EXPECT_EQ(reader_fill(&reader, 5001), 5000u);
  EXPECT_EQ(reader.ended, kReaderInterrupted);
  interrupter.join();
  platform_clear_interrupt();
  reader_release(&reader);
}

TEST(FileReader, PositionsBeyondFourGibibytesCarryIntoTheHighHalf) {
  const uint64_t size = (5ull << 30) + 3;
  const uint64_t start = (4ull << 30) - 100;
  std::string path = write_temp_file({});
  int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    remove_temp_file(path);
    GTEST_SKIP() << "the file system refuses a sparse 5 GiB file";
  }
  Bytes around(300);
  for (size_t i = 0; i < around.size(); i++) around[i] = pattern_byte(start + i);
  ASSERT_EQ(pwrite(fd, around.data(), around.size(), static_cast<off_t>(start)), 300);
  close(fd);

  PlatformFile file = platform_open_read(path.c_str());
  ASSERT_NE(file, kInvalidFile);
  ASSERT_TRUE(platform_seek(file, start));
  FileReader reader = reader_create();
  ASSERT_TRUE(reader_init(file, start, &reader));
  EXPECT_EQ(reader.file_size, size);
  ASSERT_GE(reader_fill(&reader, 300), 300u);
  for (uint32_t k = 0; k < 300; k++) ASSERT_EQ(reader_peek(&reader)[k], pattern_byte(start + k));
  reader_consume(&reader, 300);
  EXPECT_EQ(reader.position, start + 300);
  EXPECT_EQ(reader.position >> 32, 1u);
  reader_release(&reader);
  platform_close(file);
  remove_temp_file(path);
}
#endif

}  // namespace
