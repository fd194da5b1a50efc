// Process-ending failure reporting and checked allocation.
//
// Every failure of the tool ends the process: the message goes to standard
// error as given (no line end is added) and the exit status is 1.
#pragma once

#include <cstddef>

[[noreturn]] void fatal(const char* message);

// fatal() with "Error: <who>(), Out of memory!".
[[noreturn]] void fatalOutOfMemory(const char* who);

// A harness that must outlive a failure (the fuzz target) installs a handler:
// fatal() passes it the message instead of writing it, and the handler must
// leave by throwing. The operations release what they hold before they call
// fatal(), so leaving that way leaks nothing. Should the handler return, the
// process ends as usual. The tool itself never installs one. Installing and
// failing may happen on any threads at once; the handler runs on the thread
// that failed.
using FatalHandler = void (*)(const char* message);
void setFatalHandler(FatalHandler handler);

// Returns `bytes` zero-filled bytes, or null when they cannot be had. Zero
// bytes still yields a valid, unique pointer. Large blocks (4 MiB and more)
// are mapped in transparent huge pages where the system offers them.
unsigned char* tryAllocateZeroed(std::size_t bytes);

// As tryAllocateZeroed(), but ends the process with
// "Error: <who>(), Out of memory!" when the bytes cannot be had.
unsigned char* allocateZeroed(std::size_t bytes, const char* who);

// Releases a block of either allocator (null is allowed).
void releaseZeroed(unsigned char* block);
