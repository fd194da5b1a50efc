// The inverse pair of one pass set: the column pass, then the row pass.
#include "filterbank/kernels/common.h"

namespace {

// The entries of a band (length n) that outputs j0 .. j0+count-1 read:
// out[q] = band[b] for b = j0 - 2 + q, reflected where b leaves the band.
// Zeros follow, so that the whole-vector reads of the last outputs read
// nothing unset.
void loadBandChunk(const std::uint8_t* band, std::int32_t n, std::int64_t j0, std::int64_t count,
                   float* out) {
  const std::int64_t bBegin = j0 - 2;
  const std::int64_t qEnd = count + 4;
  const auto reflected = [band, n](std::int64_t b) {
    return static_cast<float>(band[mirrorIndex(static_cast<std::int32_t>(b), n)]);
  };
  std::int64_t q = 0;
  for (; q < qEnd && bBegin + q < 0; ++q) out[q] = reflected(bBegin + q);
  const std::int64_t qInside = smaller(qEnd, n - bBegin);
  if (qInside > q) {
    bytesToFloats(band + bBegin + q, qInside - q, out + q);
    q = qInside;
  }
  for (; q < qEnd; ++q) out[q] = reflected(bBegin + q);
  zeroFloats(out, q, count + 2 * Full::lanes);
}

}  // namespace

namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE {

void inverseColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                    std::int32_t halfHeight, std::int64_t j0, std::int64_t j1, float* ring,
                    std::int64_t strip) {
  if (halfWidth <= 0 || halfHeight <= 0 || j0 >= j1) return;
  const std::int32_t n = halfHeight;
  const std::int64_t width = 2 * std::int64_t{halfWidth};
  const SynthesisTaps taps;
  // Float copies of the band rows at band index b (reflected into the band):
  // low band in slot (b + 2) % 5, high band in slot 5 + (b + 2) % 5.
  static_assert(kColumnRingRows == 10, "five rows of each band");
  const auto lowSlot = [ring, strip](std::int64_t b) { return ring + ((b + 2) % 5) * strip; };
  const auto highSlot = [ring, strip](std::int64_t b) { return ring + (5 + (b + 2) % 5) * strip; };
  const auto band = [n](std::int64_t b) {
    return std::int64_t{mirrorIndex(static_cast<std::int32_t>(b), n)};
  };
  for (std::int64_t c0 = 0; c0 < width; c0 += strip) {
    const std::int64_t w = smaller(strip, width - c0);
    for (std::int64_t b = j0 - 2; b <= j0 + 1; ++b) {
      bytesToFloats(src[band(b)] + c0, w, lowSlot(b));
      bytesToFloats(src[n + band(b)] + c0, w, highSlot(b));
    }
    for (std::int64_t j = j0; j < j1; ++j) {
      // Band rows j + 2 are new: converted as they are first read, and kept
      // for the next four output pairs.
      const std::uint8_t* newLow = src[band(j + 2)] + c0;
      const std::uint8_t* newHigh = src[n + band(j + 2)] + c0;
      float* keepLow = lowSlot(j + 2);
      float* keepHigh = highSlot(j + 2);
      const float* lowRows[4];
      const float* highRows[4];
      for (int k = 0; k < 4; ++k) {
        lowRows[k] = lowSlot(j - 2 + k);
        highRows[k] = highSlot(j - 2 + k);
      }
      std::uint8_t* evenOut = dst[2 * j] + c0;
      std::uint8_t* oddOut = dst[2 * j + 1] + c0;
      forEachLane(0, w, [&](auto d, std::int64_t v) {
        using D = decltype(d);
        typename D::V l[5], h[5];
        for (int k = 0; k < 4; ++k) {
          l[k] = D::load(lowRows[k] + v);
          h[k] = D::load(highRows[k] + v);
        }
        l[4] = D::loadBytes(newLow + v);
        h[4] = D::loadBytes(newHigh + v);
        D::store(keepLow + v, l[4]);
        D::store(keepHigh + v, h[4]);
        typename D::V even, odd;
        synthesise(l, h, taps.of(d), even, odd);
        D::storeTruncated(evenOut + v, even);
        D::storeTruncated(oddOut + v, odd);
      });
    }
  }
}

void inverseRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                 std::int32_t halfHeight, std::int64_t r0, std::int64_t r1) {
  if (halfWidth <= 0 || halfHeight <= 0) return;
  const std::int32_t n = halfWidth;
  const SynthesisTaps taps;
  alignas(64) float low[kRowChunkFloats];
  alignas(64) float high[kRowChunkFloats];
  for (std::int64_t i = r0; i < r1; ++i) {
    const std::uint8_t* in = src[i];
    std::uint8_t* out = dst[i];
    for (std::int64_t j0 = 0; j0 < n; j0 += kRowChunk) {
      const std::int64_t count = smaller(kRowChunk, n - j0);
      loadBandChunk(in, n, j0, count, low);
      loadBandChunk(in + n, n, j0, count, high);
      forEachLane(0, count, [&](auto d, std::int64_t v) {
        // Output j = j0 + v reads band index j - 2 + k from q = v + k.
        using D = decltype(d);
        typename D::V l[5], h[5];
        D::window5(low + v, l);
        D::window5(high + v, h);
        typename D::V even, odd;
        synthesise(l, h, taps.of(d), even, odd);
        D::storeRoundedPairs(out + 2 * (j0 + v), even, odd);
      });
    }
  }
}

}  // namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE
