// How a run of the tool ends: the words meant for standard output checked
// to have reached it.
#pragma once

#include "dwt97/failure.h"

namespace dwt97::tool {

// Ends a run whose last words went to standard output: they must have
// reached it (a full disk, a closed pipe with SIGPIPE ignored), or the run
// fails with one line on standard error, as command-line tools do.
int finishOutput(int status);

}  // namespace dwt97::tool
