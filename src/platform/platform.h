// Internal: everything that differs between operating systems, behind one
// interface. platform_common.cpp holds the policy (the save through a
// temporary, the registry of temporaries, the rule for special files, the
// pause) over small per-system primitives (platform_system.h), which
// platform_posix.cpp defines for Linux, macOS and the BSDs and
// platform_windows.cpp for Windows; the build compiles exactly one of those.
//
// The few calls the tool makes are exported from a shared library
// (DWT97_API), so that the tool and the library share one registry of
// temporaries and one set of interrupt handlers.
//
// Paths are UTF-8 everywhere: on Windows they are converted to UTF-16 and
// opened through the wide file calls, so any file name the system allows
// works; elsewhere they go to the system as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "dwt97/export.h"
#include "dwt97/failure.h"

namespace dwt97 {
namespace detail {

// Opens each of the standard descriptors 0, 1 and 2 that is closed on the
// null device (POSIX), so that no file the run opens can take one of them
// and receive what was meant for standard output or error. Call first.
DWT97_API void openStandardStreams();

// Replaces the program's arguments by their UTF-8 spelling, once, at the top
// of main(). On Windows they are taken from the wide command line (the
// narrow argv holds them in the ANSI code page, with characters outside it
// lost); elsewhere argc and argv stay as they are. The strings live until the
// process ends.
DWT97_API void utf8Arguments(int* argc, char*** argv);

// Opens the file at `path` for reading in binary mode, or returns null. A
// folder, a device or a pipe opens too, without waiting for a writer, so
// that fileFacts() can tell the caller it is not a regular file.
std::FILE* openForReading(const char* path);

struct FileFacts {
  bool regular;        // an ordinary file (not a folder, device, pipe, ...)
  std::uint64_t size;  // its length in bytes, 64-bit on every system
};

// The process's standard input, switched to binary mode where the system
// has a text mode (Windows), for reading a picture from it.
DWT97_API std::FILE* binaryStandardInput();

// The output path that names the process's standard output: a save created
// on exactly this pointer (its address, not its text "-", so that a file
// named "-" stays a file) writes to standard output in place, appending
// only, whatever it is (a terminal, a pipe, a regular file the shell
// opened), and leaves it open at the end.
DWT97_API const char* standardOutputPath();

// The facts about an open file; false when the system cannot tell them.
bool fileFacts(std::FILE* file, FileFacts* facts);

// Whether the two paths name one existing file, whatever their spelling
// (links, "." and "..", case on Windows): POSIX compares device and inode,
// Windows the volume serial number and file index. False when either path
// names nothing.
DWT97_API bool sameFile(const char* pathA, const char* pathB);

// One piece of a gathered write.
struct WritePiece {
  const void* bytes;
  std::size_t count;
};

// The save of one output file through a temporary file beside it (same
// folder, "<name>.XXXXXX", the name shortened to fit the file system's
// limit), which replaces the output in one step only once complete: a
// reader sees the older file or the new one, never a part. Where the system
// makes files with no name (Linux's O_TMPFILE, on file systems that take it)
// the temporary has none until the commit, which links it under that name
// and renames it over the output at once (or, for an output that does not
// exist yet, links it under the output's own name), with the interrupts held: nothing
// is left of it however the process ends, SIGKILL included, but for a kill
// in that instant. Elsewhere it is named from the start.
//
// What the output path names decides how:
// - a device, a pipe or a socket, links followed (/dev/null, /dev/stdout, a
//   FIFO): opened through the path as given and written in place,
//   appending only, with no temporary (inPlace()). A link's own text may
//   name no file (/dev/stdout into a pipe ends at "pipe:[N]").
// - nothing yet, or a regular file: the temporary replaces it. A replaced
//   file's permission bits are kept (and, for root, its owner and group
//   where the system allows); a new one gets what a plain create gives. A
//   file the user may not write is refused as a plain create would be.
//   Replacing makes a new file: other hard links keep the old contents.
// - a symbolic link to a regular file or to nothing: followed through its
//   chain to the file it names (a dangling link's target is created); the
//   temporary goes beside that file and the links stay links.
// - a folder: refused.
//
// The temporary never outlives a failure: every failing step and abort()
// remove it. A named one is also removed by the process ending through
// exit() with a save still open, and by an interrupt while it exists (on
// POSIX systems SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM, SIGALRM, SIGXCPU,
// SIGXFSZ, SIGVTALRM and SIGPROF where they would end the process, which
// they then do as they would have; signals the process ignores stay ignored
// and handlers the caller installed are left alone; on Windows Ctrl+C,
// Ctrl+Break, closing the console, or the process ending in any way before
// the commit). Any
// number of saves may be open at once. A file-size limit or a reader gone
// (POSIX) fails the write rather than killing the process: SIGXFSZ and
// SIGPIPE are held for the writing thread alone while it writes.
//
// Saves on several threads at once are safe, each with its own object; one
// object's writes go from one thread, except writeAt().
//
// Every step returns its failure (saveCreate, saveWrite or outOfMemory), or
// nothing:
//
//   SaveFile save;
//   if (auto failure = save.create(path)) ...                 // cannot be created
//   if (auto failure = save.write(bytes, n)) { save.abort(); ... }
//   if (auto failure = save.finish()) { save.abort(); ... }
//   if (auto failure = save.commit()) ...                     // cannot be put in place
class SaveFile {
 public:
  SaveFile() = default;
  ~SaveFile() { abort(); }
  SaveFile(const SaveFile&) = delete;
  SaveFile& operator=(const SaveFile&) = delete;

  // Creates the empty temporary beside `path` (or opens a special file in
  // place): saveCreate when it cannot be created (no such folder, no
  // permission, a folder or a read-only file at `path`), outOfMemory.
  [[nodiscard]] std::optional<Failure> create(const char* path);

  // Whether the output is written in place (a device, a pipe): the
  // appending writes only; writeAt() and writeGatheredAt() fail.
  bool inPlace() const;

  // Appends `count` bytes. saveWrite on any failure (disk full, size limit).
  [[nodiscard]] std::optional<Failure> write(const void* bytes, std::size_t count);

  // Appends the pieces in order, in as few system calls as the system allows.
  [[nodiscard]] std::optional<Failure> writeGathered(const WritePiece* pieces, std::size_t count);

  // Writes `count` bytes at `offset` from the start of the file, leaving
  // the append position undefined: for writers that fill disjoint ranges,
  // from several threads if they like. Do not mix with the appending writes.
  [[nodiscard]] std::optional<Failure> writeAt(std::uint64_t offset, const void* bytes,
                                               std::size_t count);

  // writeAt() of the pieces one after the other from `offset`, in as few
  // system calls as the system allows.
  [[nodiscard]] std::optional<Failure> writeGatheredAt(std::uint64_t offset,
                                                       const WritePiece* pieces, std::size_t count);

  // Ends the writing: every byte is handed to the system. saveWrite when a
  // late write failure shows here (a temporary with no name stays open, for
  // the commit to close once it has one).
  [[nodiscard]] std::optional<Failure> finish();

  // Replaces `path` by the finished temporary in one step (for an output
  // written in place: closes it). On failure (saveCreate: a folder holds the
  // name, no permission, a late write failure) the temporary is removed and
  // `path` left as it was.
  [[nodiscard]] std::optional<Failure> commit();

  // Removes the temporary, if there is one; the output is left as it was.
  void abort();

 private:
  struct State;  // per system
  State* state_ = nullptr;
};

// The tool's choice, made once at its start: once an output of its is in
// place, nothing is left to lose, so from each commit's rename on the
// interrupts are held for the committing thread and the process ends with
// the run's own status rather than being killed with its work done.
DWT97_API void holdInterruptsAfterCommit();

// The tool's choice for a batch, made once: the interrupt handlers stay in
// place from now on rather than coming and going with each save's
// temporary (a signal still ends the process as it would have, after the
// registered temporaries are removed).
DWT97_API void keepInterruptHandlers();

// For the tests: whether the saves that follow may take a temporary with no
// name where the system has them (the default), or named ones only, so that
// the named temporaries and their registry are tested on every system.
void allowUnnamedTemporaries(bool allow);

// Waits for one key press when someone can press one: with standard input a
// terminal (a console on Windows), prompts "Press any key to continue . . . "
// on standard error and waits for one key without Enter and without echo,
// then ends the prompt's line. The terminal's settings are put back, also
// when an interrupt ends the wait; an interrupt that would end the process
// does so as usual (removing any open save's temporary), one it ignores
// stays ignored. Otherwise returns at once, silently.
DWT97_API void pauseForKey();

// Whether standard error is a terminal (a console on Windows), where a
// progress line may be drawn and redrawn.
DWT97_API bool standardErrorIsTerminal();

// Pages for a large zero-filled block of `length` bytes, a multiple of
// `alignment`, starting at a multiple of `alignment` and offered to the
// system for huge pages; null where the system maps no such pages or
// refuses. Released with unmapPages().
void* mapHugePages(std::size_t length, std::size_t alignment);

// How many processors this process may run on (its affinity), at least 1.
int usableProcessors();
void unmapPages(void* block, std::size_t length);

}  // namespace detail
}  // namespace dwt97
