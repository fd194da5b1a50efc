// The platform layer on POSIX systems (Linux, macOS, the BSDs): see platform.h.
#define _FILE_OFFSET_BITS 64  // 64-bit sizes and offsets on 32-bit systems too

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform.h"

namespace dwt97 {
namespace detail {

void utf8Arguments(int*, char***) {}

std::FILE* openForReading(const char* path) { return std::fopen(path, "rb"); }

bool fileFacts(std::FILE* file, FileFacts* facts) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0) return false;
  facts->regular = S_ISREG(info.st_mode);
  facts->size = info.st_size < 0 ? 0 : static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool sameFile(const char* pathA, const char* pathB) {
  struct stat a, b;
  return stat(pathA, &a) == 0 && stat(pathB, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

// ---- The save ------------------------------------------------------------

namespace {

// The temporaries that exist now, for the interrupt handler to remove. The
// handler only reads the slots and calls unlink(), both async-signal-safe.
constexpr int kPendingSlots = 8;
std::atomic<const char*> pendingTemporaries[kPendingSlots];

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kInterruptCount = 3;

std::mutex pendingLock;  // guards the count and the saved dispositions
int pendingCount = 0;
struct sigaction interruptsBefore[kInterruptCount];

void removeTemporariesAndReraise(int signalNumber) {
  for (std::atomic<const char*>& slot : pendingTemporaries) {
    if (const char* path = slot.load()) unlink(path);
  }
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);  // delivered when the handler returns
}

// Registers `path` for removal on an interrupt; the first registration
// installs the handler (not over an interrupt the caller ignores, as under
// nohup). False when every slot is taken.
bool registerTemporary(const char* path) {
  const std::lock_guard<std::mutex> hold(pendingLock);
  std::atomic<const char*>* free = nullptr;
  for (std::atomic<const char*>& slot : pendingTemporaries) {
    if (slot.load() == nullptr) {
      free = &slot;
      break;
    }
  }
  if (free == nullptr) return false;
  free->store(path);
  if (pendingCount++ == 0) {
    struct sigaction remove {};
    remove.sa_handler = removeTemporariesAndReraise;
    sigemptyset(&remove.sa_mask);
    for (int signalNumber : kInterrupts) sigaddset(&remove.sa_mask, signalNumber);
    for (int k = 0; k < kInterruptCount; ++k) {
      sigaction(kInterrupts[k], nullptr, &interruptsBefore[k]);
      if (interruptsBefore[k].sa_handler != SIG_IGN) {
        sigaction(kInterrupts[k], &remove, nullptr);
      }
    }
  }
  return true;
}

void unregisterTemporary(const char* path) {
  const std::lock_guard<std::mutex> hold(pendingLock);
  for (std::atomic<const char*>& slot : pendingTemporaries) {
    const char* expected = path;
    if (slot.compare_exchange_strong(expected, nullptr)) {
      if (--pendingCount == 0) {
        for (int k = 0; k < kInterruptCount; ++k) {
          sigaction(kInterrupts[k], &interruptsBefore[k], nullptr);
        }
      }
      return;
    }
  }
}

// Blocks the interrupts for a scope, so that a temporary is never created
// without being registered.
class InterruptsHeld {
 public:
  InterruptsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signalNumber : kInterrupts) sigaddset(&held, signalNumber);
    pthread_sigmask(SIG_BLOCK, &held, &before_);
  }
  ~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }

 private:
  sigset_t before_;
};

// Holds SIGXFSZ for the calling thread while it writes: past a file-size
// limit the write then fails with EFBIG instead of the signal killing the
// process with the temporary half written. A signal the write raised is
// taken back before the mask is restored (one already waiting is left
// alone). No process-wide disposition changes, so other threads are not
// affected.
class FileSizeSignalHeld {
 public:
  FileSizeSignalHeld() {
    sigemptyset(&only_);
    sigaddset(&only_, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &only_, &before_);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGXFSZ) == 1;
  }
  ~FileSizeSignalHeld() {
    sigset_t pending;
    sigpending(&pending);
    if (!wasPending_ && sigismember(&pending, SIGXFSZ) == 1) {
      int taken = 0;
      sigwait(&only_, &taken);  // pending, so it returns at once
    }
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }

 private:
  sigset_t only_, before_;
  bool wasPending_ = false;
};

// Creates a new file `temporary` ("<path>.XXXXXX", the X's replaced by a
// name not yet taken) for writing, with the permissions a plain create would
// give it: 0666 less the umask, which the system applies. Returns the
// descriptor, or -1. (mkstemp would give 0600, and reading the umask means
// changing it for a moment, which other threads could see.)
int createTemporary(char* temporary, std::size_t pathLength) {
  static std::atomic<std::uint64_t> calls{0};
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t bits = (static_cast<std::uint64_t>(getpid()) << 32) ^
                         static_cast<std::uint64_t>(now.tv_nsec) ^
                         (static_cast<std::uint64_t>(now.tv_sec) << 20) ^
                         (calls.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    for (int k = 0; k < 6; ++k) {
      bits ^= bits >> 29;
      bits *= 0xBF58476D1CE4E5B9ull;
      bits ^= bits >> 32;
      temporary[pathLength + 1 + k] = kLetters[bits % 62];
    }
    const int fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

struct SaveFile::State {
  char* target;
  char* temporary;
  int fd;
  bool created;  // the temporary exists (until renamed or removed)
  bool registered;
};

SaveFile::Start SaveFile::create(const char* path) {
  abort();
  const std::size_t pathLength = std::strlen(path);
  State* state = static_cast<State*>(std::calloc(1, sizeof(State)));
  char* target = static_cast<char*>(std::malloc(pathLength + 1));
  char* temporary = static_cast<char*>(std::malloc(pathLength + 8));
  if (state == nullptr || target == nullptr || temporary == nullptr) {
    std::free(state);
    std::free(target);
    std::free(temporary);
    return Start::outOfMemory;
  }
  std::memcpy(target, path, pathLength + 1);
  std::memcpy(temporary, path, pathLength);
  std::memcpy(temporary + pathLength, ".XXXXXX", 8);
  state->target = target;
  state->temporary = temporary;
  {
    const InterruptsHeld held;
    state->fd = createTemporary(temporary, pathLength);
    state->created = state->fd >= 0;
    if (state->created) state->registered = registerTemporary(temporary);
  }
  state_ = state;
  if (state->fd < 0) {
    abort();
    return Start::failed;
  }
  return Start::created;
}

bool SaveFile::write(const void* bytes, std::size_t count) {
  const WritePiece piece{bytes, count};
  return writeGathered(&piece, 1);
}

namespace {

// Hands the pieces to `send` (writev or pwritev on an iovec array; returns
// what it wrote, or -1) in batches of at most IOV_MAX, going on after a
// partial write from where it stopped. False on any failure.
template <typename Send>
bool sendPieces(const WritePiece* pieces, std::size_t count, Send send) {
  constexpr std::size_t kGather = 1024;  // IOV_MAX on Linux and macOS
  struct iovec gathered[kGather];
  std::size_t next = 0;
  while (next < count) {
    int used = 0;
    for (; used < static_cast<int>(kGather) && next < count; ++next) {
      if (pieces[next].count == 0) continue;
      gathered[used].iov_base = const_cast<void*>(pieces[next].bytes);
      gathered[used].iov_len = pieces[next].count;
      ++used;
    }
    struct iovec* piece = gathered;
    while (used > 0) {
      const ssize_t wrote = send(piece, used);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) return false;
      // Skip what went; a piece written in part goes on from where it stopped.
      std::size_t left = static_cast<std::size_t>(wrote);
      while (used > 0 && left >= piece->iov_len) {
        left -= piece->iov_len;
        ++piece;
        --used;
      }
      if (used > 0) {
        piece->iov_base = static_cast<char*>(piece->iov_base) + left;
        piece->iov_len -= left;
      }
    }
  }
  return true;
}

}  // namespace

bool SaveFile::writeGathered(const WritePiece* pieces, std::size_t count) {
  if (state_ == nullptr || state_->fd < 0) return false;
  const FileSizeSignalHeld held;
  const int fd = state_->fd;
  return sendPieces(pieces, count,
                    [fd](const struct iovec* piece, int used) { return writev(fd, piece, used); });
}

bool SaveFile::writeGatheredAt(std::uint64_t offset, const WritePiece* pieces, std::size_t count) {
#if defined(__linux__)
  if (state_ == nullptr || state_->fd < 0) return false;
  const FileSizeSignalHeld held;
  const int fd = state_->fd;
  return sendPieces(pieces, count, [fd, &offset](const struct iovec* piece, int used) -> ssize_t {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
      errno = EFBIG;
      return -1;
    }
    const ssize_t wrote = pwritev(fd, piece, used, static_cast<off_t>(offset));
    if (wrote > 0) offset += static_cast<std::uint64_t>(wrote);
    return wrote;
  });
#else
  for (std::size_t k = 0; k < count; ++k) {
    if (!writeAt(offset, pieces[k].bytes, pieces[k].count)) return false;
    offset += pieces[k].count;
  }
  return true;
#endif
}

bool SaveFile::writeAt(std::uint64_t offset, const void* bytes, std::size_t count) {
  if (state_ == nullptr || state_->fd < 0) return false;
  const FileSizeSignalHeld held;
  const char* at = static_cast<const char*>(bytes);
  while (count > 0) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    const ssize_t written = pwrite(state_->fd, at, count, static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    at += written;
    offset += static_cast<std::uint64_t>(written);
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

bool SaveFile::finish() {
  if (state_ == nullptr || state_->fd < 0) return false;
  const int fd = state_->fd;
  state_->fd = -1;
  const FileSizeSignalHeld held;
  return close(fd) == 0;
}

bool SaveFile::commit() {
  if (state_ == nullptr || state_->fd >= 0) return false;  // not finished
  if (std::rename(state_->temporary, state_->target) != 0) {
    abort();
    return false;
  }
  // The name is free again: nothing must unlink a new file that takes it.
  state_->created = false;
  abort();
  return true;
}

void SaveFile::abort() {
  if (state_ == nullptr) return;
  if (state_->fd >= 0) close(state_->fd);
  if (state_->created) unlink(state_->temporary);
  if (state_->registered) unregisterTemporary(state_->temporary);
  std::free(state_->target);
  std::free(state_->temporary);
  std::free(state_);
  state_ = nullptr;
}

// ---- The pause -------------------------------------------------------------

namespace {

struct termios savedTerminal;
constexpr int kPauseSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction beforePause[4];

// Puts the terminal back, then lets the signal do what it did before the
// pause: run the handler there was (one that removes a save's temporary,
// say), or end the process as it would have.
void restoreTerminalAndReraise(int signalNumber) {
  tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
  for (int k = 0; k < 4; ++k) {
    if (kPauseSignals[k] != signalNumber) continue;
    const struct sigaction& before = beforePause[k];
    if ((before.sa_flags & SA_SIGINFO) == 0 && before.sa_handler != SIG_DFL &&
        before.sa_handler != SIG_IGN) {
      sigaction(signalNumber, &before, nullptr);
      before.sa_handler(signalNumber);
      return;
    }
  }
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

}  // namespace

void pauseForKey() {
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
  std::fputs("Press any key to continue . . . ", stderr);
  std::fflush(stderr);
  std::fflush(stdout);

  struct sigaction restore {};
  restore.sa_handler = restoreTerminalAndReraise;
  sigemptyset(&restore.sa_mask);
  for (int k = 0; k < 4; ++k) sigaction(kPauseSignals[k], &restore, &beforePause[k]);

  struct termios raw = savedTerminal;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
    unsigned char key;
    while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
  }
  for (int k = 0; k < 4; ++k) sigaction(kPauseSignals[k], &beforePause[k], nullptr);
  std::fputs("\n", stderr);
}

}  // namespace detail
}  // namespace dwt97
