// The tool's batch (-t DIR INPUT...): every INPUT into DIR under its own
// name, pictures side by side on the threads, the reports in the inputs'
// order.
#pragma once

#include <string>

#include "options.h"

namespace dwt97::tool {

// The output of `input` in `folder`: its base name with its last suffix
// (none for a name that begins with its only dot) replaced by the format's,
// ".dat" for raw.
std::string batchOutputName(const char* folder, const char* input, Format format);

// Runs the batch and gives the exit status: 2 for a wrong command line
// (two inputs that would write one output among them, before anything is
// written), 1 when any picture failed, else 0.
int runBatch(const Options& options);

}  // namespace dwt97::tool
