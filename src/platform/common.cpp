// The platform layer's policy, written once over the per-system primitives
// of platform_system.h: the registry of temporaries, the save through a
// temporary (or in place for special files), and the pause. See platform.h.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/platform.h"
#include "platform/system.h"
#include "platform/temporary_names.h"

namespace dwt97 {
namespace detail {

using sys::Native;
using sys::PathChar;

// ---- The registry of temporaries -----------------------------------------
//
// Every temporary that exists is in a slot, for an interrupt handler (or the
// process ending through exit()) to remove. Slots come in blocks linked one
// after another; a block, once linked, stays for the life of the process, so
// a handler can walk them with atomic loads alone, whatever another thread
// is doing, and any number of saves can be open at once.

namespace {

struct SlotBlock {
  static constexpr int kSlots = 32;
  std::atomic<const PathChar*> slots[kSlots]{};  // every slot empty
  std::atomic<SlotBlock*> next{nullptr};
};
SlotBlock firstBlock;

// Guards the registering, the unregistering and the count of reasons to have
// the interrupt handlers installed (open temporaries and a waiting pause).
std::mutex registryLock;
int handlerReasons = 0;
bool removalAtExit = false;

void removeAtExit() { removeRegisteredTemporaries(); }

// With the lock held.
void addHandlerReason() {
  if (handlerReasons++ == 0) sys::cleanupHandlers(true);
}
void dropHandlerReason() {
  if (--handlerReasons == 0) sys::cleanupHandlers(false);
}

// Registers `path`; outOfMemory when memory for another block runs out.
std::optional<Failure> registerTemporary(const PathChar* path) {
  const std::lock_guard<std::mutex> hold(registryLock);
  SlotBlock* block = &firstBlock;
  for (;;) {
    for (std::atomic<const PathChar*>& slot : block->slots) {
      if (slot.load() == nullptr) {
        slot.store(path);
        addHandlerReason();
        if (!removalAtExit) removalAtExit = std::atexit(removeAtExit) == 0;
        return std::nullopt;
      }
    }
    SlotBlock* next = block->next.load();
    if (next == nullptr) {
      next = new (std::nothrow) SlotBlock();
      if (next == nullptr) return Failure::outOfMemory;
      block->next.store(next);
    }
    block = next;
  }
}

void unregisterTemporary(const PathChar* path) {
  const std::lock_guard<std::mutex> hold(registryLock);
  for (SlotBlock* block = &firstBlock; block != nullptr; block = block->next.load()) {
    for (std::atomic<const PathChar*>& slot : block->slots) {
      const PathChar* expected = path;
      if (slot.compare_exchange_strong(expected, nullptr)) {
        dropHandlerReason();
        return;
      }
    }
  }
}

// The threads between giving a temporary its name and registering it. An
// interrupt's cleanup on another thread waits for them (they hold the
// interrupts themselves, so it never runs on theirs), and the handlers are
// in place meanwhile: otherwise a thread could be killed with a name that
// nothing would remove.
std::atomic<int> threadsNaming{0};

class NamingWindow {
 public:
  NamingWindow() {
    {
      const std::lock_guard<std::mutex> hold(registryLock);
      addHandlerReason();
    }
    threadsNaming.fetch_add(1);
  }
  ~NamingWindow() {
    threadsNaming.fetch_sub(1);
    const std::lock_guard<std::mutex> hold(registryLock);
    dropHandlerReason();
  }
  NamingWindow(const NamingWindow&) = delete;
  NamingWindow& operator=(const NamingWindow&) = delete;
};

}  // namespace

void removeRegisteredTemporaries() {
  // Lock-free waiting, as a signal handler may: the other thread's window
  // is a few system calls.
  while (threadsNaming.load() > 0) {
  }
  for (SlotBlock* block = &firstBlock; block != nullptr; block = block->next.load()) {
    for (std::atomic<const PathChar*>& slot : block->slots) {
      if (const PathChar* path = slot.load()) sys::removePath(path);
    }
  }
}

// ---- The save --------------------------------------------------------------

namespace {

std::atomic<bool> interruptsHeldAfterCommit{false};
std::atomic<bool> unnamedAllowed{true};

// The write signals held for a scope.
class WriteSignalsHeld {
 public:
  WriteSignalsHeld() { sys::holdWriteSignals(); }
  ~WriteSignalsHeld() { sys::releaseWriteSignals(); }
  WriteSignalsHeld(const WriteSignalsHeld&) = delete;
  WriteSignalsHeld& operator=(const WriteSignalsHeld&) = delete;
};

// Hands every byte of the pieces to the file, going on after a partial
// write from where it stopped, at `*offset` (advanced) when not null;
// saveWrite when the system refuses a write.
std::optional<Failure> sendAll(Native file, const WritePiece* pieces, std::size_t count,
                               std::uint64_t* offset) {
  constexpr std::size_t kBatch = 1024;  // IOV_MAX on Linux and macOS
  WritePiece batch[kBatch];
  std::size_t next = 0;
  while (next < count) {
    std::size_t used = 0;
    for (; used < kBatch && next < count; ++next) {
      if (pieces[next].count > 0) batch[used++] = pieces[next];
    }
    WritePiece* piece = batch;
    while (used > 0) {
      const std::int64_t wrote = sys::writeSome(file, piece, used, offset);
      if (wrote <= 0) return Failure::saveWrite;
      if (offset != nullptr) *offset += static_cast<std::uint64_t>(wrote);
      std::size_t left = static_cast<std::size_t>(wrote);
      while (used > 0 && left >= piece->count) {
        left -= piece->count;
        ++piece;
        --used;
      }
      if (used > 0) {
        piece->bytes = static_cast<const char*>(piece->bytes) + left;
        piece->count -= left;
      }
    }
  }
  return std::nullopt;
}

// sendAll() for a system whose write takes one buffer at a time: small
// pieces (rows) are gathered into a chunk first, so that a picture of narrow
// rows is not written a row per call.
std::optional<Failure> sendGathered(Native file, const WritePiece* pieces, std::size_t count,
                                    std::uint64_t* offset) {
  if (sys::kGathers) return sendAll(file, pieces, count, offset);
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  char* chunk = static_cast<char*>(std::malloc(kChunk));
  if (chunk == nullptr) return sendAll(file, pieces, count, offset);
  std::size_t used = 0;
  std::optional<Failure> failure;
  auto flush = [&] {
    const WritePiece gathered{chunk, used};
    if (!failure) failure = sendAll(file, &gathered, 1, offset);
    used = 0;
  };
  for (std::size_t k = 0; !failure && k < count; ++k) {
    if (pieces[k].count >= kChunk) {
      flush();
      if (!failure) failure = sendAll(file, &pieces[k], 1, offset);
      continue;
    }
    if (used + pieces[k].count > kChunk) flush();
    std::memcpy(chunk + used, pieces[k].bytes, pieces[k].count);
    used += pieces[k].count;
  }
  flush();
  std::free(chunk);
  return failure;
}

}  // namespace

struct SaveFile::State {
  PathChar* target;     // where the output lands, links followed (null: in place)
  PathChar* temporary;  // its temporary's name (null when written in place)
  std::size_t suffix;   // where the temporary's letters start
  Native file;
  bool unnamed;     // the temporary has no name yet (until the commit)
  bool created;     // the temporary's name exists (until renamed or removed)
  bool registered;  // and is in the registry
  bool finished;
};

namespace {
const char kStandardOutput[] = "-";
}  // namespace

const char* standardOutputPath() { return kStandardOutput; }

std::optional<Failure> SaveFile::create(const char* path) {
  abort();
  if (path == kStandardOutput) {
    // Standard output as it stands: no temporary, nothing to replace.
    std::fflush(stdout);
    const Native file = sys::openStandardOutput();
    if (file == sys::kNoFile) return Failure::saveCreate;
    state_ = static_cast<State*>(std::calloc(1, sizeof(State)));
    if (state_ == nullptr) {
      sys::discard(file, nullptr);
      return Failure::outOfMemory;
    }
    state_->file = file;
    return std::nullopt;
  }
  bool outOfMemory = false;
  PathChar* named = sys::nativePath(path, &outOfMemory);
  auto* state = static_cast<State*>(std::calloc(1, sizeof(State)));
  if (named == nullptr || state == nullptr) {
    std::free(named);
    std::free(state);
    return outOfMemory || state == nullptr ? Failure::outOfMemory : Failure::saveCreate;
  }
  state->file = sys::kNoFile;
  state_ = state;

  // A device, a pipe or a socket, wherever a chain of links leads, is opened
  // through the path as given: the chain's last step may name no file at
  // all (/dev/stdout into a pipe ends at "pipe:[N]"). Anything else is seen
  // where the chain ends, as its replacement will be.
  sys::TargetFacts facts = sys::inspect(named);
  if (facts.kind != sys::Target::special) {
    state->target = sys::finalName(named, &outOfMemory);
    if (state->target != nullptr) facts = sys::inspect(state->target);
  }
  if (facts.kind == sys::Target::special) {
    state->file = sys::openInPlace(state->target != nullptr ? state->target : named);
  }
  std::free(named);
  if (state->target == nullptr && state->file == sys::kNoFile) {
    abort();
    return outOfMemory ? Failure::outOfMemory : Failure::saveCreate;
  }
  if (facts.kind == sys::Target::refused ||
      (facts.kind == sys::Target::special && state->file == sys::kNoFile)) {
    abort();
    return Failure::saveCreate;
  }
  if (facts.kind == sys::Target::special) return std::nullopt;

  state->temporary = temporaryBeside(state->target, &state->suffix);
  if (state->temporary == nullptr) {
    abort();
    return Failure::outOfMemory;
  }
  // Best a file with no name, which nothing can leave behind; it takes its
  // name (in the same form) at the commit.
  if (unnamedAllowed.load()) {
    state->file = sys::createUnnamed(state->target, facts);
    state->unnamed = state->file != sys::kNoFile;
    if (state->unnamed) return std::nullopt;
  }
  // Interrupts wait while the temporary is created and registered, here
  // and (the naming window) on every other thread, so that none is ever
  // left unregistered.
  sys::holdInterrupts();
  {
    const NamingWindow window;
    for (int attempt = 0; attempt < 100 && state->file == sys::kNoFile; ++attempt) {
      fillLetters(state->temporary, state->suffix);
      bool taken = false;
      state->file = sys::createExclusive(state->temporary, facts, &taken);
      if (!taken) break;
    }
    state->created = state->file != sys::kNoFile;
    if (state->created) state->registered = !registerTemporary(state->temporary);
  }
  sys::releaseInterrupts();
  if (!state->created) {
    abort();
    return Failure::saveCreate;
  }
  if (!state->registered) {
    abort();
    return Failure::outOfMemory;
  }
  return std::nullopt;
}

bool SaveFile::inPlace() const { return state_ != nullptr && state_->temporary == nullptr; }

namespace {

// Gives an unnamed temporary its name, which is registered for the instant
// before it replaces the output; saveCreate when it cannot be named.
std::optional<Failure> nameTemporary(PathChar* temporary, std::size_t suffix, Native file,
                                     bool* registered) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    fillLetters(temporary, suffix);
    bool taken = false;
    if (sys::nameUnnamed(file, temporary, &taken)) {
      // Without room in the registry the name goes on regardless: the
      // caller holds the interrupts.
      *registered = !registerTemporary(temporary);
      return std::nullopt;
    }
    if (!taken) break;
  }
  return Failure::saveCreate;
}

}  // namespace

std::optional<Failure> SaveFile::write(const void* bytes, std::size_t count) {
  const WritePiece piece{bytes, count};
  return writeGathered(&piece, 1);
}

std::optional<Failure> SaveFile::writeGathered(const WritePiece* pieces, std::size_t count) {
  if (state_ == nullptr || state_->finished || state_->file == sys::kNoFile) {
    return Failure::saveWrite;
  }
  const WriteSignalsHeld held;
  return sendGathered(state_->file, pieces, count, nullptr);
}

std::optional<Failure> SaveFile::writeAt(std::uint64_t offset, const void* bytes,
                                         std::size_t count) {
  const WritePiece piece{bytes, count};
  return writeGatheredAt(offset, &piece, 1);
}

std::optional<Failure> SaveFile::writeGatheredAt(std::uint64_t offset, const WritePiece* pieces,
                                                 std::size_t count) {
  if (state_ == nullptr || state_->finished || state_->file == sys::kNoFile || inPlace()) {
    return Failure::saveWrite;
  }
  const WriteSignalsHeld held;
  return sendAll(state_->file, pieces, count, &offset);
}

std::optional<Failure> SaveFile::finish() {
  if (state_ == nullptr || state_->finished || state_->file == sys::kNoFile) {
    return Failure::saveWrite;
  }
  state_->finished = true;
  // An unnamed temporary stays open until it has its name (the commit
  // closes it then, before it replaces the output, for any late failure).
  if (!inPlace() && (!sys::kCloseBeforeReplace || state_->unnamed)) return std::nullopt;
  const WriteSignalsHeld held;
  if (!sys::closeFile(&state_->file)) return Failure::saveWrite;
  return std::nullopt;
}

std::optional<Failure> SaveFile::commit() {
  if (state_ == nullptr || !state_->finished) return Failure::saveCreate;
  if (inPlace()) {
    abort();
    return std::nullopt;
  }
  sys::holdInterrupts();
  std::optional<Failure> failure;
  if (state_->unnamed) {
    // A new output takes its name at once: there is nothing to replace, so
    // no temporary name is needed (one step on the file system, not two).
    // Should the last close fail, the new file goes again.
    bool taken = false;
    if (sys::nameUnnamed(state_->file, state_->target, &taken)) {
      state_->unnamed = false;
      if (sys::kCloseBeforeReplace) {
        const WriteSignalsHeld held;
        if (!sys::closeFile(&state_->file)) {
          sys::removePath(state_->target);
          failure = Failure::saveCreate;
        }
      }
      abort();
      if (failure || !interruptsHeldAfterCommit.load()) sys::releaseInterrupts();
      return failure;
    }
    const NamingWindow window;
    failure = nameTemporary(state_->temporary, state_->suffix, state_->file, &state_->registered);
    state_->created = !failure;
    state_->unnamed = false;
    if (!failure && sys::kCloseBeforeReplace) {
      const WriteSignalsHeld held;
      if (!sys::closeFile(&state_->file)) failure = Failure::saveCreate;
    }
  }
  if (!failure && !sys::replace(&state_->file, state_->temporary, state_->target)) {
    failure = Failure::saveCreate;
  }
  // The name is free again: nothing must remove a new file that takes it.
  if (!failure) state_->created = false;
  abort();
  if (failure || !interruptsHeldAfterCommit.load()) sys::releaseInterrupts();
  return failure;
}

void SaveFile::abort() {
  if (state_ == nullptr) return;
  sys::discard(state_->file, state_->created ? state_->temporary : nullptr);
  if (state_->registered) unregisterTemporary(state_->temporary);
  std::free(state_->target);
  std::free(state_->temporary);
  std::free(state_);
  state_ = nullptr;
}

void holdInterruptsAfterCommit() { interruptsHeldAfterCommit.store(true); }

void keepInterruptHandlers() {
  static bool kept = false;
  const std::lock_guard<std::mutex> hold(registryLock);
  if (!kept) addHandlerReason();
  kept = true;
}

void allowUnnamedTemporaries(bool allow) { unnamedAllowed.store(allow); }

// ---- The pause -------------------------------------------------------------

void pauseForKey() {
  if (!sys::keyboardAttached()) return;
  std::fputs("Press any key to continue . . . ", stderr);
  std::fflush(stderr);
  std::fflush(stdout);
  {
    const std::lock_guard<std::mutex> hold(registryLock);
    addHandlerReason();
  }
  sys::waitForKey();
  {
    const std::lock_guard<std::mutex> hold(registryLock);
    dropHandlerReason();
  }
  std::fputs("\n", stderr);
}

}  // namespace detail
}  // namespace dwt97
