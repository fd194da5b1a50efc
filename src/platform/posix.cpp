// The platform layer on POSIX systems (Linux, macOS, the BSDs): see
// platform.h; the primitives under the common policy are those of
// platform_system.h.
#define _FILE_OFFSET_BITS 64  // 64-bit sizes and offsets on 32-bit systems too

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/platform.h"
#include "platform/system.h"

namespace dwt97 {
namespace detail {

void openStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is `fd` itself.
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}

void utf8Arguments(int*, char***) {}

std::FILE* binaryStandardInput() { return stdin; }

bool standardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::FILE* openForReading(const char* path) {
  // Without waiting: opening a FIFO would otherwise wait for a writer. A
  // regular file then reads as usual; anything else is for the caller to
  // refuse.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) close(fd);
  return file;
}

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

void* mapHugePages(std::size_t length, std::size_t alignment) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // Map one alignment more than needed, then trim to an aligned range.
  void* raw =
      mmap(nullptr, length + alignment, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + alignment - 1) & ~std::uintptr_t{alignment - 1};
  if (aligned > start) munmap(raw, aligned - start);
  const std::size_t tail = alignment - (aligned - start);
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + length), tail);
  void* block = reinterpret_cast<void*>(aligned);
  madvise(block, length, MADV_HUGEPAGE);  // only advice: plain pages work too
  return block;
#else
  (void)length;
  (void)alignment;
  return nullptr;
#endif
}

void unmapPages(void* block, std::size_t length) { munmap(block, length); }

int usableProcessors() {
#if defined(__linux__)
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    return count > 0 ? count : 1;
  }
#endif
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
}

namespace sys {

// ---- Paths and targets -----------------------------------------------------

PathChar* nativePath(const char* path, bool* outOfMemory) {
  char* copy = strdup(path);
  if (copy == nullptr) *outOfMemory = true;
  return copy;
}

const PathChar* baseName(const PathChar* path) {
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
}

PathChar* finalName(const PathChar* path, bool* outOfMemory) {
  char* name = strdup(path);
  for (int hop = 0; name != nullptr && hop < 40; ++hop) {
    struct stat info;
    if (lstat(name, &info) != 0 || !S_ISLNK(info.st_mode)) return name;
    char link[PATH_MAX];
    const ssize_t length = readlink(name, link, sizeof link - 1);
    if (length < 0) return name;  // let the create report it
    link[length] = '\0';
    // A relative link is read from the link's own folder.
    const std::size_t folder = link[0] == '/' ? 0 : static_cast<std::size_t>(baseName(name) - name);
    char* next = static_cast<char*>(std::malloc(folder + static_cast<std::size_t>(length) + 1));
    if (next != nullptr) {
      std::memcpy(next, name, folder);
      std::memcpy(next + folder, link, static_cast<std::size_t>(length) + 1);
    }
    std::free(name);
    name = next;
  }
  if (name == nullptr) {
    *outOfMemory = true;
    return nullptr;
  }
  std::free(name);  // a chain that does not end
  return nullptr;
}

TargetFacts inspect(const PathChar* path) {
  TargetFacts facts;
  struct stat info;
  if (stat(path, &info) != 0) return facts;  // missing, or the create will say
  if (S_ISDIR(info.st_mode)) {
    facts.kind = Target::refused;
  } else if (!S_ISREG(info.st_mode)) {
    facts.kind = Target::special;
  } else if (faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0) {
    facts.kind = Target::refused;
  } else {
    facts.kind = Target::regular;
    facts.mode = static_cast<std::uint32_t>(info.st_mode & 07777);
    facts.owner = static_cast<std::uint32_t>(info.st_uid);
    facts.group = static_cast<std::uint32_t>(info.st_gid);
  }
  return facts;
}

namespace {

// A new file is created with the permissions a plain create gives (0666 less
// the umask, which the system applies; mkstemp would give 0600, and reading
// the umask means changing it for a moment, which other threads could see);
// a replacement then takes the old file's bits, owner and group.
constexpr mode_t kCreateMode = 0666;

void keepFacts(int fd, const TargetFacts& keep) {
  if (keep.kind != Target::regular) return;
  if (geteuid() == 0) {
    // Only root may give a file away; changing the owner clears the set-id
    // bits, so the mode comes after.
    if (fchown(fd, static_cast<uid_t>(keep.owner), static_cast<gid_t>(keep.group)) != 0) {
      // Not allowed here (a file system without owners): keep ours.
    }
  }
  fchmod(fd, static_cast<mode_t>(keep.mode));
}

#if defined(__linux__) && defined(O_TMPFILE)
// The name through which any process may link an open file of its own.
struct DescriptorName {
  char text[32];
  explicit DescriptorName(int fd) { std::snprintf(text, sizeof text, "/proc/self/fd/%d", fd); }
};
#endif

}  // namespace

Native createExclusive(const PathChar* path, const TargetFacts& keep, bool* taken) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, kCreateMode);
  if (fd < 0) {
    *taken = errno == EEXIST;
    return kNoFile;
  }
  keepFacts(fd, keep);
  return fd;
}

#if defined(__linux__) && defined(O_TMPFILE)

// O_TMPFILE (Linux 3.11 on): the file lives only as long as a descriptor
// does, until linkat() names it. A file system that cannot make one refuses
// (EOPNOTSUPP; EISDIR or EINVAL from a kernel that does not know the flag),
// and so does anything else that would fail the named create too, which is
// then left to report it.
Native createUnnamed(const PathChar* target, const TargetFacts& keep) {
  const std::size_t folderLength = static_cast<std::size_t>(baseName(target) - target);
  char* folder = static_cast<char*>(std::malloc(folderLength + 2));
  if (folder == nullptr) return kNoFile;
  if (folderLength == 0) {
    std::strcpy(folder, ".");
  } else {
    std::memcpy(folder, target, folderLength);  // with its slash: "/" stays "/"
    folder[folderLength] = '\0';
  }
  const int fd = open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, kCreateMode);
  std::free(folder);
  if (fd < 0) return kNoFile;
  // The naming goes through /proc, where any user may link an open file of
  // theirs (AT_EMPTY_PATH, tried next, asks for a privilege before Linux
  // 6.10): without it, a named temporary is the safe choice.
  struct stat direct, linked;
  if (fstat(fd, &direct) != 0 || stat(DescriptorName(fd).text, &linked) != 0 ||
      direct.st_dev != linked.st_dev || direct.st_ino != linked.st_ino) {
    close(fd);
    return kNoFile;
  }
  keepFacts(fd, keep);
  return fd;
}

bool nameUnnamed(Native file, const PathChar* path, bool* taken) {
  const int fd = static_cast<int>(file);
  if (linkat(AT_FDCWD, DescriptorName(fd).text, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0 ||
      (errno != EEXIST && linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0)) {
    return true;
  }
  *taken = errno == EEXIST;
  return false;
}

#else

Native createUnnamed(const PathChar*, const TargetFacts&) { return kNoFile; }

bool nameUnnamed(Native, const PathChar*, bool*) { return false; }

#endif

Native openStandardOutput() { return fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3); }

Native openInPlace(const PathChar* path) {
  const int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
  return fd < 0 ? kNoFile : fd;
}

// ---- Writing ---------------------------------------------------------------

const bool kGathers = true;
const bool kCloseBeforeReplace = true;

std::int64_t writeSome(Native file, const WritePiece* pieces, std::size_t count,
                       const std::uint64_t* offset) {
  constexpr std::size_t kMost = 1024;  // IOV_MAX on Linux and macOS
  struct iovec gathered[kMost];
  const int used = static_cast<int>(count < kMost ? count : kMost);
  for (int k = 0; k < used; ++k) {
    gathered[k].iov_base = const_cast<void*>(pieces[k].bytes);
    gathered[k].iov_len = pieces[k].count;
  }
  const int fd = static_cast<int>(file);
  for (;;) {
    ssize_t wrote;
    if (offset == nullptr) {
      wrote = writev(fd, gathered, used);
    } else if (*offset > static_cast<std::uint64_t>(INT64_MAX)) {
      return -1;
    } else {
#if defined(__linux__)
      wrote = pwritev(fd, gathered, used, static_cast<off_t>(*offset));
#else
      wrote = pwrite(fd, gathered[0].iov_base, gathered[0].iov_len, static_cast<off_t>(*offset));
#endif
    }
    if (wrote < 0 && errno == EINTR) continue;
    return wrote;
  }
}

namespace {

// What holdWriteSignals() keeps for releaseWriteSignals(), per thread.
struct HeldWriteSignals {
  sigset_t only, before;
  bool wasPending[2];
};
thread_local HeldWriteSignals heldWrite;
constexpr int kWriteSignals[2] = {SIGXFSZ, SIGPIPE};

}  // namespace

void holdWriteSignals() {
  sigemptyset(&heldWrite.only);
  for (int signalNumber : kWriteSignals) sigaddset(&heldWrite.only, signalNumber);
  pthread_sigmask(SIG_BLOCK, &heldWrite.only, &heldWrite.before);
  sigset_t pending;
  sigpending(&pending);
  for (int k = 0; k < 2; ++k)
    heldWrite.wasPending[k] = sigismember(&pending, kWriteSignals[k]) == 1;
}

void releaseWriteSignals() {
  // A signal the writes raised is taken back before the mask is restored
  // (one already waiting is left alone). No process-wide disposition
  // changes, so other threads are not affected.
  sigset_t pending;
  sigpending(&pending);
  for (int k = 0; k < 2; ++k) {
    if (!heldWrite.wasPending[k] && sigismember(&pending, kWriteSignals[k]) == 1) {
      sigset_t one;
      sigemptyset(&one);
      sigaddset(&one, kWriteSignals[k]);
      int taken = 0;
      sigwait(&one, &taken);  // pending, so it returns at once
    }
  }
  pthread_sigmask(SIG_SETMASK, &heldWrite.before, nullptr);
}

bool closeFile(Native* file) {
  if (*file == kNoFile) return true;
  const int fd = static_cast<int>(*file);
  *file = kNoFile;
  return close(fd) == 0;
}

bool replace(Native* file, const PathChar* temporary, const PathChar* target) {
  closeFile(file);
  return std::rename(temporary, target) == 0;
}

void discard(Native file, const PathChar* temporary) {
  if (file != kNoFile) close(static_cast<int>(file));
  if (temporary != nullptr) unlink(temporary);
}

void removePath(const PathChar* path) { unlink(path); }

// ---- Interrupts ------------------------------------------------------------

namespace {

// The signals that end a process by default and after which tools with
// temporary files clean up.
constexpr int kCleanupSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGPIPE,   SIGTERM,
                                   SIGALRM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF};
constexpr int kCleanupCount = sizeof kCleanupSignals / sizeof kCleanupSignals[0];
struct sigaction cleanupBefore[kCleanupCount];
bool cleanupInstalled[kCleanupCount];

// The terminal's settings while the pause has it reading single keys.
struct termios savedTerminal;
std::atomic<bool> terminalChanged{false};

void cleanUpAndReraise(int signalNumber) {
  const int savedErrno = errno;
  if (terminalChanged.load()) tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
  removeRegisteredTemporaries();
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);  // delivered when the handler returns
  errno = savedErrno;
}

sigset_t cleanupSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signalNumber : kCleanupSignals) sigaddset(&set, signalNumber);
  return set;
}

thread_local sigset_t interruptsBefore;

}  // namespace

void cleanupHandlers(bool install) {
  if (install) {
    struct sigaction cleanUp {};
    cleanUp.sa_handler = cleanUpAndReraise;
    cleanUp.sa_mask = cleanupSet();
    for (int k = 0; k < kCleanupCount; ++k) {
      sigaction(kCleanupSignals[k], nullptr, &cleanupBefore[k]);
      // A signal the process ignores stays ignored (nohup, trap ''), and a
      // handler of the caller's own is left to the caller.
      cleanupInstalled[k] =
          (cleanupBefore[k].sa_flags & SA_SIGINFO) == 0 && cleanupBefore[k].sa_handler == SIG_DFL;
      if (cleanupInstalled[k]) sigaction(kCleanupSignals[k], &cleanUp, nullptr);
    }
    return;
  }
  for (int k = 0; k < kCleanupCount; ++k) {
    if (cleanupInstalled[k]) sigaction(kCleanupSignals[k], &cleanupBefore[k], nullptr);
    cleanupInstalled[k] = false;
  }
}

void holdInterrupts() {
  const sigset_t set = cleanupSet();
  pthread_sigmask(SIG_BLOCK, &set, &interruptsBefore);
}

void releaseInterrupts() { pthread_sigmask(SIG_SETMASK, &interruptsBefore, nullptr); }

std::uint64_t entropy() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return (static_cast<std::uint64_t>(getpid()) << 32) ^ static_cast<std::uint64_t>(now.tv_nsec) ^
         (static_cast<std::uint64_t>(now.tv_sec) << 20);
}

// ---- The pause -------------------------------------------------------------

bool keyboardAttached() {
  return isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &savedTerminal) == 0;
}

void waitForKey() {
  struct termios raw = savedTerminal;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  terminalChanged.store(true);
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
    unsigned char key;
    while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
  }
  terminalChanged.store(false);
}

}  // namespace sys
}  // namespace detail
}  // namespace dwt97
