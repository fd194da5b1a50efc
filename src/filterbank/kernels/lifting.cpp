// The reversible 5/3 of one pass set: the two lifting steps along a row and
// across rows. Integer arithmetic gives the same bits whatever the lanes, so
// the loops are plain, written for the compiler to vectorise for the set's
// instruction set. Sums wrap modulo 2^32 through unsigned arithmetic (never
// a signed overflow), and a right shift of a negative sum is arithmetic.
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

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

// The samples are first split into even and odd ones (work[0 .. lows] with
// the one past the last standing for position n, n even, reflected onto
// n - 2; work[lows + 1 ..]); the high band then goes straight to y[lows ..],
// H[-1] reflecting onto H[0], and for n odd H[highs] onto H[highs - 1]. x
// holds int32 samples or bytes.
template <typename In>
void lift(const In* __restrict x, std::int32_t n, std::int32_t* __restrict y,
          std::int32_t* __restrict work) {
  const std::int64_t lows = (std::int64_t{n} + 1) / 2, highs = n / 2;
  std::int32_t* __restrict e = work;
  std::int32_t* __restrict o = work + lows + 1;
  for (std::int64_t j = 0; j < highs; ++j) {
    e[j] = x[2 * j];
    o[j] = x[2 * j + 1];
  }
  if (lows > highs) e[lows - 1] = x[n - 1];
  e[lows] = e[lows - 1];
  std::int32_t* __restrict low = y;
  std::int32_t* __restrict high = y + lows;
  for (std::int64_t j = 0; j < highs; ++j) high[j] = difference(o[j], half(e[j], e[j + 1]));
  low[0] = sum(e[0], quarter(high[0], high[0]));
  for (std::int64_t j = 1; j < highs; ++j) low[j] = sum(e[j], quarter(high[j - 1], high[j]));
  if (lows > highs && lows > 1) {
    low[lows - 1] = sum(e[lows - 1], quarter(high[highs - 1], high[highs - 1]));
  }
}

}  // namespace

namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE {

void liftRow(const std::int32_t* x, std::int32_t n, std::int32_t* y, std::int32_t* work) {
  lift(x, n, y, work);
}

void liftBytes(const std::uint8_t* x, std::int32_t n, std::int32_t* y, std::int32_t* work) {
  lift(x, n, y, work);
}

// The even samples come back first, into `work` with the one past the last
// standing for position n (n even, reflected onto n - 2), then the odd ones
// from them.
void unliftRow(const std::int32_t* __restrict z, std::int32_t n, std::int32_t* __restrict y,
               std::int32_t* __restrict work) {
  const std::int64_t lows = (std::int64_t{n} + 1) / 2, highs = n / 2;
  const std::int32_t* __restrict h = z + lows;
  std::int32_t* __restrict e = work;
  e[0] = difference(z[0], quarter(h[0], h[0]));
  for (std::int64_t j = 1; j < highs; ++j) e[j] = difference(z[j], quarter(h[j - 1], h[j]));
  if (lows > highs) e[lows - 1] = difference(z[lows - 1], quarter(h[highs - 1], h[highs - 1]));
  e[lows] = e[lows - 1];
  for (std::int64_t j = 0; j < highs; ++j) {
    y[2 * j] = e[j];
    y[2 * j + 1] = sum(h[j], half(e[j], e[j + 1]));
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

// Whole aligned vectors go past the caches: a finished row is read no more,
// and a result as large as the caches would otherwise be read in before it
// is written.
void storeRow(std::int32_t* __restrict dst, const std::int32_t* __restrict src, std::int64_t n) {
#if defined(__AVX512F__)
  constexpr std::int64_t lanes = 16;
#elif defined(__AVX2__)
  constexpr std::int64_t lanes = 8;
#elif defined(__SSE2__)
  constexpr std::int64_t lanes = 4;
#else
  constexpr std::int64_t lanes = 0;
#endif
  std::int64_t c = 0;
  if (lanes > 0) {
    constexpr std::uintptr_t mask = lanes * sizeof(std::int32_t) - 1;
    while (c < n && (reinterpret_cast<std::uintptr_t>(dst + c) & mask) != 0) {
      dst[c] = src[c];
      ++c;
    }
    for (; c + lanes <= n; c += lanes) {
#if defined(__AVX512F__)
      _mm512_stream_si512(reinterpret_cast<__m512i*>(dst + c), _mm512_loadu_si512(src + c));
#elif defined(__AVX2__)
      _mm256_stream_si256(reinterpret_cast<__m256i*>(dst + c),
                          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + c)));
#elif defined(__SSE2__)
      _mm_stream_si128(reinterpret_cast<__m128i*>(dst + c),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + c)));
#endif
    }
  }
  std::memcpy(dst + c, src + c, static_cast<std::size_t>(n - c) * sizeof(std::int32_t));
}

void finishRows() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

}  // namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE
