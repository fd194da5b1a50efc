// The zero-filled block allocator behind every picture-sized buffer of the
// library: large blocks are mapped in transparent huge pages where the system
// offers them, staggered so that planes do not alias below 4 KiB, and the
// last large block released is kept for the next allocation. Safe to call
// from several threads at once.
#pragma once

#include <cstddef>
#include <optional>

#include "dwt97/failure.h"

namespace dwt97::detail {

// Puts a block of `bytes` zero-filled bytes at `*block`, or returns
// outOfMemory, with `*block` null, when they cannot be had. Zero bytes still
// yield a valid, unique block. Large blocks (4 MiB and more) are mapped in
// transparent huge pages where the system offers them.
[[nodiscard]] std::optional<Failure> allocateZeroed(std::size_t bytes, unsigned char** block);

// allocateZeroed() of a block of `count` objects of type T.
template <typename T>
[[nodiscard]] std::optional<Failure> allocateZeroed(std::size_t count, T** block) {
  unsigned char* bytes = nullptr;
  const std::optional<Failure> failure = allocateZeroed(count * sizeof(T), &bytes);
  *block = reinterpret_cast<T*>(bytes);
  return failure;
}

// Releases a block of allocateZeroed() (null is allowed).
void releaseZeroed(void* block);

}  // namespace dwt97::detail
