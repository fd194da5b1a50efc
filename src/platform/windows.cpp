// The platform layer on Windows: see platform.h; the primitives under the
// common policy are those of platform_system.h. Every path is converted from
// UTF-8 to UTF-16 and goes to the wide calls.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// windows.h first: shellapi.h needs its declarations.
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

#include "platform/platform.h"
#include "platform/system.h"

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

void openStandardStreams() {}  // a closed standard handle takes no file here

bool standardErrorIsTerminal() {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  return error != nullptr && error != INVALID_HANDLE_VALUE && GetConsoleMode(error, &mode);
}

std::FILE* binaryStandardInput() {
  _setmode(_fileno(stdin), _O_BINARY);
  return stdin;
}

void utf8Arguments(int* argc, char*** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr || count < 1) return;  // keep the narrow ones
  char** utf8 =
      static_cast<char**>(std::calloc(static_cast<std::size_t>(count) + 1, sizeof(char*)));
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
  HANDLE handle =
      CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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
  const bool same =
      a != INVALID_HANDLE_VALUE && b != INVALID_HANDLE_VALUE &&
      GetFileInformationByHandle(a, &infoA) && GetFileInformationByHandle(b, &infoB) &&
      infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
      infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow;
  if (a != INVALID_HANDLE_VALUE) CloseHandle(a);
  if (b != INVALID_HANDLE_VALUE) CloseHandle(b);
  return same;
}

void* mapHugePages(std::size_t, std::size_t) { return nullptr; }  // the free store serves

void unmapPages(void*, std::size_t) {}

int usableProcessors() {
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) == 0 || process == 0) {
    return 1;
  }
  int count = 0;
  for (; process != 0; process &= process - 1) ++count;
  return count;
}

namespace sys {

// ---- Paths and targets -----------------------------------------------------
//
// The temporary is created with "delete when closed" set on its handle, so
// the system removes it however the process ends (Ctrl+C, the console
// closed, the process killed) until replace() clears that mark, closes the
// handle and moves the file over the output. For the instant between the
// two, a console control handler removes any temporary still registered.

namespace {

bool markForDeletion(HANDLE handle, bool remove) {
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = remove ? TRUE : FALSE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

HANDLE handleOf(Native file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

PathChar* nativePath(const char* path, bool* outOfMemory) {
  wchar_t* wide = toWide(path);
  // A path that is not UTF-8 names no file that can be created.
  if (wide == nullptr && (std::strlen(path) == 0 || isUtf8(path))) *outOfMemory = true;
  if (wide == nullptr) return nullptr;
  // A path too long for the plain calls goes through the long-path prefix,
  // which takes a full path.
  if (std::wcslen(wide) + 8 < MAX_PATH) return wide;
  const DWORD full = GetFullPathNameW(wide, 0, nullptr, nullptr);
  wchar_t* prefixed =
      full == 0 ? nullptr : static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * (full + 8)));
  if (prefixed == nullptr) return wide;
  std::wmemcpy(prefixed, L"\\\\?\\", 4);
  if (GetFullPathNameW(wide, full, prefixed + 4, nullptr) == 0 || prefixed[4] == L'\\') {
    std::free(prefixed);  // a network path: leave it as it was
    return wide;
  }
  std::free(wide);
  return prefixed;
}

const PathChar* baseName(const PathChar* path) {
  const PathChar* name = path;
  for (const PathChar* at = path; *at != 0; ++at) {
    if (*at == L'/' || *at == L'\\' || *at == L':') name = at + 1;
  }
  return name;
}

PathChar* finalName(const PathChar* path, bool* outOfMemory) {
  wchar_t* copy = _wcsdup(path);  // links are replaced as themselves here
  if (copy == nullptr) *outOfMemory = true;
  return copy;
}

TargetFacts inspect(const PathChar* path) {
  TargetFacts facts;
  HANDLE handle = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return facts;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    facts.kind = Target::special;  // NUL, CON, a named pipe
  } else if (!GetFileInformationByHandle(handle, &info) ||
             (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    facts.kind = Target::refused;
  } else {
    facts.kind = Target::regular;
  }
  CloseHandle(handle);
  return facts;
}

Native createExclusive(const PathChar* path, const TargetFacts&, bool* taken) {
  HANDLE handle = CreateFileW(path, GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    *taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    return kNoFile;
  }
  if (!markForDeletion(handle, true)) {
    CloseHandle(handle);
    DeleteFileW(path);
    return kNoFile;
  }
  return reinterpret_cast<Native>(handle);
}

// The named temporary's delete-on-close mark does what an unnamed file would.
Native createUnnamed(const PathChar*, const TargetFacts&) { return kNoFile; }

bool nameUnnamed(Native, const PathChar*, bool*) { return false; }

Native openStandardOutput() {
  HANDLE own = INVALID_HANDLE_VALUE;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), out, GetCurrentProcess(), &own, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return kNoFile;
  }
  return reinterpret_cast<Native>(own);
}

Native openInPlace(const PathChar* path) {
  HANDLE handle = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<Native>(handle);
}

// ---- Writing ---------------------------------------------------------------

const bool kGathers = false;  // WriteFile takes one buffer
const bool kCloseBeforeReplace = false;

std::int64_t writeSome(Native file, const WritePiece* pieces, std::size_t,
                       const std::uint64_t* offset) {
  const DWORD chunk =
      pieces[0].count > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(pieces[0].count);
  OVERLAPPED where{};
  if (offset != nullptr) {
    where.Offset = static_cast<DWORD>(*offset);
    where.OffsetHigh = static_cast<DWORD>(*offset >> 32);
  }
  DWORD written = 0;
  if (!WriteFile(handleOf(file), pieces[0].bytes, chunk, &written,
                 offset != nullptr ? &where : nullptr)) {
    return -1;
  }
  return written;
}

void holdWriteSignals() {}
void releaseWriteSignals() {}

bool closeFile(Native* file) {
  if (*file == kNoFile) return true;
  const bool closed = CloseHandle(handleOf(*file)) != 0;
  *file = kNoFile;
  return closed;
}

bool replace(Native* file, const PathChar* temporary, const PathChar* target) {
  // Keep the file past the close, then move it over the output in one step.
  if (*file != kNoFile && !markForDeletion(handleOf(*file), false)) return false;
  closeFile(file);
  return MoveFileExW(temporary, target, MOVEFILE_REPLACE_EXISTING) != 0;
}

void discard(Native file, const PathChar* temporary) {
  if (file != kNoFile) {
    // A temporary still marked goes with its last handle.
    if (temporary != nullptr) markForDeletion(handleOf(file), true);
    CloseHandle(handleOf(file));
  }
  if (temporary != nullptr) DeleteFileW(temporary);
}

void removePath(const PathChar* path) { DeleteFileW(path); }

// ---- Interrupts ------------------------------------------------------------

namespace {

BOOL WINAPI removeTemporaries(DWORD) {
  removeRegisteredTemporaries();
  return FALSE;  // the next handler (in the end the system's) ends the process
}

}  // namespace

void cleanupHandlers(bool install) { SetConsoleCtrlHandler(removeTemporaries, install); }

void holdInterrupts() {}  // the delete-on-close mark covers the instant
void releaseInterrupts() {}

std::uint64_t entropy() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return GetTickCount64() ^ (std::uint64_t{GetCurrentProcessId()} << 32) ^
         static_cast<std::uint64_t>(counter.QuadPart);
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
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
      return false;
    default:
      return true;
  }
}

}  // namespace

bool keyboardAttached() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  return input != nullptr && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode);
}

void waitForKey() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  GetConsoleMode(input, &mode);

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
}

}  // namespace sys
}  // namespace detail
}  // namespace dwt97
