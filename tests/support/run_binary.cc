// POSIX version of the binary runner (run_binary_win.cc is the Windows one).
#ifndef _WIN32
#include "tests/support/run_binary.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace {

std::vector<char*> make_argv(const std::vector<std::string>& args, std::vector<std::string>* storage) {
  storage->assign(1, TARVEL_BINARY);
  storage->insert(storage->end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : *storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  return argv;
}

// How the child runs: on a pseudo-terminal or not, where its standard error goes, and what
// answers the prompt (`keys` typed, or `prompt_signal` sent).
struct Launch {
  bool terminal = false;
  bool err_on_terminal = false;  // terminal runs: standard error is the terminal itself
  std::string err_file;          // terminal runs: standard error redirected to this file
  std::string prompt;
  std::string keys;
  int prompt_signal = 0;
};

// Reads from every open descriptor until all of them reach end of file; answers at the
// terminal once its text contains the prompt.
void pump(int out_fd, int err_fd, int terminal_fd, const Launch& launch, pid_t child, BinaryRun* run) {
  const std::string& prompt = launch.prompt;
  bool typed = prompt.empty();
  int fds[3] = {out_fd, err_fd, terminal_fd};
  std::string* sinks[3] = {&run->out, &run->err, &run->terminal};
  for (;;) {
    struct pollfd p[3];
    int n = 0;
    int which[3];
    for (int i = 0; i < 3; i++) {
      if (fds[i] < 0) continue;
      p[n].fd = fds[i];
      p[n].events = POLLIN;
      p[n].revents = 0;
      which[n++] = i;
    }
    if (n == 0) break;
    if (poll(p, static_cast<nfds_t>(n), 20000) <= 0) break;  // a hung child fails the test
    for (int k = 0; k < n; k++) {
      if (p[k].revents == 0) continue;
      char chunk[4096];
      ssize_t got = read(p[k].fd, chunk, sizeof chunk);
      int i = which[k];
      if (got <= 0) {  // end of file (a pseudo-terminal reports EIO once the child is gone)
        struct termios settings;
        if (i == 2 && tcgetattr(fds[i], &settings) == 0) {
          run->terminal_cooked = (settings.c_lflag & (ECHO | ICANON)) == (ECHO | ICANON);
        }
        close(fds[i]);
        fds[i] = -1;
        continue;
      }
      sinks[i]->append(chunk, static_cast<size_t>(got));
      if (i == 2 && !typed && run->terminal.find(prompt) != std::string::npos) {
        if (launch.prompt_signal != 0) {
          kill(child, launch.prompt_signal);
        } else {
          ssize_t w = write(terminal_fd, launch.keys.data(), launch.keys.size());
          (void)w;
        }
        typed = true;
      }
    }
  }
  for (int fd : fds) {
    if (fd >= 0) close(fd);
  }
}

BinaryRun run(const std::vector<std::string>& args, const std::string& cwd, const Launch& launch) {
  BinaryRun result;
  std::vector<std::string> storage;
  std::vector<char*> argv = make_argv(args, &storage);
  int out_pipe[2];
  int err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return result;

  int master = -1;
  std::string slave_name;
  if (launch.terminal) {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return result;
    slave_name = ptsname(master);
  }

  pid_t pid = fork();
  if (pid == 0) {
    setsid();  // no controlling terminal, unless the pseudo-terminal becomes it below
    int err_target = err_pipe[1];
    if (launch.terminal) {
      int slave = open(slave_name.c_str(), O_RDWR);
      if (slave < 0) _exit(126);
      ioctl(slave, TIOCSCTTY, 0);
      dup2(slave, STDIN_FILENO);
      if (launch.err_on_terminal) err_target = STDIN_FILENO;
      close(slave);
      close(master);
    } else {
      int null_in = open("/dev/null", O_RDONLY);
      dup2(null_in, STDIN_FILENO);
      close(null_in);
    }
    if (!launch.err_file.empty()) {
      err_target = open(launch.err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (err_target < 0) _exit(126);
    }
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_target, STDERR_FILENO);
    close(out_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[0]);
    close(err_pipe[1]);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  pump(out_pipe[0], err_pipe[0], master, launch, pid, &result);
  // The terminal turns each line feed into CR LF on output; give the text back as written.
  std::string& t = result.terminal;
  for (size_t at = t.find("\r\n"); at != std::string::npos; at = t.find("\r\n", at)) t.erase(at, 1);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  if (!launch.err_file.empty()) result.err = load_file(launch.err_file);
  return result;
}

}  // namespace

BinaryRun run_tarvel_binary(const std::vector<std::string>& args, const std::string& cwd) {
  return run(args, cwd, Launch{});
}

BinaryRun run_tarvel_in_terminal(const std::vector<std::string>& args, const std::string& prompt,
                                 const std::string& keys, const std::string& cwd) {
  Launch launch;
  launch.terminal = true;
  launch.prompt = prompt;
  launch.keys = keys;
  return run(args, cwd, launch);
}

BinaryRun run_tarvel_at_terminal(const std::vector<std::string>& args, const std::string& err_file) {
  Launch launch;
  launch.terminal = true;
  launch.err_on_terminal = err_file.empty();
  launch.err_file = err_file;
  return run(args, "", launch);
}

BinaryRun run_tarvel_signalled_at_prompt(const std::vector<std::string>& args, const std::string& prompt,
                                         int signal_number) {
  Launch launch;
  launch.terminal = true;
  launch.prompt = prompt;
  launch.prompt_signal = signal_number;
  return run(args, "", launch);
}

std::string shell_output(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, p)) > 0) out.append(chunk, got);
  pclose(p);
  return out;
}

#endif  // !_WIN32
