// How a run of the tool ends (see outcome.h).
#include "outcome.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace dwt97::tool {

int finishOutput(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int error = errno;
    std::fprintf(stderr, "dwt97: write error: %s\n", std::strerror(error));
    return 1;
  }
  return status;
}

}  // namespace dwt97::tool
