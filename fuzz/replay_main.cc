// Runs a fuzz target's entry point over files without libFuzzer, so that ctest can replay
// the seed corpus (and any crash reproducer) under any compiler and sanitizer.
// Arguments: files or directories; each file is fed once. Prints "N passed, 0 failed".
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static bool run_file(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    return false;
  }
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  std::fclose(f);
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return true;
}

int main(int argc, char** argv) {
  int files = 0;
  int failed = 0;
  for (int i = 1; i < argc; i++) {
    struct stat st;
    if (stat(argv[i], &st) != 0) {
      std::fprintf(stderr, "missing: %s\n", argv[i]);
      failed++;
      continue;
    }
    if (!S_ISDIR(st.st_mode)) {
      if (run_file(argv[i]))
        files++;
      else
        failed++;
      continue;
    }
    DIR* dir = opendir(argv[i]);
    if (dir == nullptr) {
      failed++;
      continue;
    }
    while (struct dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      if (run_file(std::string(argv[i]) + "/" + entry->d_name))
        files++;
      else
        failed++;
    }
    closedir(dir);
  }
  std::printf("%d passed, %d failed\n", files, failed);
  return failed == 0 && files > 0 ? 0 : 1;
}
