// Internal: how the process-ending operations report a failure. Each is a
// thin wrapper over its namesake in namespace dwt97: report() formats the
// returned failure's message (formatFailure) and ends the process, unless a
// handler leaves by throwing. Nothing else in the library ends the process.
#pragma once

#include <optional>

#include "dwt97/failure.h"

namespace dwt97::detail {

// Passes `message` to the installed handler, or writes it to standard error
// as it stands and ends the process with exit status 1.
[[noreturn]] void fatal(const char* message);

// Returns at once without a failure; otherwise fatal() with its message.
void report(const std::optional<Error>& error);

// The failure of an operation named `operation`: the public operations give
// the failures of the layers below them their own names this way.
inline std::optional<Error> named(const std::optional<Failure>& failure, const char* operation) {
  if (!failure) return std::nullopt;
  return Error{*failure, operation, 0};
}

}  // namespace dwt97::detail
