// Internal to the platform layer: the name of a save's temporary beside its
// output, "<name>.XXXXXX", and the letters that make it new on every try.
#pragma once

#include <cstddef>

#include "platform/system.h"

namespace dwt97::detail {

// "<name>.XXXXXX" beside `target`, with room for the six letters, the name
// shortened where the whole would pass the file system's limit (never
// splitting a character). From malloc; null when memory runs out. `*suffix`
// gets where the dot goes.
sys::PathChar* temporaryBeside(const sys::PathChar* target, std::size_t* suffix);

// Writes the letters after the dot: six of 62, new ones on every call.
void fillLetters(sys::PathChar* temporary, std::size_t suffix);

}  // namespace dwt97::detail
