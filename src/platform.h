// Internal: everything that differs between operating systems, behind one
// interface. platform_posix.cpp serves Linux, macOS and the BSDs,
// platform_windows.cpp serves Windows; the build compiles exactly one.
//
// Paths are UTF-8 everywhere: on Windows they are converted to UTF-16 and
// opened through the wide file calls, so any file name the system allows
// works; elsewhere they go to the system as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace dwt97 {
namespace detail {

// Replaces the program's arguments by their UTF-8 spelling, once, at the top
// of main(). On Windows they are taken from the wide command line (the
// narrow argv holds them in the ANSI code page, with characters outside it
// lost); elsewhere argc and argv stay as they are. The strings live until the
// process ends.
void utf8Arguments(int* argc, char*** argv);

// Opens the file at `path` for reading in binary mode, or returns null. A
// folder opens too (on Windows as well), so that fileFacts() can tell the
// caller it is not a regular file.
std::FILE* openForReading(const char* path);

struct FileFacts {
  bool regular;        // an ordinary file (not a folder, device, pipe, ...)
  std::uint64_t size;  // its length in bytes, 64-bit on every system
};

// The facts about an open file; false when the system cannot tell them.
bool fileFacts(std::FILE* file, FileFacts* facts);

// Whether the two paths name one existing file, whatever their spelling
// (links, "." and "..", case on Windows): POSIX compares device and inode,
// Windows the volume serial number and file index. False when either path
// names nothing.
bool sameFile(const char* pathA, const char* pathB);

// One piece of a gathered write.
struct WritePiece {
  const void* bytes;
  std::size_t count;
};

// The save of one output file through a temporary file beside it (same
// folder, "<path>.XXXXXX"), which replaces `path` in one step only once
// complete: a reader sees the older file or the new one, never a part. The
// temporary gets the permissions a plain create would give the output.
//
// The temporary never outlives a failure: every failing step and abort()
// remove it, and so does an interrupt while it exists (SIGINT, SIGTERM or
// SIGHUP on POSIX systems, which then end the process as they would have;
// on Windows Ctrl+C, Ctrl+Break, closing the console, or the process ending
// in any way before the commit). A file-size limit (POSIX) fails the write
// rather than killing the process: SIGXFSZ is held for the writing thread
// alone while it writes.
//
// Saves on several threads at once are safe, each with its own object; one
// object's writes go from one thread, except writeAt().
//
//   SaveFile save;
//   if (save.create(path) != SaveFile::Start::created) ...   // cannot be created
//   if (!save.write(bytes, n) || !save.finish()) { save.abort(); ... }
//   if (!save.commit()) ...                                  // cannot be put in place
class SaveFile {
 public:
  enum class Start { created, failed, outOfMemory };

  SaveFile() = default;
  ~SaveFile() { abort(); }
  SaveFile(const SaveFile&) = delete;
  SaveFile& operator=(const SaveFile&) = delete;

  // Creates the empty temporary beside `path`: failed when it cannot be
  // created (no such folder, no permission).
  Start create(const char* path);

  // Appends `count` bytes. False on any failure (disk full, size limit).
  bool write(const void* bytes, std::size_t count);

  // Appends the pieces in order, in as few system calls as the system allows.
  bool writeGathered(const WritePiece* pieces, std::size_t count);

  // Writes `count` bytes at `offset` from the start of the file, leaving
  // the append position undefined: for writers that fill disjoint ranges,
  // from several threads if they like. Do not mix with the appending writes.
  bool writeAt(std::uint64_t offset, const void* bytes, std::size_t count);

  // writeAt() of the pieces one after the other from `offset`, in as few
  // system calls as the system allows.
  bool writeGatheredAt(std::uint64_t offset, const WritePiece* pieces, std::size_t count);

  // Ends the writing: every byte is handed to the system. False when a late
  // write failure shows here.
  bool finish();

  // Replaces `path` by the finished temporary in one step. On failure (a
  // folder holds the name, no permission) the temporary is removed and
  // `path` left as it was.
  bool commit();

  // Removes the temporary, if there is one; the output is left as it was.
  void abort();

 private:
  struct State;  // per system
  State* state_ = nullptr;
};

// Waits for one key press when someone can press one: with standard input a
// terminal (a console on Windows), prompts "Press any key to continue . . . "
// on standard error and waits for one key without Enter and without echo,
// then ends the prompt's line. The terminal's settings are put back, also
// when a signal ends the wait; Ctrl+C ends the process as usual. Otherwise
// returns at once, silently.
void pauseForKey();

}  // namespace detail
}  // namespace dwt97
