// Lanes of doubles: the one-lane case (a plain double) and vectors of 2, 4
// and 8 lanes in the compiler's vector extensions, with the few operations
// the flow field needs beyond + - * /. Code written over a lane type gives
// the same bits per lane whatever the width, since every operation is an
// IEEE operation on each lane alone.
#pragma once

#include <cstdint>
#include <type_traits>

#if defined(__AVX__)
#include <immintrin.h>
#endif

namespace nebla::particles::lanes {

typedef double D2 __attribute__((vector_size(16)));
typedef double D4 __attribute__((vector_size(32)));
typedef double D8 __attribute__((vector_size(64)));
typedef std::uint64_t U2 __attribute__((vector_size(16)));
typedef std::uint64_t U4 __attribute__((vector_size(32)));
typedef std::uint64_t U8 __attribute__((vector_size(64)));

template <class V>
struct Traits;
template <>
struct Traits<double> {
  using Bits = std::uint64_t;
  static constexpr int count = 1;
};
template <>
struct Traits<D2> {
  using Bits = U2;
  static constexpr int count = 2;
};
template <>
struct Traits<D4> {
  using Bits = U4;
  static constexpr int count = 4;
};
template <>
struct Traits<D8> {
  using Bits = U8;
  static constexpr int count = 8;
};

template <class V>
using BitsOf = typename Traits<V>::Bits;
template <class V>
inline constexpr bool kScalar = std::is_same_v<V, double>;

// Everything below is internal to each translation unit, so that copies
// built for different instruction sets never stand in for one another.
namespace {

template <class V>
inline __attribute__((always_inline)) BitsOf<V> bitsOf(V v) {
  return __builtin_bit_cast(BitsOf<V>, v);
}

template <class V>
inline __attribute__((always_inline)) V fromBits(BitsOf<V> b) {
  return __builtin_bit_cast(V, b);
}

// All ones where a < b, else 0.
template <class V>
inline __attribute__((always_inline)) BitsOf<V> lessThan(V a, V b) {
  if constexpr (kScalar<V>) {
    return a < b ? ~std::uint64_t{0} : 0;
  } else {
    return reinterpret_cast<BitsOf<V>>(a < b);
  }
}

template <class V>
inline __attribute__((always_inline)) BitsOf<V> notEqual(V a, V b) {
  if constexpr (kScalar<V>) {
    return a != b ? ~std::uint64_t{0} : 0;
  } else {
    return reinterpret_cast<BitsOf<V>>(a != b);
  }
}

// a where the mask is set, else b.
template <class V>
inline __attribute__((always_inline)) V select(BitsOf<V> mask, V a, V b) {
  return fromBits<V>((bitsOf(a) & mask) | (bitsOf(b) & ~mask));
}

template <class V>
inline __attribute__((always_inline)) bool any(BitsOf<V> mask) {
  if constexpr (kScalar<V>) {
    return mask != 0;
#if defined(__AVX512F__)
  } else if constexpr (std::is_same_v<V, D8>) {
    const __m512i m = __builtin_bit_cast(__m512i, mask);
    return _mm512_test_epi64_mask(m, m) != 0;
#endif
#if defined(__AVX__)
  } else if constexpr (std::is_same_v<V, D4>) {
    const __m256i m = __builtin_bit_cast(__m256i, mask);
    return _mm256_testz_si256(m, m) == 0;
#endif
  } else {
    std::uint64_t all = 0;
    for (int i = 0; i < Traits<V>::count; ++i) all |= mask[i];
    return all != 0;
  }
}

template <class V>
inline __attribute__((always_inline)) V absolute(V v) {
  return fromBits<V>(bitsOf(v) & ~(std::uint64_t{1} << 63));
}

template <class V>
inline __attribute__((always_inline)) V splat(double value) {
  if constexpr (kScalar<V>) {
    return value;
  } else {
    return V{} + value;
  }
}

}  // namespace
}  // namespace nebla::particles::lanes
