// Test support: scratch files and directories, and whole-file reads and writes, shared by
// every suite (as bytes for the builders, as strings for the binary runs).
#ifndef TARVEL_TESTS_SUPPORT_TEST_FILES_H_
#define TARVEL_TESTS_SUPPORT_TEST_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A fresh directory under TMPDIR (or /tmp) for one test. Every such directory is removed,
// with everything in it, when the process exits normally.
std::string make_scratch_dir();
// A path in one scratch directory made for this process; `name` makes it unique within.
std::string temp_path(const std::string& name);
// Writes bytes to a new file in that directory and returns its path ("" on failure).
std::string write_temp_file(const Bytes& bytes);
void remove_temp_file(const std::string& path);

bool write_file(const std::string& path, const Bytes& bytes);
Bytes read_file(const std::string& path);  // empty when the file cannot be read
void save_file(const std::string& path, const std::string& bytes);
std::string load_file(const std::string& path);
bool file_exists(const std::string& path);
// The Python interpreter the test scripts run with.
std::string python();

// A file of the test data folder.
std::string testdata_path(const std::string& name);

// The system's text for an error code, as the program shows it (platform_error_text).
std::string system_text(int code);

#ifdef _WIN32
// The 8.3 short form of an existing path ("" when the system has none for it).
std::string windows_short_path(const std::string& path);
#endif

#endif  // TARVEL_TESTS_SUPPORT_TEST_FILES_H_
