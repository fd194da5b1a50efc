// Internal to the platform layer: the small per-system primitives that
// platform_common.cpp builds its one policy on (the save through a
// temporary, the registry of temporaries, the rule for special files, the
// pause). platform_posix.cpp and platform_windows.cpp each define them for
// their systems; nothing outside the three platform files includes this.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace dwt97::detail::sys {

#if defined(_WIN32)
using PathChar = wchar_t;  // paths go to the wide calls
#else
using PathChar = char;  // paths go to the system as they are
#endif

// An open file of the system (a descriptor or a handle) as an integer.
using Native = std::intptr_t;
constexpr Native kNoFile = -1;

// The longest name of one folder entry the file systems take, in PathChars.
constexpr std::size_t kNameLimit = 255;

// The system's spelling of the UTF-8 `path`, from malloc, or null: when
// memory runs out (*outOfMemory set) or the text names no file here.
PathChar* nativePath(const char* path, bool* outOfMemory);

// The name a write to `path` lands on, from malloc: `path` itself, or the
// file at the end of its chain of symbolic links (a dangling link's target
// too), so that a replacement goes beside that file and the links stay
// links. Null when memory runs out (*outOfMemory set) or the chain loops.
PathChar* finalName(const PathChar* path, bool* outOfMemory);

// Where a folder entry's own name starts in `path`.
const PathChar* baseName(const PathChar* path);

// What an output path names now, links followed.
enum class Target {
  missing,  // nothing yet (or nothing the system can tell of): created anew
  regular,  // an ordinary file the user may write: replaced
  special,  // a device, a pipe or a socket: written in place
  refused,  // a folder, or a file the user may not write
};
struct TargetFacts {
  Target kind = Target::missing;
  // Of a regular file, what its replacement keeps.
  std::uint32_t mode = 0;
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
};
TargetFacts inspect(const PathChar* path);

// Creates the new file `path` for writing, failing when the name is taken
// (*taken set, the caller tries another). A replacement takes what `keep`
// says of the file it replaces, where the system allows. The file is
// removed should the process end before replace() (Windows).
Native createExclusive(const PathChar* path, const TargetFacts& keep, bool* taken);

// Creates a file with no name yet in the folder of `target`, for writing:
// nothing is left of it however the process ends until nameUnnamed() gives
// it a name. It gets what createExclusive() gives. kNoFile where the system
// or that folder's file system has no such files, or cannot name them later:
// the caller then takes a named temporary.
Native createUnnamed(const PathChar* target, const TargetFacts& keep);

// Gives the open file from createUnnamed() the new name `path` (in the
// folder it was made in), failing when the name is taken (*taken set, the
// caller tries another).
bool nameUnnamed(Native file, const PathChar* path, bool* taken);

// Opens the existing special file `path` for writing where it stands.
Native openInPlace(const PathChar* path);

// A descriptor (handle) of its own on the process's standard output, for
// writing in place; closing it leaves standard output open.
Native openStandardOutput();
// Writes from the start of pieces[0 .. count), in order, at `*offset` when
// not null (else where the last write ended). Returns the bytes written (at
// least one unless the call failed), or -1. kGathers says whether one call
// can take more than the first piece.
std::int64_t writeSome(Native file, const WritePiece* pieces, std::size_t count,
                       const std::uint64_t* offset);
extern const bool kGathers;

// Hold, for the calling thread, the signals a write can raise (a file-size
// limit, a reader gone), so that the write fails instead of the process
// ending half-way; release() takes back one that a write raised meanwhile.
void holdWriteSignals();
void releaseWriteSignals();

// Whether a finished temporary is closed before it replaces the output (a
// system that removes it on close keeps it open until replace()).
extern const bool kCloseBeforeReplace;

// Closes `*file` (every byte handed to the system) and sets it to kNoFile.
bool closeFile(Native* file);

// Puts the finished `temporary` in place of `target` in one step; `*file` is
// the temporary's, if still open. False leaves `target` as it was.
bool replace(Native* file, const PathChar* temporary, const PathChar* target);

// Closes `file` (kNoFile: none) and removes `temporary` (null: none).
void discard(Native file, const PathChar* temporary);

// Removes the file `path`; async-signal-safe.
void removePath(const PathChar* path);

// Installs the handlers that end the process cleanly on an interrupt (the
// registered temporaries removed, the terminal put back), or puts back what
// was there before; called when the first reason to have them appears and
// when the last goes.
void cleanupHandlers(bool install);

// Holds the interrupts for the calling thread, and lets them go again.
void holdInterrupts();
void releaseInterrupts();

// Bits that differ from call to call and from process to process.
std::uint64_t entropy();

// Whether a person can press a key: standard input is a terminal (a console).
bool keyboardAttached();

// Waits for one key without Enter and without echo; the terminal's settings
// are put back afterwards, also should an interrupt end the wait.
void waitForKey();

}  // namespace dwt97::detail::sys

namespace dwt97::detail {

// The registry of temporaries (platform_common.cpp), for the systems'
// interrupt handlers: removes every temporary that exists now.
// Async-signal-safe.
void removeRegisteredTemporaries();

}  // namespace dwt97::detail
