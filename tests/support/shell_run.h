// Starting the dwt97 binary as a shell would (POSIX): standard input a
// pseudo-terminal or the null device, standard output and error captured,
// closed, on a pipe (read by the test, or whose reader is gone), on the
// pseudo-terminal or on /dev/full, signals ignored from the start, resource
// limits, added variables, and an ordinary user.
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

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace testsupport {

// How a row sets up the tool's world.
struct Shell {
  // Captured in a file, closed, a pipe read by the test (piped()), a pipe
  // whose reader is gone, the pseudo-terminal in raw mode (terminalOutput()),
  // /dev/full.
  enum class Stream { file, closed, pipe, readerGone, terminal, full };
  bool terminal = false;  // standard input a pseudo-terminal (else the null device)
  Stream out = Stream::file;
  Stream err = Stream::file;
  std::vector<int> ignored;  // signals ignored from the start, as by trap ''
  std::vector<std::pair<std::string, std::string>> environment;  // added variables
  bool ordinaryUser = false;  // run as nobody when the tests run as root
  long fileSizeLimit = -1;    // RLIMIT_FSIZE in bytes (ulimit -f), -1 for none
};

// The tool started in `dir` as `shell` says.
class ShellRun {
 public:
  ShellRun(const std::string& dir, const Shell& shell, const std::vector<std::string>& arguments)
      : out_(shell.out) {
    const bool onTerminal =
        shell.out == Shell::Stream::terminal || shell.err == Shell::Stream::terminal;
    if ((shell.terminal || onTerminal) &&
        openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
      return;
    }
    if (onTerminal) {
      // The bytes pass unchanged, and reading them never waits.
      termios raw{};
      tcgetattr(slave_, &raw);
      cfmakeraw(&raw);
      tcsetattr(slave_, TCSANOW, &raw);
      fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    if (shell.terminal) tcgetattr(slave_, &before_);
    int gone[2] = {-1, -1};
    if ((shell.out == Shell::Stream::readerGone || shell.err == Shell::Stream::readerGone) &&
        pipe(gone) != 0) {
      return;
    }
    if (gone[0] >= 0) close(gone[0]);
    int piped[2] = {-1, -1};
    if ((shell.out == Shell::Stream::pipe || shell.err == Shell::Stream::pipe) &&
        pipe(piped) != 0) {
      return;
    }
    const std::string outPath = capture_.file("stdout"), errPath = capture_.file("stderr");
    std::vector<std::string> words = commandFor(DWT97_EXE);
    // An emulator takes the program's variables as options of its own, so
    // that a preloaded library reaches the program and not the emulator.
    const bool emulated = words.size() > 1;
    if (emulated) {
      words.pop_back();
      for (const auto& [name, value] : shell.environment) {
        words.insert(words.end(), {"-E", name + "=" + value});
      }
      words.push_back(DWT97_EXE);
    }
    words.insert(words.end(), arguments.begin(), arguments.end());
    child_ = fork();
    if (child_ != 0) {
      if (gone[1] >= 0) close(gone[1]);
      if (piped[1] >= 0) close(piped[1]);
      if (piped[0] >= 0) {
        // Read as the tool writes, so that it never waits on a full pipe.
        reader_ = std::thread([this, fd = piped[0]] {
          char chunk[4096];
          ssize_t got;
          while ((got = read(fd, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)) {
            if (got > 0) piped_.insert(piped_.end(), chunk, chunk + got);
          }
          close(fd);
        });
      }
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
        case Shell::Stream::pipe:
          opened = dup(piped[1]);
          break;
        case Shell::Stream::readerGone:
          opened = dup(gone[1]);
          break;
        case Shell::Stream::terminal:
          opened = dup(slave_);
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
    // The pipe's reader sees its end once the tool's own ends are closed.
    for (int end : piped) {
      if (end >= 0) close(end);
    }
    // Closed last, so that nothing opened above takes their numbers.
    if (shell.out == Shell::Stream::closed) close(1);
    if (shell.err == Shell::Stream::closed) close(2);
    for (int number : shell.ignored) ::signal(number, SIG_IGN);
    for (const auto& [name, value] : shell.environment) {
      if (!emulated) setenv(name.c_str(), value.c_str(), 1);
    }
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
    if (reader_.joinable()) reader_.join();
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }

  bool started() const { return child_ > 0; }
  std::string out() const { return readText(capture_.file("stdout")); }
  std::string err() const { return readText(capture_.file("stderr")); }
  // The folder that captures standard output and error in files.
  const std::string& captureFolder() const { return capture_.path(); }
  // Standard output's bytes: the captured file's, what the pipe's reader got
  // (complete once finish() has seen the end), or what reached the terminal.
  Bytes outBytes() const {
    if (out_ == Shell::Stream::pipe) return piped_;
    if (out_ != Shell::Stream::terminal) return readFile(capture_.file("stdout"));
    Bytes bytes;
    char chunk[4096];
    ssize_t got;
    while ((got = read(master_, chunk, sizeof chunk)) > 0) {
      bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
  }
  // What the terminal showed that the tool did not write: the echo of the
  // keys typed (for a row whose standard output and error go elsewhere).
  Bytes echoed() const {
    Bytes bytes;
    if (master_ < 0) return bytes;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    char chunk[256];
    ssize_t got;
    while ((got = read(master_, chunk, sizeof chunk)) > 0)
      bytes.insert(bytes.end(), chunk, chunk + got);
    return bytes;
  }
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
      if (waitpid(child_, &status_, WNOHANG) == child_)
        finished_ = true;
      else
        usleep(1000);
    }
    if (finished_ && reader_.joinable()) reader_.join();
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
  Shell::Stream out_;
  std::thread reader_;
  Bytes piped_;
};

// Runs the tool in `dir` with `arguments`, as `shell` says, to its end.
inline RunResult shellRun(const std::string& dir, const std::vector<std::string>& arguments,
                          const Shell& shell = {}) {
  ShellRun run(dir, shell, arguments);
  RunResult result;
  if (!run.started()) return result;
  const int status = run.finish();
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = run.out();
  result.err = run.err();
  return result;
}

// A shell whose standard input is a pseudo-terminal, these signals ignored.
inline Shell atTerminal(std::vector<int> ignored = {}) {
  Shell shell;
  shell.terminal = true;
  shell.ignored = std::move(ignored);
  return shell;
}

}  // namespace testsupport

#endif  // !_WIN32
