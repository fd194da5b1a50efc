// Internal to the picture subsystem: what the readers of the formats share.
// Each reader turns the bytes of one whole file into a record as
// dwt97/picture.h describes, and returns its failure's kind; detect.cpp
// names it after the reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "core/allocator.h"
#include "dwt97/bitmap.h"
#include "dwt97/failure.h"
#include "dwt97/picture.h"

namespace dwt97::detail {

// What a reader tells its observer (dwt97/picture.h): started() through
// startPicture(), the rows it has made final, and the stop of a read that
// fails after a successful start.
class RowsTeller {
 public:
  explicit RowsTeller(const PictureRowsObserver& observer) : observer_(observer) {}
  RowsTeller(const RowsTeller&) = delete;
  RowsTeller& operator=(const RowsTeller&) = delete;

  // Tells started(); its failure is kept for refusal() and its kind returned.
  [[nodiscard]] std::optional<Failure> start(const Bitmap* bmp) {
    if (observer_.started != nullptr) {
      refusal_ = observer_.started(observer_.context, bmp);
      if (refusal_) return refusal_->failure;
    }
    started_ = true;
    return std::nullopt;
  }

  // Rows [0, rows) are final: told when they are more than last time.
  void rows(std::uint32_t rows) {
    if (rows <= told_) return;
    told_ = rows;
    if (observer_.rowsRead != nullptr) observer_.rowsRead(observer_.context, rows);
  }

  // Ends a failed read: stopping() told when started() was, then the
  // record's buffer released.
  void abandon(Bitmap* bmp) {
    if (started_ && observer_.stopping != nullptr) observer_.stopping(observer_.context);
    started_ = false;
    releaseZeroed(bmp->data);
    bmp->data = nullptr;
  }

  // The failure started() returned, which the read returns as is.
  const std::optional<Error>& refusal() const { return refusal_; }

 private:
  const PictureRowsObserver& observer_;
  std::optional<Error> refusal_;
  bool started_ = false;
  std::uint32_t told_ = 0;
};

// Fills `bmp` as the record of an uncompressed 8-bit top-down bitmap of
// width x height (which must fit: pictureFits()), gives it a zero-filled
// pixel buffer and tells `teller` it started; outOfMemory, or started()'s
// refusal, with no buffer.
[[nodiscard]] std::optional<Failure> startPicture(Bitmap* bmp, std::uint32_t width,
                                                  std::uint32_t height, RowsTeller* teller);

// The readers: on failure the record holds no buffer (RowsTeller::abandon).
// netpbmLoad() reads PGM and PPM, telling them by their magic numbers.
[[nodiscard]] std::optional<Failure> netpbmLoad(Bitmap* bmp, const std::uint8_t* bytes,
                                                std::size_t count, RowsTeller* teller);
[[nodiscard]] std::optional<Failure> pngLoad(Bitmap* bmp, const std::uint8_t* bytes,
                                             std::size_t count, RowsTeller* teller);
[[nodiscard]] std::optional<Failure> jpegLoad(Bitmap* bmp, const std::uint8_t* bytes,
                                              std::size_t count, RowsTeller* teller);
// jpegLoad() of the rest of an open file, read a piece at a time (a read
// error is loadRead).
[[nodiscard]] std::optional<Failure> jpegLoadFile(Bitmap* bmp, std::FILE* file, RowsTeller* teller);
[[nodiscard]] std::optional<Failure> tiffLoad(Bitmap* bmp, const std::uint8_t* bytes,
                                              std::size_t count, RowsTeller* teller);

// The refusal that names the format of `bytes`, one of those known by their
// signatures but not read (PictureFormat::other); loadSignature for others.
Failure unreadFormatFailure(const std::uint8_t* bytes, std::size_t count);

// 8-bit luma of an 8-bit colour: BT.601 weights in 16-bit fixed point, the
// rule every colour picture is read as grey by.
inline std::uint8_t luma(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return static_cast<std::uint8_t>((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
}

// Saves `rows` (the record's height of them) as an 8-bit grey PNG, upright,
// through a temporary beside `path`; fails as bmpSave() does.
[[nodiscard]] std::optional<Failure> savePng(const Bitmap* bmp, const char* path,
                                             const std::uint8_t* const* rows);

// Whether this build has the PNG, JPEG and TIFF readers (and the PNG writer).
bool pngBuilt();
bool jpegBuilt();
bool tiffBuilt();

}  // namespace dwt97::detail
