// The CDF 9/7 filter pair as constant data: the six filters every pass
// walks (the analysis pair and the polyphase pieces of the synthesis pair),
// each as its tap positions and coefficients in single precision, and the
// one way every pass steps through a filter. The passes themselves are in
// dwt97/filterbank.h.
#pragma once

#include <cstdint>

#include "dwt97/export.h"

// One filter of N taps at the consecutive whole positions First .. First+N-1:
// positions stored as floats, and the coefficient of each position.
template <int N, int First>
struct FilterTaps {
  static constexpr int count = N;
  static constexpr int first = First;
  float positions[N];
  float coefficients[N];
};

using AnalysisLowTaps = FilterTaps<9, -4>;
using AnalysisHighTaps = FilterTaps<7, -2>;
using SynthesisEvenLowTaps = FilterTaps<3, -1>;
using SynthesisEvenHighTaps = FilterTaps<4, -1>;
using SynthesisOddLowTaps = FilterTaps<4, -2>;
using SynthesisOddHighTaps = FilterTaps<5, -2>;

// Analysis pair: low-pass centred on position 0 (gain 1 at zero frequency),
// high-pass centred on position 1 (gain 1 at the Nyquist frequency).
extern DWT97_API const AnalysisLowTaps analysisLow;
extern DWT97_API const AnalysisHighTaps analysisHigh;
// Polyphase pieces of the synthesis pair: the contribution of the low and the
// high band to even and to odd outputs.
extern DWT97_API const SynthesisEvenLowTaps synthesisEvenLow;
extern DWT97_API const SynthesisEvenHighTaps synthesisEvenHigh;
extern DWT97_API const SynthesisOddLowTaps synthesisOddLow;
extern DWT97_API const SynthesisOddHighTaps synthesisOddHigh;

// Steps through a filter: for each stored position k in ascending order,
// calls use(k, coefficient of k). The position is carried as an integer and
// compared against the last stored position as a float.
template <typename Taps, typename Use>
inline void dwtWalk(const Taps& taps, Use&& use) {
  for (std::int32_t k = static_cast<std::int32_t>(taps.positions[0]);
       !(taps.positions[Taps::count - 1] < static_cast<float>(k)); ++k) {
    use(k, taps.coefficients[k - Taps::first]);
  }
}
