// Process-ending failure reporting and checked allocation.
//
// Every failure of the tool ends the process: the message goes to standard
// error as given (no line end is added) and the exit status is 1.
#pragma once

#include <cstddef>

[[noreturn]] void fatal(const char* message);

// Returns `bytes` zero-filled bytes from the free store, or ends the process
// with "Error: <who>(), Out of memory!" when they cannot be had. Zero bytes
// still yields a valid, unique pointer. Large blocks (4 MiB and more) are
// mapped in transparent huge pages where the system offers them. Release
// with releaseZeroed(), giving the same byte count; a null block is ignored.
unsigned char* allocateZeroed(std::size_t bytes, const char* who);
void releaseZeroed(unsigned char* block, std::size_t bytes);
