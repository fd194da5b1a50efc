// The platform layer on Windows: see platform.h. Every path is converted
// from UTF-8 to UTF-16 and goes to the wide calls.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>

#include "platform.h"

namespace dwt97 {
namespace detail {

namespace {

// The UTF-16 spelling of a UTF-8 string, from malloc (free it), or null when
// the text is not UTF-8 or memory runs out.
wchar_t* toWide(const char* utf8) {
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
  if (length <= 0) return nullptr;
  wchar_t* wide = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * length));
  if (wide == nullptr) return nullptr;
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide, length) != length) {
    std::free(wide);
    return nullptr;
  }
  return wide;
}

bool isUtf8(const char* text) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0) > 0;
}

// The UTF-8 spelling of a UTF-16 string, from malloc, or null.
char* toUtf8(const wchar_t* wide) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return nullptr;
  char* utf8 = static_cast<char*>(std::malloc(length));
  if (utf8 == nullptr) return nullptr;
  if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, length, nullptr, nullptr) != length) {
    std::free(utf8);
    return nullptr;
  }
  return utf8;
}

// Opens `path` with no access beyond its attributes (folders too), or
// returns INVALID_HANDLE_VALUE.
HANDLE openForFacts(const char* path) {
  wchar_t* wide = toWide(path);
  if (wide == nullptr) return INVALID_HANDLE_VALUE;
  HANDLE handle = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  std::free(wide);
  return handle;
}

}  // namespace

void utf8Arguments(int* argc, char*** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr || count < 1) return;  // keep the narrow ones
  char** utf8 = static_cast<char**>(std::calloc(static_cast<std::size_t>(count) + 1, sizeof(char*)));
  if (utf8 == nullptr) return;
  for (int k = 0; k < count; ++k) {
    utf8[k] = toUtf8(wide[k]);
    if (utf8[k] == nullptr) return;  // keep the narrow ones (only when memory runs out)
  }
  LocalFree(wide);
  *argc = count;
  *argv = utf8;
}

std::FILE* openForReading(const char* path) {
  wchar_t* wide = toWide(path);
  if (wide == nullptr) return nullptr;
  // Backup semantics lets a folder open as well, so that the caller can be
  // told it is not a regular file rather than that it cannot be opened.
  // Others may still read, write, rename or remove the file meanwhile, as
  // on POSIX systems.
  HANDLE handle = CreateFileW(wide, GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  std::free(wide);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "rb");
  if (file == nullptr) _close(fd);  // closes the handle too
  return file;
}

bool fileFacts(std::FILE* file, FileFacts* facts) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info)) {
    facts->regular = false;  // a console, a pipe, a device
    facts->size = 0;
    return true;
  }
  facts->regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  facts->size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  return true;
}

bool sameFile(const char* pathA, const char* pathB) {
  HANDLE a = openForFacts(pathA);
  HANDLE b = openForFacts(pathB);
  BY_HANDLE_FILE_INFORMATION infoA, infoB;
  const bool same = a != INVALID_HANDLE_VALUE && b != INVALID_HANDLE_VALUE &&
                    GetFileInformationByHandle(a, &infoA) &&
                    GetFileInformationByHandle(b, &infoB) &&
                    infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
                    infoA.nFileIndexHigh == infoB.nFileIndexHigh &&
                    infoA.nFileIndexLow == infoB.nFileIndexLow;
  if (a != INVALID_HANDLE_VALUE) CloseHandle(a);
  if (b != INVALID_HANDLE_VALUE) CloseHandle(b);
  return same;
}

// ---- The save ------------------------------------------------------------
//
// The temporary is created with "delete when closed" set on its handle, so
// the system removes it however the process ends (Ctrl+C, the console
// closed, the process killed) until the commit clears that mark, closes the
// handle and moves the file over the output. For the instant between the
// two, a console control handler removes any temporary still registered.

namespace {

constexpr int kPendingSlots = 8;
std::atomic<const wchar_t*> pendingTemporaries[kPendingSlots];
std::mutex pendingLock;
int pendingCount = 0;

BOOL WINAPI removeTemporaries(DWORD) {
  for (std::atomic<const wchar_t*>& slot : pendingTemporaries) {
    if (const wchar_t* path = slot.load()) DeleteFileW(path);
  }
  return FALSE;  // the next handler (in the end the system's) ends the process
}

bool registerTemporary(const wchar_t* path) {
  const std::lock_guard<std::mutex> hold(pendingLock);
  for (std::atomic<const wchar_t*>& slot : pendingTemporaries) {
    if (slot.load() == nullptr) {
      slot.store(path);
      if (pendingCount++ == 0) SetConsoleCtrlHandler(removeTemporaries, TRUE);
      return true;
    }
  }
  return false;
}

void unregisterTemporary(const wchar_t* path) {
  const std::lock_guard<std::mutex> hold(pendingLock);
  for (std::atomic<const wchar_t*>& slot : pendingTemporaries) {
    const wchar_t* expected = path;
    if (slot.compare_exchange_strong(expected, nullptr)) {
      if (--pendingCount == 0) SetConsoleCtrlHandler(removeTemporaries, FALSE);
      return;
    }
  }
}

bool markForDeletion(HANDLE handle, bool remove) {
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = remove ? TRUE : FALSE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

}  // namespace

struct SaveFile::State {
  wchar_t* target;
  wchar_t* temporary;
  HANDLE handle;
  bool created;  // the temporary exists (until moved or removed)
  bool registered;
  bool finished;
};

SaveFile::Start SaveFile::create(const char* path) {
  abort();
  State* state = static_cast<State*>(std::calloc(1, sizeof(State)));
  wchar_t* target = toWide(path);
  const std::size_t length = target == nullptr ? 0 : std::wcslen(target);
  wchar_t* temporary = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * (length + 8)));
  if (state == nullptr || target == nullptr || temporary == nullptr) {
    std::free(state);
    std::free(target);
    std::free(temporary);
    // A path that is not UTF-8 names no file that can be created.
    return target == nullptr && std::strlen(path) > 0 && !isUtf8(path) ? Start::failed
                                                                        : Start::outOfMemory;
  }
  state->target = target;
  state->temporary = temporary;
  state->handle = INVALID_HANDLE_VALUE;
  state_ = state;

  // "<path>.XXXXXX" with six letters or digits not taken yet.
  static const wchar_t kLetters[] =
      L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::atomic<unsigned> attempts{0};
  std::uint64_t seed = GetTickCount64() ^ (std::uint64_t{GetCurrentProcessId()} << 32) ^
                       reinterpret_cast<std::uintptr_t>(state);
  std::wmemcpy(temporary, target, length);
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = (seed ^ attempts++) * 6364136223846793005ull + 1442695040888963407ull;
    temporary[length] = L'.';
    std::uint64_t bits = seed >> 16;
    for (int k = 1; k <= 6; ++k, bits /= 62) temporary[length + k] = kLetters[bits % 62];
    temporary[length + 7] = L'\0';
    state->handle = CreateFileW(temporary, GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (state->handle != INVALID_HANDLE_VALUE) break;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  if (state->handle == INVALID_HANDLE_VALUE) {
    abort();
    return Start::failed;
  }
  state->created = true;
  state->registered = registerTemporary(temporary);
  if (!markForDeletion(state->handle, true)) {
    abort();
    return Start::failed;
  }
  return Start::created;
}

bool SaveFile::write(const void* bytes, std::size_t count) {
  if (state_ == nullptr || state_->finished) return false;
  const char* at = static_cast<const char*>(bytes);
  while (count > 0) {
    const DWORD chunk = count > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!WriteFile(state_->handle, at, chunk, &written, nullptr) || written == 0) return false;
    at += written;
    count -= written;
  }
  return true;
}

bool SaveFile::writeGathered(const WritePiece* pieces, std::size_t count) {
  // WriteFile takes one buffer at a time: small pieces (rows) are gathered
  // into a chunk first, so that a picture of narrow rows is not written a
  // row per call.
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  char* chunk = static_cast<char*>(std::malloc(kChunk));
  std::size_t used = 0;
  bool good = true;
  for (std::size_t k = 0; good && k < count; ++k) {
    const WritePiece& piece = pieces[k];
    if (chunk == nullptr || piece.count >= kChunk) {
      good = write(chunk, used) && write(piece.bytes, piece.count);
      used = 0;
      continue;
    }
    if (used + piece.count > kChunk) {
      good = write(chunk, used);
      used = 0;
    }
    std::memcpy(chunk + used, piece.bytes, piece.count);
    used += piece.count;
  }
  good = good && write(chunk, used);
  std::free(chunk);
  return good;
}

bool SaveFile::writeAt(std::uint64_t offset, const void* bytes, std::size_t count) {
  if (state_ == nullptr || state_->finished) return false;
  const char* at = static_cast<const char*>(bytes);
  while (count > 0) {
    const DWORD chunk = count > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(count);
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    if (!WriteFile(state_->handle, at, chunk, &written, &where) || written == 0) return false;
    at += written;
    offset += written;
    count -= written;
  }
  return true;
}

bool SaveFile::writeGatheredAt(std::uint64_t offset, const WritePiece* pieces, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) {
    if (!writeAt(offset, pieces[k].bytes, pieces[k].count)) return false;
    offset += pieces[k].count;
  }
  return true;
}

bool SaveFile::finish() {
  if (state_ == nullptr || state_->finished) return false;
  state_->finished = true;  // WriteFile keeps no bytes of its own to hand over
  return true;
}

bool SaveFile::commit() {
  if (state_ == nullptr || !state_->finished) return false;
  // Keep the file past the close, then move it over the output in one step.
  if (!markForDeletion(state_->handle, false)) {
    abort();
    return false;
  }
  CloseHandle(state_->handle);
  state_->handle = INVALID_HANDLE_VALUE;
  if (!MoveFileExW(state_->temporary, state_->target, MOVEFILE_REPLACE_EXISTING)) {
    abort();
    return false;
  }
  state_->created = false;  // the name is free again
  abort();
  return true;
}

void SaveFile::abort() {
  if (state_ == nullptr) return;
  if (state_->handle != INVALID_HANDLE_VALUE) {
    // Still marked: closing the last handle removes the file.
    markForDeletion(state_->handle, true);
    CloseHandle(state_->handle);
  } else if (state_->created) {
    DeleteFileW(state_->temporary);
  }
  if (state_->registered) unregisterTemporary(state_->temporary);
  std::free(state_->target);
  std::free(state_->temporary);
  std::free(state_);
  state_ = nullptr;
}

// ---- The pause -------------------------------------------------------------

namespace {

HANDLE pauseInput = INVALID_HANDLE_VALUE;
DWORD pauseModeBefore = 0;

BOOL WINAPI restoreConsoleMode(DWORD) {
  SetConsoleMode(pauseInput, pauseModeBefore);
  return FALSE;  // and let Ctrl+C end the process as usual
}

// Modifier and lock keys alone do not count as a key press.
bool isKeyPress(const INPUT_RECORD& record) {
  if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return false;
  switch (record.Event.KeyEvent.wVirtualKeyCode) {
    case VK_SHIFT: case VK_CONTROL: case VK_MENU: case VK_LWIN: case VK_RWIN:
    case VK_CAPITAL: case VK_NUMLOCK: case VK_SCROLL:
      return false;
    default:
      return true;
  }
}

}  // namespace

void pauseForKey() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input == nullptr || input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return;
  std::fputs("Press any key to continue . . . ", stderr);
  std::fflush(stderr);
  std::fflush(stdout);

  // Key events are read as they come, so neither Enter nor echo is involved.
  // With processed input Ctrl+C stays the interrupt rather than a key; the
  // mode is put back after the key, and by the handler if Ctrl+C ends the run.
  const bool changeMode = (mode & ENABLE_PROCESSED_INPUT) == 0;
  if (changeMode) {
    pauseInput = input;
    pauseModeBefore = mode;
    SetConsoleCtrlHandler(restoreConsoleMode, TRUE);
    SetConsoleMode(input, mode | ENABLE_PROCESSED_INPUT);
  }
  INPUT_RECORD record;
  DWORD read = 0;
  while (ReadConsoleInputW(input, &record, 1, &read) && (read == 0 || !isKeyPress(record))) {
  }
  if (changeMode) {
    SetConsoleMode(input, mode);
    SetConsoleCtrlHandler(restoreConsoleMode, FALSE);
  }
  std::fputs("\n", stderr);
}

}  // namespace detail
}  // namespace dwt97
