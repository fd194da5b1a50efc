// Internal to the library: the bitmap parse that tells of the rows it
// copies, for the picture readers' observers (dwt97/picture.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "dwt97/bitmap.h"
#include "dwt97/failure.h"

namespace dwt97::detail {

// Whom the parse tells: started(context, bmp) once the record is filled and
// its zero-filled buffer allocated, rowsRead(context, rows) each time rows
// [0, rows) are copied. A null function is not called.
struct BitmapRowsTold {
  std::optional<Error> (*started)(void* context, const Bitmap* bmp) = nullptr;
  void (*rowsRead)(void* context, std::uint32_t rows) = nullptr;
  void* context = nullptr;
};

// dwt97::bmpParse(), copying the rows in pieces of about 256 KiB and telling
// `told` after each. A failure started() returns is returned as is, the
// buffer released; the copy itself cannot fail.
[[nodiscard]] std::optional<Error> bmpParseTelling(Bitmap* bmp, const std::uint8_t* bytes,
                                                   std::size_t size, const BitmapRowsTold& told);

}  // namespace dwt97::detail
