// Starting the dwt97 binary as a shell would (POSIX): standard input a
// pseudo-terminal or the null device, standard output and error captured,
// closed, on a pipe whose reader is gone or on /dev/full, signals ignored
// from the start, resource limits, and an ordinary user.
#pragma once

#if !defined(_WIN32)
#if defined(__APPLE__)
#include <util.h>  // openpty()
#elif defined(__FreeBSD__)
#include <libutil.h>
#else
#include <pty.h>
#endif
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace testsupport {

// How a row sets up the tool's world.
struct Shell {
  enum class Stream { file, closed, readerGone, full };
  bool terminal = false;  // standard input a pseudo-terminal (else the null device)
  Stream out = Stream::file;
  Stream err = Stream::file;
  std::vector<int> ignored;  // signals ignored from the start, as by trap ''
  bool ordinaryUser = false;  // run as nobody when the tests run as root
  long fileSizeLimit = -1;    // RLIMIT_FSIZE in bytes (ulimit -f), -1 for none
};

// The tool started in `dir` as `shell` says.
class ShellRun {
 public:
  ShellRun(const std::string& dir, const Shell& shell, const std::vector<std::string>& arguments) {
    if (shell.terminal && openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
    if (shell.terminal) tcgetattr(slave_, &before_);
    int gone[2] = {-1, -1};
    if ((shell.out == Shell::Stream::readerGone || shell.err == Shell::Stream::readerGone) &&
        pipe(gone) != 0) {
      return;
    }
    if (gone[0] >= 0) close(gone[0]);
    const std::string outPath = capture_.file("stdout"), errPath = capture_.file("stderr");
    std::vector<std::string> words = commandFor(DWT97_EXE);
    words.insert(words.end(), arguments.begin(), arguments.end());
    child_ = fork();
    if (child_ != 0) {
      if (gone[1] >= 0) close(gone[1]);
      return;
    }
    auto attach = [&](int fd, Shell::Stream stream, const std::string& path) {
      int opened = -1;
      switch (stream) {
        case Shell::Stream::file:
          opened = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
          break;
        case Shell::Stream::closed:
          return true;
        case Shell::Stream::readerGone:
          opened = dup(gone[1]);
          break;
        case Shell::Stream::full:
          opened = open("/dev/full", O_WRONLY);
          break;
      }
      return opened >= 0 && dup2(opened, fd) >= 0;
    };
    const int in = shell.terminal ? slave_ : open("/dev/null", O_RDONLY);
    if (setsid() < 0 || in < 0 || dup2(in, 0) < 0 || !attach(1, shell.out, outPath) ||
        !attach(2, shell.err, errPath) || chdir(dir.c_str()) != 0) {
      _exit(127);
    }
    // Closed last, so that nothing opened above takes their numbers.
    if (shell.out == Shell::Stream::closed) close(1);
    if (shell.err == Shell::Stream::closed) close(2);
    for (int number : shell.ignored) ::signal(number, SIG_IGN);
    if (shell.fileSizeLimit >= 0) {
      const rlimit limit{static_cast<rlim_t>(shell.fileSizeLimit),
                         static_cast<rlim_t>(shell.fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (shell.ordinaryUser && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
      _exit(127);
    }
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  ~ShellRun() {
    if (child_ > 0 && !finished_) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }

  bool started() const { return child_ > 0; }
  std::string out() const { return readText(capture_.file("stdout")); }
  std::string err() const { return readText(capture_.file("stderr")); }
  termios terminal() const {
    termios t{};
    tcgetattr(slave_, &t);
    return t;
  }
  const termios& terminalBefore() const { return before_; }

  // Waits (up to 10 s) until the tool has the terminal reading single keys.
  bool waitForPause() {
    for (int k = 0; k < 10000 && !finished_; ++k) {
      if ((terminal().c_lflag & ICANON) == 0) return true;
      if (waitpid(child_, &status_, WNOHANG) == child_) finished_ = true;
      usleep(1000);
    }
    return false;
  }
  void type(const char* keys) {
    if (write(master_, keys, std::strlen(keys)) < 0) ADD_FAILURE() << "write to terminal";
  }
  void signal(int number) { kill(child_, number); }
  bool stillRunning() { return !finished_ && waitpid(child_, &status_, WNOHANG) == 0; }
  // Waits (up to 20 s) for the tool to end; returns its wait status, or -1.
  int finish() {
    for (int k = 0; k < 20000 && !finished_; ++k) {
      if (waitpid(child_, &status_, WNOHANG) == child_) finished_ = true;
      else usleep(1000);
    }
    return finished_ ? status_ : -1;
  }

 private:
  TempDir capture_;
  int master_ = -1;
  int slave_ = -1;
  termios before_{};
  pid_t child_ = -1;
  int status_ = 0;
  bool finished_ = false;
};

// A shell whose standard input is a pseudo-terminal, these signals ignored.
inline Shell atTerminal(std::vector<int> ignored = {}) {
  Shell shell;
  shell.terminal = true;
  shell.ignored = std::move(ignored);
  return shell;
}

}  // namespace testsupport

#endif  // !_WIN32
