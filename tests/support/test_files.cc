#include "tests/support/test_files.h"

#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

std::string temp_base() {
  const char* base = std::getenv("TMPDIR");
  return base != nullptr && *base != '\0' ? base : "/tmp";
}

std::string g_temp_directory;

// Every scratch directory this process made; removed with all they hold at exit. Never
// destroyed, so that the exit handler finds it whatever the order of static destruction.
std::vector<std::string>* g_scratch_dirs = nullptr;

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void remove_scratch_dirs() {
  for (const std::string& dir : *g_scratch_dirs) nftw(dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

std::string make_scratch_dir() {
  std::string pattern = temp_base() + "/tarvel-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
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
  std::string path = temp_path("asf-XXXXXX");
  int fd = mkstemp(path.data());
  if (fd < 0) return "";
  close(fd);
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
