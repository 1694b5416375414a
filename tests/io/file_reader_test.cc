// The buffered reader's ring arithmetic, fill bound, 64-bit position and end of input.
#include "io/file_reader.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "tests/support/asf_builder.h"

namespace {

constexpr uint32_t kFillTarget = 917504;

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
  explicit OpenReader(const Bytes& bytes, uint64_t start = 0) : path(write_temp_file(bytes)) {
    file = platform_open_read(path.c_str());
    if (start != 0) platform_seek(file, start);
    init_ok = reader_init(file, &reader);
  }
  ~OpenReader() {
    reader_release(&reader);
    if (file != kInvalidFile) platform_close(file);
    remove_temp_file(path);
  }
  bool init_ok = false;
};

void expect_pattern(const Bytes& got, uint64_t from) {
  for (size_t i = 0; i < got.size(); i++) {
    ASSERT_EQ(got[i], pattern_byte(from + i)) << "at offset " << from + i;
  }
}

TEST(FileReader, InitSetsConstantsSizeAndStartingPosition) {
  OpenReader r(pattern(5000), 1234);
  ASSERT_TRUE(r.init_ok);
  EXPECT_EQ(r.reader.ring_size, 1048576u);
  EXPECT_EQ(r.reader.index_mask, 1048575u);
  EXPECT_EQ(r.reader.fill_target, kFillTarget);
  EXPECT_EQ(r.reader.reserve, 131072u);
  EXPECT_EQ(r.reader.size_log2, 20u);
  EXPECT_EQ(r.reader.file_size, 5000u);
  EXPECT_EQ(r.reader.position, 1234u);  // counts from the file's offset at init
  Bytes got(10);
  reader_read(&r.reader, 10, got.data());
  expect_pattern(got, 1234);
  EXPECT_EQ(r.reader.position, 1244u);
}

TEST(FileReader, InitOnInvalidFileFails) {
  FileReader reader = reader_create();
  EXPECT_FALSE(reader_init(kInvalidFile, &reader));
  EXPECT_EQ(reader.buffer, nullptr);
  EXPECT_EQ(reader.fill_target, kFillTarget);
  reader_release(&reader);
}

TEST(FileReader, FillWrapsAroundTheRingAndReadDeliversFileOrder) {
  OpenReader r(pattern(3 * kFillTarget));
  ASSERT_TRUE(r.init_ok);
  Bytes got(kFillTarget - 1);
  reader_read(&r.reader, kFillTarget - 1, got.data());  // first fill: index 0 .. 917503
  expect_pattern(got, 0);
  EXPECT_EQ(file_tell(&r.reader), kFillTarget);
  EXPECT_EQ(r.reader.read_index, kFillTarget - 1);

  // One byte is left; this fill tops up to fill_target in two pieces: up to the ring's
  // end, then from index 0.
  got.assign(10, 0);
  reader_read(&r.reader, 10, got.data());
  expect_pattern(got, kFillTarget - 1);
  EXPECT_EQ(file_tell(&r.reader), 2u * kFillTarget - 1);
  EXPECT_EQ(r.reader.write_index, (2 * kFillTarget - 1) & 0xFFFFF);
  EXPECT_EQ(r.reader.read_index, kFillTarget + 9);

  // Now the write index is behind the read index: the fill is one piece of 10 bytes, and
  // the read spans the ring's end.
  got.assign(kFillTarget - 4, 0);
  reader_read(&r.reader, kFillTarget - 4, got.data());
  expect_pattern(got, kFillTarget + 9);
  EXPECT_EQ(file_tell(&r.reader), 2u * kFillTarget + 9);
  EXPECT_EQ(r.reader.position, 2u * kFillTarget + 5);
  EXPECT_EQ(r.reader.read_index, (2 * kFillTarget + 5) & 0xFFFFF);
}

TEST(FileReader, ReadOfTheBufferedAmountDoesNotFill) {
  OpenReader r(pattern(3 * kFillTarget));
  ASSERT_TRUE(r.init_ok);
  reader_skip(&r.reader, 1);
  EXPECT_EQ(file_tell(&r.reader), kFillTarget);
  Bytes got(kFillTarget - 1);
  reader_read(&r.reader, kFillTarget - 1, got.data());
  EXPECT_EQ(file_tell(&r.reader), kFillTarget);  // no file read
  expect_pattern(got, 1);
  EXPECT_EQ(r.reader.read_index, r.reader.write_index);
}

TEST(FileReader, RequestOfFillTargetOrMoreChangesNothing) {
  OpenReader r(pattern(2 * kFillTarget));
  ASSERT_TRUE(r.init_ok);
  Bytes got(kFillTarget + 1, 0xEE);
  EXPECT_EQ(reader_read(&r.reader, kFillTarget, got.data()), kFillTarget);
  EXPECT_EQ(reader_skip(&r.reader, 0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(r.reader.position, 0u);
  EXPECT_EQ(r.reader.read_index, 0u);
  EXPECT_EQ(file_tell(&r.reader), 0u);
  EXPECT_EQ(got[0], 0xEE);
  EXPECT_TRUE(reader_available(&r.reader, kFillTarget));
  EXPECT_EQ(file_tell(&r.reader), 0u);
  // One byte less is served.
  reader_read(&r.reader, kFillTarget - 1, got.data());
  EXPECT_EQ(r.reader.position, kFillTarget - 1);
  got.resize(kFillTarget - 1);
  expect_pattern(got, 0);
}

TEST(FileReader, EndOfInputIsTrackedAndBytesPastItAreZero) {
  OpenReader r(pattern(1000), 100);
  ASSERT_TRUE(r.init_ok);
  EXPECT_TRUE(reader_available(&r.reader, 900));
  EXPECT_FALSE(reader_available(&r.reader, 901));
  EXPECT_EQ(r.reader.ended, 1u);
  EXPECT_EQ(r.reader.data_end, 1000u);
  reader_skip(&r.reader, 500);
  EXPECT_TRUE(reader_available(&r.reader, 400));
  EXPECT_FALSE(reader_available(&r.reader, 401));
  Bytes got(410, 0xEE);
  reader_read(&r.reader, 410, got.data());  // past the end: not refused
  expect_pattern(Bytes(got.begin(), got.begin() + 400), 600);
  for (size_t i = 400; i < got.size(); i++) EXPECT_EQ(got[i], 0) << i;
  EXPECT_EQ(r.reader.position, 1010u);
  EXPECT_FALSE(reader_available(&r.reader, 1));
  EXPECT_TRUE(reader_available(&r.reader, 0));
  // Later fills after the end leave data_end alone.
  reader_skip(&r.reader, kFillTarget - 1);
  reader_skip(&r.reader, kFillTarget - 1);
  EXPECT_EQ(r.reader.data_end, 1000u);
}

TEST(FileReader, InputEndingOnAFillBoundaryIsFoundByTheNextFill) {
  OpenReader r(pattern(kFillTarget));
  ASSERT_TRUE(r.init_ok);
  reader_skip(&r.reader, 1);
  EXPECT_EQ(r.reader.ended, 0u);  // the first fill got all it asked for
  EXPECT_TRUE(reader_available(&r.reader, kFillTarget - 1));
  reader_skip(&r.reader, kFillTarget - 1);
  EXPECT_FALSE(reader_available(&r.reader, 1));
  EXPECT_EQ(r.reader.data_end, kFillTarget);
}

TEST(FileReader, ShortFillBehindBufferedBytesRecordsTheTrueEnd) {
  OpenReader r(pattern(kFillTarget + 300));
  ASSERT_TRUE(r.init_ok);
  reader_skip(&r.reader, 500);                                   // 917004 bytes stay buffered
  EXPECT_FALSE(reader_available(&r.reader, kFillTarget - 199));  // the top-up of 500 gets 300
  EXPECT_EQ(r.reader.data_end, kFillTarget + 300u);
  EXPECT_TRUE(reader_available(&r.reader, kFillTarget - 200));  // exactly up to the end
}

#ifndef _WIN32  // the sparse file is made with POSIX calls
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
  ASSERT_TRUE(reader_init(file, &reader));
  EXPECT_EQ(reader.file_size, size);
  EXPECT_EQ(reader.position, start);
  Bytes got(300);
  reader_read(&reader, 300, got.data());
  expect_pattern(got, start);
  EXPECT_EQ(reader.position, start + 300);
  EXPECT_EQ(reader.position >> 32, 1u);
  EXPECT_EQ(file_tell(&reader), start + kFillTarget);
  EXPECT_TRUE(reader_available(&reader, 1000));
  reader_release(&reader);
  platform_close(file);
  remove_temp_file(path);
}
#endif

TEST(FileReader, TakeInPlaceGivesTheRingBytesAndZerosPastTheEnd) {
  const uint64_t kSize = 2 * kFillTarget - 1 + 1000;
  OpenReader r(pattern(kSize));
  ASSERT_TRUE(r.init_ok);
  PlatformPiece pieces[2];
  ASSERT_EQ(reader_take_in_place(&r.reader, 10, pieces), 1u);
  EXPECT_EQ(pieces[0].bytes, r.reader.buffer);
  EXPECT_EQ(pieces[0].length, 10u);
  EXPECT_TRUE(reader_fill_keeps(&r.reader, pieces[0].bytes));
  EXPECT_FALSE(reader_fill_keeps(&r.reader, r.reader.buffer + 10));  // not consumed yet
  EXPECT_FALSE(reader_fill_keeps(&r.reader, &pieces));               // not in the ring
  // Two more fills wrap around the ring; the third one reaches the end of the file, with
  // ring bytes of the first fill behind it: taken, they read as zeros, as with reader_read.
  reader_skip(&r.reader, kFillTarget - 11);
  reader_skip(&r.reader, kFillTarget - 1);
  uint64_t at = r.reader.position;
  ASSERT_EQ(reader_take_in_place(&r.reader, 1006, pieces), 1u);
  const uint8_t* bytes = static_cast<const uint8_t*>(pieces[0].bytes);
  expect_pattern(Bytes(bytes, bytes + 1001), at);
  EXPECT_EQ(Bytes(bytes + 1001, bytes + 1006), Bytes(5, 0));
  Bytes after(5, 0xEE);
  reader_read(&r.reader, 5, after.data());
  EXPECT_EQ(after, Bytes(5, 0));
  EXPECT_EQ(reader_take_in_place(&r.reader, 0, pieces), 0u);
}

}  // namespace
