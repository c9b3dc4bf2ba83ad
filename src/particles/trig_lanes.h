// Sine and cosine over lanes: the fast reduction by pi/2 and the two
// polynomial kernels, written once for a plain double and for vectors.
// Lanes that the fast reduction cannot serve are reduced exactly, one by
// one, by reduceExact; the choice depends on the lane's argument alone, so
// a lane's result never depends on its neighbours.
#pragma once

#include <cstdint>

#include "particles/lanes.h"
#include "particles/trig.h"

namespace nebla::particles::trig {

// pi/2 in three pieces. The first two hold 23 and 22 significant bits, so
// that k times either is exact for |k| < 2^30; the third rounds the rest.
inline constexpr double kPiOver2Part1 = 0x1.921fb4p+0;
inline constexpr double kPiOver2Part2 = 0x1.4442dp-24;
inline constexpr double kPiOver2Part3 = 0x1.8469898cc517p-48;
inline constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
// Adding and subtracting 1.5 * 2^52 rounds to the nearest integer and
// leaves that integer in the low bits of the sum.
inline constexpr double kRoundingShifter = 0x1.8p52;

// The fast reduction is valid below this magnitude: with |k| < 2^30 the
// first two products are exact and the result is within 2^-67 of the true
// remainder.
inline constexpr double kFastLimit = 0x1p30;
// Below this remainder 2^-67 would be too coarse, so such rare arguments
// take the exact reduction.
inline constexpr double kSmallRemainder = 0x1p-10;

// Polynomial kernels for |r| <= pi/4 (as published with fdlibm).
inline constexpr double kS1 = -1.66666666666666324348e-01;
inline constexpr double kS2 = 8.33333333332248946124e-03;
inline constexpr double kS3 = -1.98412698298579493134e-04;
inline constexpr double kS4 = 2.75573137070700676789e-06;
inline constexpr double kS5 = -2.50507602534068634195e-08;
inline constexpr double kS6 = 1.58969099521155010221e-10;
inline constexpr double kC1 = 4.16666666666666019037e-02;
inline constexpr double kC2 = -1.38888888888741095749e-03;
inline constexpr double kC3 = 2.48015872894767294178e-05;
inline constexpr double kC4 = -2.75573143513906633035e-07;
inline constexpr double kC5 = 2.08757232129817482790e-09;
inline constexpr double kC6 = -1.13596475577881948265e-11;

template <class V>
struct Reduced {
  V hi;
  V lo;
  lanes::BitsOf<V> quadrant;  // only the low two bits count
};

namespace {

using lanes::BitsOf;

// x = k * pi/2 + (hi + lo). t2 is exact. The last piece joins through a
// fast two-sum, exact whenever |t2| >= |p3|; that holds for every lane that
// keeps this result, since |p3| < 2^-17 and lanes with |hi| < 2^-10 are
// reduced exactly instead.
template <class V>
inline __attribute__((always_inline)) Reduced<V> reduceFast(V x) {
  const V shifted = x * kTwoOverPi + kRoundingShifter;
  const V k = shifted - kRoundingShifter;
  const V t2 = (x - k * kPiOver2Part1) - k * kPiOver2Part2;
  const V p3 = k * kPiOver2Part3;
  const V hi = t2 - p3;
  const V lo = (t2 - hi) - p3;
  return {hi, lo, lanes::bitsOf(shifted)};
}

// Lanes that need the exact reduction: large, NaN or infinite arguments,
// and remainders so small that the fast reduction's error would show (for
// k = 0 the fast result is exact, but such tiny arguments are rare enough
// not to test k).
template <class V>
inline __attribute__((always_inline)) BitsOf<V> needsExact(V x, const Reduced<V>& r) {
  return ~lanes::lessThan(lanes::absolute(x), lanes::splat<V>(kFastLimit)) |
         lanes::lessThan(lanes::absolute(r.hi), lanes::splat<V>(kSmallRemainder));
}

// The rare lanes the fast reduction cannot serve, one by one.
template <class V>
__attribute__((noinline, cold)) void reduceLanesExactly(V x, BitsOf<V> lanes, Reduced<V>& r) {
  if constexpr (lanes::kScalar<V>) {
    int q = 0;
    reduceExact(x, r.hi, r.lo, q);
    r.quadrant = static_cast<std::uint64_t>(q);
  } else {
    for (int i = 0; i < lanes::Traits<V>::count; ++i) {
      if (lanes[i] == 0) continue;
      double hi = 0.0, lo = 0.0;
      int q = 0;
      reduceExact(x[i], hi, lo, q);
      r.hi[i] = hi;
      r.lo[i] = lo;
      r.quadrant[i] = static_cast<std::uint64_t>(q);
    }
  }
}

// Both kernels on n reduced arguments at once, stage by stage, so that the
// n independent chains overlap in the processor: sin(hi + lo) and
// cos(hi + lo) for |hi| <= pi/4 and lo below half an ulp of hi.
template <class V, int n>
inline __attribute__((always_inline)) void kernels(const Reduced<V> (&r)[n], V (&sin)[n],
                                                   V (&cos)[n]) {
  V z[n], v[n], w[n], ps[n], pc1[n], pc2[n];
#pragma GCC unroll 8
  for (int i = 0; i < n; ++i) {
    z[i] = r[i].hi * r[i].hi;
    v[i] = z[i] * r[i].hi;
    w[i] = z[i] * z[i];
  }
#pragma GCC unroll 8
  for (int i = 0; i < n; ++i) {
    ps[i] = kS5 + z[i] * kS6;
    pc1[i] = kC2 + z[i] * kC3;
    pc2[i] = kC5 + z[i] * kC6;
  }
#pragma GCC unroll 8
  for (int i = 0; i < n; ++i) {
    ps[i] = kS4 + z[i] * ps[i];
    pc1[i] = kC1 + z[i] * pc1[i];
    pc2[i] = kC4 + z[i] * pc2[i];
  }
#pragma GCC unroll 8
  for (int i = 0; i < n; ++i) {
    ps[i] = kS3 + z[i] * ps[i];
    pc1[i] = z[i] * pc1[i] + (w[i] * w[i]) * pc2[i];
  }
#pragma GCC unroll 8
  for (int i = 0; i < n; ++i) {
    ps[i] = kS2 + z[i] * ps[i];
    sin[i] = r[i].hi - ((z[i] * (0.5 * r[i].lo - v[i] * ps[i]) - r[i].lo) - v[i] * kS1);
    const V hz = 0.5 * z[i];
    const V one = lanes::splat<V>(1.0);
    const V u = one - hz;
    cos[i] = u + (((one - u) - hz) + (z[i] * pc1[i] - r[i].hi * r[i].lo));
  }
}

// sin (shift 0) or cos (shift 1) of n vectors of arguments. The quadrant
// picks sin, cos, -sin or -cos of the reduced argument; the cosine is the
// sine one quadrant on.
template <class V, int n>
inline __attribute__((always_inline)) void evaluate(const V (&x)[n], const int (&shift)[n],
                                                    V (&out)[n]) {
  Reduced<V> r[n];
  BitsOf<V> exact[n];
  BitsOf<V> anyExact{};
#pragma GCC unroll 8
  for (int i = 0; i < n; ++i) r[i] = reduceFast(x[i]);
#pragma GCC unroll 8
  for (int i = 0; i < n; ++i) {
    exact[i] = needsExact(x[i], r[i]);
    anyExact |= exact[i];
  }
  if (lanes::any<V>(anyExact)) [[unlikely]] {
    for (int i = 0; i < n; ++i) {
      if (lanes::any<V>(exact[i])) reduceLanesExactly(x[i], exact[i], r[i]);
    }
  }
  V sin[n], cos[n];
  kernels(r, sin, cos);
#pragma GCC unroll 8
  for (int i = 0; i < n; ++i) {
    const BitsOf<V> quadrant = r[i].quadrant + static_cast<std::uint64_t>(shift[i]);
    const BitsOf<V> odd = BitsOf<V>{} - (quadrant & 1);
    const BitsOf<V> sign = (quadrant & 2) << 62;
    out[i] = lanes::fromBits<V>(lanes::bitsOf(lanes::select<V>(odd, cos[i], sin[i])) ^ sign);
  }
}

template <class V>
inline __attribute__((always_inline)) V sineOf(V x) {
  V out[1];
  evaluate<V, 1>({x}, {0}, out);
  return out[0];
}

template <class V>
inline __attribute__((always_inline)) V cosineOf(V x) {
  V out[1];
  evaluate<V, 1>({x}, {1}, out);
  return out[0];
}

}  // namespace
}  // namespace nebla::particles::trig
