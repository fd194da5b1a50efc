// The lane primitives every pass set shares: one lane as a plain float (the
// tail of every loop), and whole vectors of N floats as the compiler's
// generic vectors, which a set's own header specialises where its
// instruction set has something better.
//
// A pass set's code is compiled once per instruction set and linked into one
// program, so nothing here may have external linkage: an inline function the
// linker keeps once for the whole program could be the copy compiled for an
// instruction set the processor lacks. Everything lives in an unnamed
// namespace, and beside the compiler's builtins only the library's own
// out-of-line functions (mirrorIndex, toSaturatedByte) are called.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "dwt97/filterbank.h"

namespace {

// One lane: the primitives on a single float.
struct OneLane {
  static constexpr int lanes = 1;
  using V = float;

  static V splat(float x) { return x; }
  static V load(const float* p) { return *p; }
  static void store(float* p, V v) { *p = v; }
  static void storeFinal(float* p, V v) { *p = v; }
  static void storeFinalInterleaved(float* p, V even, V odd) { storeInterleaved(p, even, odd); }
  static void finishFinal() {}
  static void storeLanes(float* p, V v, int first, int last, bool) {
    if (first < last) *p = v;
  }
  static void storeInterleavedLanes(float* p, V even, V odd, int first, int last, bool) {
    if (first < last) storeInterleaved(p, even, odd);
  }
  // The byte, converted exactly.
  static V loadBytes(const std::uint8_t* p) { return static_cast<float>(*p); }
  // The two bytes of a sample pair, as the even and the odd sample.
  static void deinterleaveBytes(const std::uint8_t* x, float* even, float* odd) {
    *even = static_cast<float>(x[0]);
    *odd = static_cast<float>(x[1]);
  }
  // The two floats of a sample pair, as the even and the odd sample.
  static void deinterleaveFloats(const float* x, float* even, float* odd) {
    *even = x[0];
    *odd = x[1];
  }
  // The pair even, odd stored one after the other.
  static void storeInterleaved(float* p, V even, V odd) {
    p[0] = even;
    p[1] = odd;
  }
  // s[k] = the value k places on from p.
  static void window5(const float* p, V (&s)[5]) {
    for (int k = 0; k < 5; ++k) s[k] = p[k];
  }
  // s[k] = the value k - 2 places on from p.
  static void window5Around(const float* p, V (&s)[5]) { window5(p - 2, s); }
  // Truncation toward zero to a 32-bit integer, then its low byte: outputs
  // wrap modulo 256. Sums of byte inputs stay far inside the 32-bit range,
  // so the conversion is always defined.
  static void storeTruncated(std::uint8_t* p, V v) {
    *p = static_cast<std::uint8_t>(static_cast<std::uint32_t>(static_cast<std::int32_t>(v)));
  }
  // The float of that byte: what a later pass reads back from it.
  static void storeByteFloats(float* p, V v) {
    *p = static_cast<float>(static_cast<std::int32_t>(v) & 0xFF);
  }
  // Rounded to nearest (ties to even) and saturated to -128..127, stored
  // as the pair even, odd.
  static void storeRoundedPairs(std::uint8_t* p, V even, V odd) {
    p[0] = static_cast<std::uint8_t>(toSaturatedByte(even));
    p[1] = static_cast<std::uint8_t>(toSaturatedByte(odd));
  }
};

// The compiler's generic vectors of N lanes: floats, 32-bit integers, bytes.
template <int N>
struct VectorsOf;
template <>
struct VectorsOf<4> {
  typedef float Floats __attribute__((vector_size(16)));
  typedef std::int32_t Ints __attribute__((vector_size(16)));
  typedef std::uint8_t Bytes __attribute__((vector_size(4)));
};
template <>
struct VectorsOf<8> {
  typedef float Floats __attribute__((vector_size(32)));
  typedef std::int32_t Ints __attribute__((vector_size(32)));
  typedef std::uint8_t Bytes __attribute__((vector_size(8)));
};
template <>
struct VectorsOf<16> {
  typedef float Floats __attribute__((vector_size(64)));
  typedef std::int32_t Ints __attribute__((vector_size(64)));
  typedef std::uint8_t Bytes __attribute__((vector_size(16)));
};

// N lanes of the compiler's generic vectors. `Self` is the set's own
// primitives, so that the composite operations here use its specialised
// loads and stores.
template <int N, typename Self>
struct GenericLanes {
  static constexpr int lanes = N;
  using V = typename VectorsOf<N>::Floats;
  using VInt = typename VectorsOf<N>::Ints;
  using VByte = typename VectorsOf<N>::Bytes;

  static V splat(float x) { return x - V{}; }  // (x - 0 is x for every x)
  static V load(const float* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static void store(float* p, V v) { std::memcpy(p, &v, sizeof v); }
  // A store of a final output, which nothing reads back soon: where the
  // set has them, past the caches when p is aligned. A kernel that makes
  // such stores calls finishFinal() before it returns.
  static void storeFinal(float* p, V v) { Self::store(p, v); }
  static void storeFinalInterleaved(float* p, V even, V odd) {
    Self::storeFinal(p, zip(even, odd, std::make_integer_sequence<int, N>{}, 0));
    Self::storeFinal(p + N, zip(even, odd, std::make_integer_sequence<int, N>{}, N / 2));
  }
  static void finishFinal() {}
  // Lanes [first, last) of v alone; with `final`, a whole vector is stored
  // as storeFinal() stores it.
  static void storeLanes(float* p, V v, int first, int last, bool final) {
    if (first == 0 && last == N) {
      if (final) {
        Self::storeFinal(p, v);
      } else {
        Self::store(p, v);
      }
    } else {
      Self::storeMasked(p, v, first, last);
    }
  }
  static void storeMasked(float* p, V v, int first, int last) {
    for (int k = first; k < last; ++k) p[k] = v[k];
  }
  // The pairs of lanes [first, last) of even and odd, interleaved.
  static void storeInterleavedLanes(float* p, V even, V odd, int first, int last, bool final) {
    const auto clamp = [](int k) { return k < 0 ? 0 : k > N ? N : k; };
    storeLanes(p, zip(even, odd, std::make_integer_sequence<int, N>{}, 0), clamp(2 * first),
               clamp(2 * last), final);
    storeLanes(p + N, zip(even, odd, std::make_integer_sequence<int, N>{}, N / 2),
               clamp(2 * first - N), clamp(2 * last - N), final);
  }
  static V loadBytes(const std::uint8_t* p) {
    VByte b;
    std::memcpy(&b, p, sizeof b);
    return __builtin_convertvector(__builtin_convertvector(b, VInt), V);
  }
  static void deinterleaveBytes(const std::uint8_t* x, float* even, float* odd) {
    const V a = Self::loadBytes(x);
    const V b = Self::loadBytes(x + N);
    store(even, pick(a, b, std::make_integer_sequence<int, N>{}, 0));
    store(odd, pick(a, b, std::make_integer_sequence<int, N>{}, 1));
  }
  static void deinterleaveFloats(const float* x, float* even, float* odd) {
    const V a = load(x);
    const V b = load(x + N);
    store(even, pick(a, b, std::make_integer_sequence<int, N>{}, 0));
    store(odd, pick(a, b, std::make_integer_sequence<int, N>{}, 1));
  }
  static void storeInterleaved(float* p, V even, V odd) {
    store(p, zip(even, odd, std::make_integer_sequence<int, N>{}, 0));
    store(p + N, zip(even, odd, std::make_integer_sequence<int, N>{}, N / 2));
  }
  static void window5(const float* p, V (&s)[5]) {
    for (int k = 0; k < 5; ++k) s[k] = load(p + k);
  }
  static void window5Around(const float* p, V (&s)[5]) { Self::window5(p - 2, s); }
  static void storeTruncated(std::uint8_t* p, V v) {
    const VByte b = __builtin_convertvector(__builtin_convertvector(v, VInt), VByte);
    std::memcpy(p, &b, sizeof b);
  }
  static void storeByteFloats(float* p, V v) {
    store(p, __builtin_convertvector(__builtin_convertvector(v, VInt) & 0xFF, V));
  }
  static void storeRoundedPairs(std::uint8_t* p, V even, V odd) {
    for (int i = 0; i < N; ++i) OneLane::storeRoundedPairs(p + 2 * i, even[i], odd[i]);
  }

  // Lanes first, first + 2, first + 4, ... of the pair a, b: constant lane
  // lists, so that the shuffle compiles to a fixed permutation.
  template <int... I>
  static V pick(V a, V b, std::integer_sequence<int, I...>, int first) {
#if defined(__clang__)
    return first == 0 ? __builtin_shufflevector(a, b, (2 * I)...)
                      : __builtin_shufflevector(a, b, (2 * I + 1)...);
#else
    return first == 0 ? __builtin_shuffle(a, b, VInt{(2 * I)...})
                      : __builtin_shuffle(a, b, VInt{(2 * I + 1)...});
#endif
  }

  // Lanes from, from + N, from + 1, from + 1 + N, ... of the pair a, b:
  // a's and b's lanes alternating, from lane `from` of each.
  template <int... I>
  static V zip(V a, V b, std::integer_sequence<int, I...>, int from) {
#if defined(__clang__)
    return from == 0 ? __builtin_shufflevector(a, b, (I / 2 + (I % 2) * N)...)
                     : __builtin_shufflevector(a, b, (N / 2 + I / 2 + (I % 2) * N)...);
#else
    return from == 0 ? __builtin_shuffle(a, b, VInt{(I / 2 + (I % 2) * N)...})
                     : __builtin_shuffle(a, b, VInt{(N / 2 + I / 2 + (I % 2) * N)...});
#endif
  }
};

inline void prefetch(const void* p) { __builtin_prefetch(p); }

}  // namespace
