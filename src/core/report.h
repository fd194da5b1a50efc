// Reporting a failure from inside the library: the message comes from the
// failure table (dwt97/failure.h), and the process ends unless a handler
// leaves by throwing.
#pragma once

#include <optional>

#include "dwt97/failure.h"

namespace dwt97::detail {

// Passes `message` to the installed handler, or writes it to standard error
// as it stands and ends the process with exit status 1.
[[noreturn]] void fatal(const char* message);

// fatal() with the table's text of `kind` (not outOfMemory).
[[noreturn]] void fail(Failure kind);

// fatal() with "Error: <who>(), Out of memory!\n".
[[noreturn]] void failOutOfMemory(const char* who);

// Returns at once without a failure; otherwise fails as fail() does, or for
// outOfMemory as failOutOfMemory(operation) does. The operations that end
// the process report their twin's failure through this.
void report(const std::optional<Failure>& failure, const char* operation);
// fatal() with "Error: <who>(), Too many levels for the picture (at most
// <most>)!\n".
[[noreturn]] void failTooManyLevels(const char* who, int most);

}  // namespace dwt97::detail
