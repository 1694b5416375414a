// Windows version of the binary runner: the child gets pipes for standard output and
// standard error, the null device as input, and no console.
#ifdef _WIN32
#include <windows.h>

#include <cstdio>
#include <thread>

#include "tests/support/run_binary.h"

namespace {

std::wstring widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                              static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return wide;
}

// Appends one argument quoted so that the child's CommandLineToArgvW gives it back as is.
void append_argument(std::wstring* line, const std::wstring& arg) {
  if (!line->empty()) line->push_back(L' ');
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
    line->append(arg);
    return;
  }
  line->push_back(L'"');
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      backslashes++;
      continue;
    }
    line->append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    line->push_back(c);
    backslashes = 0;
  }
  line->append(backslashes * 2, L'\\');
  line->push_back(L'"');
}

void drain(HANDLE pipe, std::string* sink) {
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) sink->append(chunk, got);
  CloseHandle(pipe);
}

std::string as_text(std::string bytes) {
  for (size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at))
    bytes.erase(at, 1);
  return bytes;
}

}  // namespace

BinaryRun run_tarvel_binary(const std::vector<std::string>& args, const std::string& cwd) {
  BinaryRun result;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE out_read, out_write, err_read, err_write;
  if (!CreatePipe(&out_read, &out_write, &inherit, 0)) return result;
  if (!CreatePipe(&err_read, &err_write, &inherit, 0)) return result;
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  HANDLE null_in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_in;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  std::wstring line;
  append_argument(&line, widen(TARVEL_BINARY));
  for (const std::string& arg : args) append_argument(&line, widen(arg));
  std::wstring directory = widen(cwd);
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                                cwd.empty() ? nullptr : directory.c_str(), &startup, &process);
  CloseHandle(out_write);
  CloseHandle(err_write);
  if (null_in != INVALID_HANDLE_VALUE) CloseHandle(null_in);
  std::thread err_reader(drain, err_read, &result.err);
  drain(out_read, &result.raw_out);
  err_reader.join();
  if (!started) return result;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(process.hProcess, &code)) result.status = static_cast<int>(code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  result.out = as_text(result.raw_out);
  result.err = as_text(result.err);
  return result;
}

std::string shell_output(const std::string& command) {
  std::string out;
  FILE* p = _popen(command.c_str(), "rb");
  if (p == nullptr) return out;
  char chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, p)) > 0) out.append(chunk, got);
  _pclose(p);
  return out;
}

#endif  // _WIN32
