// Saving bitmaps and planes: the raw pixel block, the PGM file and the
// streaming save whose rows arrive while the result is being made. Every
// save goes through a temporary that replaces the output only once complete.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "core/report.h"
#include "dwt97/bitmap.h"
#include "platform/platform.h"

using dwt97::Error;
using dwt97::Failure;
using dwt97::detail::named;
using dwt97::detail::SaveFile;

namespace {

// Writes a file through a temporary beside `path` that replaces `path` only
// once complete: `write` puts the contents into the open save and says
// whether every byte went. A failure removes the temporary and leaves an
// older file at `path` as it was. Saves may run on several threads at once.
template <typename Write>
std::optional<Error> saveReplacing(const char* path, Write write) {
  SaveFile save;
  std::optional<Failure> failure = save.create(path);
  if (!failure) failure = write(save);
  if (!failure) failure = save.finish();
  if (!failure) return named(save.commit(), "bmpSave");
  save.abort();
  return named(failure, "bmpSave");
}

}  // namespace

std::optional<Error> dwt97::bmpSave(const Bitmap* bmp, const char* path, const std::uint8_t* flat) {
  return saveReplacing(path, [&](SaveFile& save) { return save.write(flat, pixelCount(bmp)); });
}

void bmpSave(const Bitmap* bmp, const char* path, const std::uint8_t* flat) {
  dwt97::detail::report(dwt97::bmpSave(bmp, path, flat));
}

namespace {

// Writes `header` (may be empty), then rows row(0) .. row(count - 1) of
// `width` bytes each (from the last, with `reversed`), gathered in as few
// writes as the system allows.
template <typename Row>
std::optional<Failure> writeRows(SaveFile& save, const char* header, Row row, std::size_t count,
                                 std::size_t width, bool reversed) {
  constexpr std::size_t kGather = 1024;
  dwt97::detail::WritePiece pieces[kGather];
  std::size_t used = 0;
  if (header[0] != '\0') pieces[used++] = {header, std::strlen(header)};
  for (std::size_t next = 0; next < count; ++next) {
    pieces[used++] = {row(reversed ? count - 1 - next : next), width};
    if (used == kGather) {
      if (const std::optional<Failure> failure = save.writeGathered(pieces, used)) return failure;
      used = 0;
    }
  }
  return save.writeGathered(pieces, used);
}

// The binary PGM header of a `width` x `height` picture (no allocation: a
// save that cannot have memory fails before it gets here).
struct PgmHeader {
  char text[64];
};

PgmHeader pgmHeader(std::size_t width, std::size_t height) {
  PgmHeader header;
  std::snprintf(header.text, sizeof header.text, "P5\n%zu %zu\n255\n", width, height);
  return header;
}

}  // namespace

std::optional<Error> dwt97::bmpSavePlane(const Bitmap* bmp, const char* path,
                                         const std::uint8_t* const* plane) {
  return saveReplacing(path, [&](SaveFile& save) {
    return writeRows(
        save, "", [plane](std::size_t r) { return plane[r]; }, bmp->height,
        static_cast<std::size_t>(bmp->width), false);
  });
}

void bmpSavePlane(const Bitmap* bmp, const char* path, const std::uint8_t* const* plane) {
  dwt97::detail::report(dwt97::bmpSavePlane(bmp, path, plane));
}

std::optional<Error> dwt97::bmpSavePgmPlane(const Bitmap* bmp, const char* path,
                                            const std::uint8_t* const* plane) {
  return saveReplacing(path, [&](SaveFile& save) {
    const std::size_t width = static_cast<std::size_t>(bmp->width);
    const PgmHeader header = pgmHeader(width, bmp->height);
    return writeRows(
        save, header.text, [plane](std::size_t r) { return plane[r]; }, bmp->height, width,
        !bmp->topDown);
  });
}

void bmpSavePgmPlane(const Bitmap* bmp, const char* path, const std::uint8_t* const* plane) {
  dwt97::detail::report(dwt97::bmpSavePgmPlane(bmp, path, plane));
}

// A save whose rows arrive while the result is being made. An output
// written in place (a device, a pipe) takes its bytes in order only: the
// rows are noted as they come and written out at the finish.
struct BmpSaveSession {
  SaveFile save;
  std::size_t width;
  std::size_t height;
  PgmHeader header{};  // before the first row (PGM; empty text for raw)
  bool reversed;       // rows stored from the last (PGM of a bottom-up file)
  std::atomic<bool> failed{false};
  const std::uint8_t** told = nullptr;  // in place: each row as told
  ~BmpSaveSession() { std::free(told); }
};

std::optional<Error> dwt97::bmpSaveStart(const Bitmap* bmp, const char* path, bool pgm,
                                         BmpSaveSession** started) {
  *started = nullptr;
  auto* session = new (std::nothrow) BmpSaveSession;
  if (session == nullptr) return Error{Failure::outOfMemory, "bmpSave"};
  session->width = static_cast<std::size_t>(bmp->width);
  session->height = bmp->height;
  session->reversed = pgm && !bmp->topDown;
  if (pgm) session->header = pgmHeader(session->width, session->height);
  const std::size_t headerBytes = std::strlen(session->header.text);
  std::optional<Failure> failure = session->save.create(path);
  if (!failure && session->save.inPlace()) {
    session->told = static_cast<const std::uint8_t**>(
        std::calloc(session->height, sizeof(const std::uint8_t*)));
    if (session->told == nullptr) failure = Failure::outOfMemory;
  } else if (!failure) {
    failure = session->save.writeAt(0, session->header.text, headerBytes);
  }
  if (failure) {
    delete session;  // removes the temporary, if there was one
    return named(failure, "bmpSave");
  }
  *started = session;
  return std::nullopt;
}

BmpSaveSession* bmpSaveStart(const Bitmap* bmp, const char* path, bool pgm) {
  BmpSaveSession* session = nullptr;
  dwt97::detail::report(dwt97::bmpSaveStart(bmp, path, pgm, &session));
  return session;
}

void bmpSaveRows(void* context, const std::uint8_t* const* result, std::int32_t first,
                 std::int32_t count) {
  auto* session = static_cast<BmpSaveSession*>(context);
  if (count <= 0 || session->failed.load(std::memory_order_relaxed)) return;
  if (session->save.inPlace()) {
    for (std::int32_t r = first; r < first + count; ++r) {
      session->told[static_cast<std::size_t>(r)] = result[r];
    }
    return;
  }
  // Rows first .. first + count - 1 lie side by side in the file: upwards,
  // or downwards from the last when the rows are stored reversed.
  constexpr std::int32_t kGather = 64;
  dwt97::detail::WritePiece pieces[kGather];
  for (std::int32_t start = first; start < first + count; start += kGather) {
    const std::int32_t n = std::min(kGather, first + count - start);
    std::uint64_t lowest = static_cast<std::uint64_t>(start);
    for (std::int32_t k = 0; k < n; ++k) {
      const std::int32_t r = session->reversed ? start + n - 1 - k : start + k;
      pieces[k] = {result[r], session->width};
    }
    if (session->reversed) lowest = session->height - static_cast<std::uint64_t>(start + n);
    if (session->save.writeGatheredAt(std::strlen(session->header.text) + lowest * session->width,
                                      pieces, static_cast<std::size_t>(n))) {
      session->failed.store(true);
      return;
    }
  }
}

std::optional<Error> dwt97::bmpSaveFinish(BmpSaveSession* session) {
  const std::uint8_t* const* told = session->told;
  std::optional<Failure> failure;
  if (session->failed.load()) failure = Failure::saveWrite;
  if (!failure && session->save.inPlace()) {
    failure = writeRows(
        session->save, session->header.text, [told](std::size_t r) { return told[r]; },
        session->height, session->width, session->reversed);
  }
  if (!failure) failure = session->save.finish();
  if (!failure) failure = session->save.commit();
  delete session;  // removes the temporary, if it is still there
  return named(failure, "bmpSave");
}

void bmpSaveFinish(BmpSaveSession* session) {
  dwt97::detail::report(dwt97::bmpSaveFinish(session));
}

void bmpSaveAbandon(BmpSaveSession* session) { delete session; }

std::optional<Error> dwt97::bmpSavePgm(const Bitmap* bmp, const char* path,
                                       const std::uint8_t* flat) {
  return saveReplacing(path, [&](SaveFile& save) {
    const std::size_t width = static_cast<std::size_t>(bmp->width);
    const std::size_t height = bmp->height;
    // A viewer shows a PGM's first row at the top: the top row of the
    // picture, which a bottom-up file stores last.
    const PgmHeader header = pgmHeader(width, height);
    return writeRows(
        save, header.text, [flat, width](std::size_t r) { return flat + r * width; }, height, width,
        !bmp->topDown);
  });
}

void bmpSavePgm(const Bitmap* bmp, const char* path, const std::uint8_t* flat) {
  dwt97::detail::report(dwt97::bmpSavePgm(bmp, path, flat));
}
