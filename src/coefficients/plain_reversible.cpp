// The reversible 5/3 one line at a time, on the calling thread, every step
// as its formula reads: positions beyond the line reflected by mirrorIndex,
// divisions rounded toward minus infinity, in 64-bit arithmetic.
#include <cstdint>
#include <vector>

#include "coefficients/levels.h"
#include "coefficients/reversible.h"
#include "dwt97/filterbank.h"

namespace dwt97::detail {
namespace {

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return q * b > a ? q - 1 : q;
}

std::int64_t at(const std::vector<std::int64_t>& x, std::int64_t q) {
  return x[mirrorIndex(static_cast<std::int32_t>(q), static_cast<std::int32_t>(x.size()))];
}

// x (n >= 2) into its low band, then its high band.
std::vector<std::int64_t> analyzeLine(const std::vector<std::int64_t>& x) {
  const std::int64_t n = static_cast<std::int64_t>(x.size()), lows = (n + 1) / 2;
  std::vector<std::int64_t> y(x);  // y[q], q odd: the high band at signal position q
  for (std::int64_t q = 1; q < n; q += 2) y[q] = x[q] - floorDiv(at(x, q - 1) + at(x, q + 1), 2);
  for (std::int64_t q = 0; q < n; q += 2)
    y[q] = x[q] + floorDiv(at(y, q - 1) + at(y, q + 1) + 2, 4);
  std::vector<std::int64_t> bands(n);
  for (std::int64_t q = 0; q < n; ++q) bands[(q & 1) != 0 ? lows + q / 2 : q / 2] = y[q];
  return bands;
}

std::vector<std::int64_t> synthesizeLine(const std::vector<std::int64_t>& bands) {
  const std::int64_t n = static_cast<std::int64_t>(bands.size()), lows = (n + 1) / 2;
  std::vector<std::int64_t> x(n);
  for (std::int64_t q = 0; q < n; ++q) x[q] = bands[(q & 1) != 0 ? lows + q / 2 : q / 2];
  for (std::int64_t q = 0; q < n; q += 2) x[q] -= floorDiv(at(x, q - 1) + at(x, q + 1) + 2, 4);
  for (std::int64_t q = 1; q < n; q += 2) x[q] += floorDiv(at(x, q - 1) + at(x, q + 1), 2);
  return x;
}

using LineFilter = std::vector<std::int64_t> (*)(const std::vector<std::int64_t>&);

// The filter over every row then every column (or the reverse) of the top
// left w x h block of `plane`.
void filterBlock(std::vector<std::vector<std::int64_t>>& plane, std::int64_t w, std::int64_t h,
                 LineFilter filter, bool columnsFirst) {
  const auto rows = [&] {
    if (w < 2) return;
    for (std::int64_t r = 0; r < h; ++r) {
      const std::vector<std::int64_t> y =
          filter(std::vector<std::int64_t>(plane[r].begin(), plane[r].begin() + w));
      for (std::int64_t c = 0; c < w; ++c) plane[r][c] = y[c];
    }
  };
  const auto columns = [&] {
    if (h < 2) return;
    for (std::int64_t c = 0; c < w; ++c) {
      std::vector<std::int64_t> x(h);
      for (std::int64_t r = 0; r < h; ++r) x[r] = plane[r][c];
      const std::vector<std::int64_t> y = filter(x);
      for (std::int64_t r = 0; r < h; ++r) plane[r][c] = y[r];
    }
  };
  if (columnsFirst) {
    columns();
    rows();
  } else {
    rows();
    columns();
  }
}

std::optional<Failure> run(ConstIntPlane in, IntPlane out, int levels, bool synthesis) {
  std::vector<std::vector<std::int64_t>> plane(in.height);
  for (std::int64_t r = 0; r < in.height; ++r) plane[r].assign(in.row(r), in.row(r) + in.width);
  const Blocks blocks(in.width, in.height, levels);
  for (int step = 0; step < levels; ++step) {
    const int k = synthesis ? levels - 1 - step : step;
    filterBlock(plane, blocks.w[k], blocks.h[k], synthesis ? synthesizeLine : analyzeLine,
                synthesis);
  }
  // Kept to 32 bits as the fast levels keep them, wrapping modulo 2^32.
  for (std::int64_t r = 0; r < in.height; ++r) {
    for (std::int64_t c = 0; c < in.width; ++c) {
      out.row(r)[c] = static_cast<std::int32_t>(static_cast<std::uint32_t>(plane[r][c]));
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<Failure> analyze53Plain(ConstIntPlane in, IntPlane out, int levels) {
  return run(in, out, levels, false);
}

std::optional<Failure> synthesize53Plain(ConstIntPlane in, IntPlane out, int levels) {
  return run(in, out, levels, true);
}

}  // namespace dwt97::detail
