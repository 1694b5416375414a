// The Windows platform layer: the input's share mode 0 refuses its replacement through
// any path, the system's codes and texts, UTF-8 paths reaching the system as Unicode,
// 64-bit sizes and positions.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "tests/support/test_files.h"

namespace {

std::filesystem::path fs_path(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

TEST(PlatformWindows, OpenInputRefusesItsReplacementThroughAnyPath) {
  std::string dir = make_scratch_dir();
  std::string input = dir + "/Long Input Name.wmv";
  save_file(input, "precious");
  std::string leaf = fs_path(dir).filename().string();
  std::string backslashed = input;
  for (char& c : backslashed) c = c == '/' ? '\\' : c;
  std::string short_name = windows_short_path(input);
  ASSERT_NE(short_name, "");
  EXPECT_EQ(short_name.find("Long Input Name"), std::string::npos) << short_name;

  PlatformFile in = platform_open_read(input.c_str());
  ASSERT_NE(in, kInvalidFile);
  // An existing input still counts as existing, so that the overwrite prompt comes first.
  EXPECT_EQ(platform_create(input.c_str(), kCreateNew, in), kInvalidFile);
  EXPECT_EQ(platform_last_error(), kErrorFileExists);
  // No identity check is passed in: the system itself refuses.
  for (const std::string& path : {input, dir + "/LONG INPUT NAME.WMV",
                                  dir + "/../" + leaf + "/Long Input Name.wmv", backslashed, short_name}) {
    EXPECT_EQ(platform_create(path.c_str(), kCreateAlways, kInvalidFile), kInvalidFile) << path;
    EXPECT_EQ(platform_last_error(), kErrorSharingViolation) << path;
  }
  EXPECT_EQ(load_file(input), "");  // share mode 0: not even readable meanwhile
  platform_close(in);
  EXPECT_EQ(load_file(input), "precious");
  PlatformFile out = platform_create(short_name.c_str(), kCreateAlways, kInvalidFile);
  EXPECT_NE(out, kInvalidFile);
  platform_close(out);
  EXPECT_EQ(load_file(input), "");
}

TEST(PlatformWindows, FailuresCarryTheSystemsCodeAndText) {
  std::string dir = make_scratch_dir();
  const struct {
    std::string path;
    int code;
  } cases[] = {{dir + "/missing.wmv", 2}, {dir + "/no/such/dir/in.wmv", 3}, {dir, 5}};
  for (const auto& c : cases) {
    EXPECT_EQ(platform_open_read(c.path.c_str()), kInvalidFile) << c.path;
    EXPECT_EQ(platform_last_error(), c.code) << c.path;
  }
  std::string text = system_text(kErrorSharingViolation);
  ASSERT_GT(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");  // as the system writes it
  EXPECT_NE(text, system_text(kErrorFileExists));
}

TEST(PlatformWindows, Utf8PathsReachTheSystemAsUnicode) {
  std::string path = make_scratch_dir() + "/動画ファイル.vc1";
  PlatformFile f = platform_create(path.c_str(), kCreateNew, kInvalidFile);
  ASSERT_NE(f, kInvalidFile);
  uint32_t written = 0;
  EXPECT_TRUE(platform_write(f, "abc", 3, &written));
  platform_close(f);
  EXPECT_EQ(std::filesystem::file_size(fs_path(path)), 3u);
  f = platform_open_read(path.c_str());
  EXPECT_NE(f, kInvalidFile);
  platform_close(f);
}

TEST(PlatformWindows, SizesAndPositionsPastFourGibibytes) {
  const uint64_t kSize = (5ull << 30) + 3;
  std::string path = make_scratch_dir() + "/sparse.bin";
  save_file(path, "");
  std::filesystem::resize_file(path, kSize);  // sparse where the file system allows
  PlatformFile f = platform_open_read(path.c_str());
  ASSERT_NE(f, kInvalidFile);
  uint64_t size = 0, at = 0;
  EXPECT_TRUE(platform_file_size(f, &size));
  EXPECT_EQ(size, kSize);
  EXPECT_TRUE(platform_seek(f, kSize - 2));
  EXPECT_TRUE(platform_tell(f, &at));
  EXPECT_EQ(at, kSize - 2);
  char bytes[4];
  uint32_t got = 0;
  EXPECT_TRUE(platform_read(f, bytes, 4, &got));
  EXPECT_EQ(got, 2u);
  platform_close(f);
  std::filesystem::remove(path);
}

}  // namespace
