// The reversible 5/3 of one pass set: the two lifting steps along a row and
// across rows. Integer arithmetic gives the same bits whatever the lanes, so
// the loops are plain, written for the compiler to vectorise for the set's
// instruction set. Sums wrap modulo 2^32 through unsigned arithmetic (never
// a signed overflow), and a right shift of a negative sum is arithmetic.
#include <cstdint>
#include <cstring>

#include "filterbank/kernels/kernels.h"

namespace {

inline std::int32_t sum(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline std::int32_t difference(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
// floor((a + b) / 2) and floor((a + b + 2) / 4), the sums wrapped.
inline std::int32_t half(std::int32_t a, std::int32_t b) { return sum(a, b) >> 1; }
inline std::int32_t quarter(std::int32_t a, std::int32_t b) { return sum(sum(a, b), 2) >> 2; }

}  // namespace

namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE {

// The high band goes to work[1 .. highs], with work[0] = H[0] standing for
// H[-1] and work[highs + 1] = H[highs - 1] for H[highs]: the reflections of
// signal positions -1 and n (n odd) onto odd position 1 and n - 2.
void liftRow(const std::int32_t* __restrict x, std::int32_t n, std::int32_t* __restrict y,
             std::int32_t* __restrict work) {
  const std::int64_t lows = (std::int64_t{n} + 1) / 2, highs = n / 2;
  std::int32_t* __restrict h = work + 1;
  // Position 2j + 2 lies in the line except for the last pair of an even
  // line, where it reflects onto n - 2.
  const std::int64_t inside = (n & 1) != 0 ? highs : highs - 1;
  for (std::int64_t j = 0; j < inside; ++j) {
    h[j] = difference(x[2 * j + 1], half(x[2 * j], x[2 * j + 2]));
  }
  if (inside < highs) h[inside] = difference(x[n - 1], half(x[n - 2], x[n - 2]));
  work[0] = h[0];
  h[highs] = h[highs - 1];
  for (std::int64_t j = 0; j < lows; ++j) y[j] = sum(x[2 * j], quarter(work[j], work[j + 1]));
  std::memcpy(y + lows, h, static_cast<std::size_t>(highs) * sizeof(std::int32_t));
}

// The even samples come back first, into work[highs + 2 ..] with the one
// past the last standing for position n (n even, reflected onto n - 2),
// then the odd ones from them.
void unliftRow(const std::int32_t* __restrict z, std::int32_t n, std::int32_t* __restrict y,
               std::int32_t* __restrict work) {
  const std::int64_t lows = (std::int64_t{n} + 1) / 2, highs = n / 2;
  std::int32_t* __restrict h = work;
  std::int32_t* __restrict e = work + highs + 2;
  h[0] = z[lows];
  std::memcpy(h + 1, z + lows, static_cast<std::size_t>(highs) * sizeof(std::int32_t));
  h[highs + 1] = z[lows + highs - 1];
  for (std::int64_t j = 0; j < lows; ++j) e[j] = difference(z[j], quarter(h[j], h[j + 1]));
  e[lows] = e[lows - 1];
  for (std::int64_t j = 0; j < highs; ++j) {
    y[2 * j] = e[j];
    y[2 * j + 1] = sum(h[j + 1], half(e[j], e[j + 1]));
  }
  if ((n & 1) != 0) y[n - 1] = e[lows - 1];
}

void liftColumns(std::int32_t* out, const std::int32_t* t, const std::int32_t* a,
                 const std::int32_t* b, std::int64_t n, DwtLiftStep step) {
  switch (step) {
    case DwtLiftStep::predict:
      for (std::int64_t c = 0; c < n; ++c) out[c] = difference(t[c], half(a[c], b[c]));
      break;
    case DwtLiftStep::unpredict:
      for (std::int64_t c = 0; c < n; ++c) out[c] = sum(t[c], half(a[c], b[c]));
      break;
    case DwtLiftStep::update:
      for (std::int64_t c = 0; c < n; ++c) out[c] = sum(t[c], quarter(a[c], b[c]));
      break;
    case DwtLiftStep::unupdate:
      for (std::int64_t c = 0; c < n; ++c) out[c] = difference(t[c], quarter(a[c], b[c]));
      break;
  }
}

}  // namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE
