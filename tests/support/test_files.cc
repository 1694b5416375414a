#include "tests/support/test_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#ifdef _WIN32
#include <windows.h>

#include <random>
#endif

#include "platform/platform.h"

namespace {

#ifdef _WIN32
std::string temp_base() { return std::filesystem::temp_directory_path().generic_string(); }

// A new file or directory under temp_base() named after `prefix`; "" on failure.
std::string make_unique(const std::string& prefix, bool directory) {
  static std::mt19937 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; attempt++) {
    std::string path = temp_base() + "/" + prefix + std::to_string(random());
    std::error_code error;
    if (directory ? std::filesystem::create_directory(path, error) : !std::filesystem::exists(path, error)) {
      if (directory || write_file(path, {})) return path;
    }
  }
  return "";
}

int mkstemp_close(std::string* path) {
  *path = make_unique("tarvel-asf-", false);
  return path->empty() ? -1 : 0;
}
#else
std::string temp_base() {
  const char* base = std::getenv("TMPDIR");
  return base != nullptr && *base != '\0' ? base : "/tmp";
}

// A new empty file in this process's scratch directory, removed at exit with it.
int mkstemp_close(std::string* path) {
  *path = temp_path("asf-XXXXXX");
  int fd = mkstemp(path->data());
  if (fd >= 0) close(fd);
  return fd;
}
#endif

std::string g_temp_directory;

// Every scratch directory this process made; removed with all they hold at exit. Never
// destroyed, so that the exit handler finds it whatever the order of static destruction.
std::vector<std::string>* g_scratch_dirs = nullptr;

// Links inside are removed, never followed.
void remove_scratch_dirs() {
  std::error_code error;
  for (const std::string& dir : *g_scratch_dirs) std::filesystem::remove_all(dir, error);
}

}  // namespace

std::string make_scratch_dir() {
#ifdef _WIN32
  std::string pattern = make_unique("tarvel-test-", true);
  if (pattern.empty()) {
#else
  std::string pattern = temp_base() + "/tarvel-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
#endif
    ADD_FAILURE() << "cannot make a scratch directory";
    return temp_base();
  }
  if (g_scratch_dirs == nullptr) {
    g_scratch_dirs = new std::vector<std::string>;
    std::atexit(remove_scratch_dirs);
  }
  g_scratch_dirs->push_back(pattern);
  return pattern;
}

std::string temp_path(const std::string& name) {
  if (g_temp_directory.empty()) g_temp_directory = make_scratch_dir();
  return g_temp_directory + "/" + name;
}

std::string write_temp_file(const Bytes& bytes) {
  std::string path;
  if (mkstemp_close(&path) < 0) return "";
  return write_file(path, bytes) ? path : "";
}

void remove_temp_file(const std::string& path) {
  if (!path.empty()) unlink(path.c_str());
}

bool write_file(const std::string& path, const Bytes& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

Bytes read_file(const std::string& path) {
  Bytes out;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return out;
  uint8_t chunk[65536];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) out.insert(out.end(), chunk, chunk + got);
  std::fclose(file);
  return out;
}

void save_file(const std::string& path, const std::string& bytes) {
  write_file(path, Bytes(bytes.begin(), bytes.end()));
}

std::string load_file(const std::string& path) {
  Bytes bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string testdata_path(const std::string& name) {
  return std::string(TARVEL_SOURCE_DIR) + "/testdata/" + name;
}

#ifdef _WIN32
std::string windows_short_path(const std::string& path) {
  std::wstring wide = std::filesystem::path(std::u8string(path.begin(), path.end())).wstring();
  wchar_t short_form[MAX_PATH];
  DWORD n = GetShortPathNameW(wide.c_str(), short_form, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return "";
  std::u8string text = std::filesystem::path(short_form).u8string();
  return std::string(text.begin(), text.end());
}
#endif

std::string system_text(int code) {
  char text[1024];
  return platform_error_text(code, text, sizeof text);
}

std::string python() { return file_exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }
