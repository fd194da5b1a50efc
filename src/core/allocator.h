// The zero-filled block allocator behind every picture-sized buffer of the
// library: large blocks are mapped in transparent huge pages where the system
// offers them, staggered so that planes do not alias below 4 KiB, and the
// last large block released is kept for the next allocation. Safe to call
// from several threads at once.
#pragma once

#include <cstddef>

namespace dwt97::detail {

// Returns `bytes` zero-filled bytes, or null when they cannot be had. Zero
// bytes still yields a valid, unique pointer. Large blocks (4 MiB and more)
// are mapped in transparent huge pages where the system offers them.
unsigned char* tryAllocateZeroed(std::size_t bytes);

// As tryAllocateZeroed(), but ends the process with
// "Error: <who>(), Out of memory!" when the bytes cannot be had.
unsigned char* allocateZeroed(std::size_t bytes, const char* who);

// Releases a block of either allocator (null is allowed).
void releaseZeroed(unsigned char* block);

}  // namespace dwt97::detail
