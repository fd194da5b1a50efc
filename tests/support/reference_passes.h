// The filter-bank passes written the plain way: a filter walk per tap, the
// symmetric extension on every read, one line at a time. They are slow, and
// obviously right, so they serve as the oracle that the fast passes in src/
// are compared with, bit for bit, and as the baseline of the benchmarks.
#pragma once

#include <cstdint>

#include "dwt97/filterbank.h"

// Same contracts as dwtForwardRows / dwtForwardColumns.
void plainForwardRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                      std::int32_t height);
void plainForwardColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                         std::int32_t height);

// Same contracts as dwtInverseColumns / dwtInverseRows.
void plainInverseColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                         std::int32_t halfHeight);
void plainInverseRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                      std::int32_t halfHeight);
