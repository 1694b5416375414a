// Runs the built tarvel binary as a user would, for tests.
//
// run_tarvel_binary: the child has no controlling terminal (it starts a new session), so
// its console text (level 0) arrives on standard error; standard output and standard
// error are captured separately.
// run_tarvel_in_terminal: the child runs on a fresh pseudo-terminal as its controlling
// terminal, standard output still captured apart. When the terminal shows `prompt`, the
// `keys` are typed; everything the terminal showed is returned (CR LF read back as LF).
// On Windows the child runs without a console, so its console text also arrives on
// standard error; both outputs are read as text (CR LF back to LF), as the expected text
// is kept, with the bytes of standard output kept apart. There is no terminal run there.
#ifndef TARVEL_TESTS_SUPPORT_RUN_BINARY_H_
#define TARVEL_TESTS_SUPPORT_RUN_BINARY_H_

#include <string>
#include <vector>

#include "tests/support/test_files.h"

struct BinaryRun {
  int status = -1;               // exit status, or -1 when the child did not exit normally
  std::string out;               // standard output
  std::string err;               // standard error
  std::string terminal;          // what the pseudo-terminal showed (terminal runs only)
  bool terminal_cooked = false;  // echo and line editing on when the child ended (terminal runs)
  int signal = 0;                // the signal that ended the child, if one did
  std::string raw_out;           // Windows: standard output as written, before CR LF became LF
};

BinaryRun run_tarvel_binary(const std::vector<std::string>& args, const std::string& cwd = "");
// Standard output of a shell command (for the FFmpeg tools in interop tests).
std::string shell_output(const std::string& command);
#ifndef _WIN32

BinaryRun run_tarvel_in_terminal(const std::vector<std::string>& args, const std::string& prompt,
                                 const std::string& keys, const std::string& cwd = "");
// On a fresh pseudo-terminal with nothing typed, standard error redirected to the file
// `err_file` (read back into `err`), or, when `err_file` is empty, on the terminal itself.
BinaryRun run_tarvel_at_terminal(const std::vector<std::string>& args, const std::string& err_file);
// As run_tarvel_in_terminal, but sends `signal_number` to the child instead of typing.
BinaryRun run_tarvel_signalled_at_prompt(const std::vector<std::string>& args, const std::string& prompt,
                                         int signal_number);
#endif

#endif  // TARVEL_TESTS_SUPPORT_RUN_BINARY_H_
