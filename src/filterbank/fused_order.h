// Internal to the filter bank: the fused transform's result row order, and
// how its streaming tells the rows of finished output pairs.
#pragma once

#include <cstdint>

#include "dwt97/filterbank.h"

namespace dwt97::detail {

// What a streaming transform tells: the result's row order, and whom to tell.
struct ResultSink {
  DwtResultRows rowsDone;
  void* context;
  const std::uint8_t* const* order;
  std::int64_t half;
};

// Output pairs [j0, j1) are result rows j0 .. j1-1 (low) and half + j0 ..
// half + j1-1 (high).
inline void tellPairs(void* context, std::int64_t j0, std::int64_t j1) {
  const ResultSink& sink = *static_cast<const ResultSink*>(context);
  const auto count = static_cast<std::int32_t>(j1 - j0);
  sink.rowsDone(sink.context, sink.order, static_cast<std::int32_t>(j0), count);
  sink.rowsDone(sink.context, sink.order, static_cast<std::int32_t>(sink.half + j0), count);
}

// The fused transform makes result row r in the row buffer that held row
// resultSource(r) before: the low rows in the even rows' buffers, the high
// rows in the odd rows', an odd last row in its own.
inline std::int64_t resultSource(std::int64_t r, std::int64_t half) {
  if (r < half) return 2 * r;
  return r < 2 * half ? 2 * (r - half) + 1 : r;
}

}  // namespace dwt97::detail
