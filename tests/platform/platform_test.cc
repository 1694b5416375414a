// The platform layer's file contract: open dispositions, the null device, identity
// protection of the input, error texts.
#include "platform/platform.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/support/run_binary.h"

namespace {

// What a POSIX system alone has: errno texts, links, /dev/full (platform_win_test.cc holds
// the Windows counterparts).
#ifndef _WIN32
TEST(PlatformFiles, DirectoryIsRefusedForReading) {
  std::string dir = make_scratch_dir();
  EXPECT_EQ(platform_open_read(dir.c_str()), kInvalidFile);
  EXPECT_EQ(platform_last_error(), EISDIR);
  EXPECT_EQ(platform_open_read((dir + "/missing").c_str()), kInvalidFile);
  EXPECT_EQ(platform_last_error(), ENOENT);
}

#endif

TEST(PlatformFiles, CreateNewFailsOnAnExistingFileAndCreateAlwaysTruncates) {
  std::string path = make_scratch_dir() + "/out.bin";
  PlatformFile f = platform_create(path.c_str(), kCreateNew, kInvalidFile);
  ASSERT_NE(f, kInvalidFile);
  uint32_t written = 0;
  EXPECT_TRUE(platform_write(f, "abcdef", 6, &written));
  EXPECT_EQ(written, 6u);
  platform_close(f);

  EXPECT_EQ(platform_create(path.c_str(), kCreateNew, kInvalidFile), kInvalidFile);
  EXPECT_EQ(platform_last_error(), kErrorFileExists);

  f = platform_create(path.c_str(), kCreateAlways, kInvalidFile);
  ASSERT_NE(f, kInvalidFile);
  platform_close(f);
  EXPECT_EQ(load_file(path), "");
}

TEST(PlatformFiles, ReadSeekTellAndSizeAgree) {
  std::string path = make_scratch_dir() + "/in.bin";
  save_file(path, "0123456789");
  PlatformFile f = platform_open_read(path.c_str());
  ASSERT_NE(f, kInvalidFile);
  uint64_t size = 0, at = 99;
  EXPECT_TRUE(platform_file_size(f, &size));
  EXPECT_EQ(size, 10u);
  EXPECT_TRUE(platform_seek(f, 7));
  EXPECT_TRUE(platform_tell(f, &at));
  EXPECT_EQ(at, 7u);
  char buf[8] = {};
  uint32_t got = 0;
  EXPECT_TRUE(platform_read(f, buf, 8, &got));
  EXPECT_EQ(got, 3u);  // short only at the end of the file
  EXPECT_EQ(std::string(buf, got), "789");
  platform_close(f);
}

TEST(PlatformFiles, NullNamesInAnyCaseOpenTheNullDevice) {
  std::string dir = make_scratch_dir();
  char saved_cwd[4096];
  ASSERT_NE(getcwd(saved_cwd, sizeof saved_cwd), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);  // nothing named "nul" may appear in this directory
  for (const char* name : {"nul", "NUL", "Nul:", "nul:"}) {
    EXPECT_TRUE(platform_is_null_name(name)) << name;
    std::string cwd_name = dir + "/" + name;
    PlatformFile f = platform_create(name, kCreateNew, kInvalidFile);
    ASSERT_NE(f, kInvalidFile) << name;
    uint32_t written = 0;
    EXPECT_TRUE(platform_write(f, "xyz", 3, &written));
    EXPECT_EQ(written, 3u);
    platform_close(f);
    EXPECT_FALSE(file_exists(cwd_name));
  }
  ASSERT_EQ(chdir(saved_cwd), 0);
  for (const char* name : {"nul.vc1", "nu", "nul::", "/dev/nul"})
    EXPECT_FALSE(platform_is_null_name(name)) << name;
}

#ifndef _WIN32
TEST(PlatformFiles, ReplacingTheProtectedFileFailsWhateverPathNamesIt) {
  std::string dir = make_scratch_dir();
  std::string input = dir + "/input.wmv";
  save_file(input, "precious");
  ASSERT_EQ(link(input.c_str(), (dir + "/hard.wmv").c_str()), 0);
  ASSERT_EQ(symlink(input.c_str(), (dir + "/soft.wmv").c_str()), 0);
  PlatformFile in = platform_open_read(input.c_str());
  ASSERT_NE(in, kInvalidFile);

  for (std::string path : {input, dir + "/./input.wmv", dir + "/hard.wmv", dir + "/soft.wmv"}) {
    EXPECT_EQ(platform_create(path.c_str(), kCreateAlways, in), kInvalidFile) << path;
    EXPECT_EQ(platform_last_error(), kErrorSharingViolation) << path;
    EXPECT_EQ(load_file(input), "precious") << path;
  }
  // Another file is replaced as usual.
  save_file(dir + "/other.vc1", "old");
  PlatformFile out = platform_create((dir + "/other.vc1").c_str(), kCreateAlways, in);
  EXPECT_NE(out, kInvalidFile);
  platform_close(out);
  EXPECT_EQ(load_file(dir + "/other.vc1"), "");
  platform_close(in);
}

TEST(PlatformFiles, WriteToAFullDeviceReportsTheShortfall) {
  PlatformFile f = platform_create("/dev/full", kCreateAlways, kInvalidFile);
  if (f == kInvalidFile) GTEST_SKIP() << "no /dev/full here";
  uint32_t written = 123;
  EXPECT_FALSE(platform_write(f, "abc", 3, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(platform_last_error(), ENOSPC);
  platform_close(f);
}

TEST(PlatformErrors, TextIsTheSystemDescriptionWithALineBreak) {
  EXPECT_EQ(system_text(ENOENT), "No such file or directory\n");
  EXPECT_EQ(system_text(EBUSY), "Device or resource busy\n");
}
#endif

}  // namespace
