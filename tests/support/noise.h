// The one source of pseudo-random samples for the tests, the benchmarks, the
// fuzzer's seeds and the sample picture: a linear congruential sequence, the
// same numbers on every platform, so that misplaced rows or columns show and
// a failure repeats.
#pragma once

#include <cstdint>

namespace testsupport {

class Noise {
 public:
  explicit Noise(std::uint32_t seed) : state_(seed) {}

  // The next byte: the top bits of the next state.
  std::uint8_t next() {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<std::uint8_t>(state_ >> 24);
  }

 private:
  std::uint32_t state_;
};

}  // namespace testsupport
