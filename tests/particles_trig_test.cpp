// The flow field's sine and cosine give the same bits everywhere: vector
// lanes that must give the scalar function's bits whatever their neighbours
// are, and golden bits of the functions and of one flow batch.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>

#include "particles/flow_batch.h"
#include "particles/lanes.h"
#include "particles/simd_target.h"
#include "particles/trig.h"
#include "particles/trig_lanes.h"

namespace nebla::particles {
namespace {

// Vectors holding fast and exact lanes side by side give each lane the
// scalar function's bits.
template <class V>
void expectLanesMatchScalar(std::mt19937_64& random) {
  constexpr int n = lanes::Traits<V>::count;
  for (int round = 0; round < 20000; ++round) {
    V x;
    for (int i = 0; i < n; ++i) {
      const int kind = static_cast<int>(random() % 8);
      x[i] = kind == 0   ? std::ldexp(1.0, 30 + static_cast<int>(random() % 40)) * 1.37
             : kind == 1 ? 1.5707963267948966 * static_cast<double>(1 + random() % 1000)
                         : static_cast<double>(random() % 2000000) * 0.001 - 10.0;
    }
    V out[2];
    trig::evaluate<V, 2>({x, x}, {0, 1}, out);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(out[0][i]), std::bit_cast<std::uint64_t>(sine(x[i])))
          << x[i];
      ASSERT_EQ(std::bit_cast<std::uint64_t>(out[1][i]), std::bit_cast<std::uint64_t>(cosine(x[i])))
          << x[i];
    }
  }
}

TEST(Trig, EveryVectorWidthGivesTheScalarBits) {
  std::mt19937_64 random(7);
  expectLanesMatchScalar<lanes::D2>(random);
  expectLanesMatchScalar<lanes::D4>(random);
  expectLanesMatchScalar<lanes::D8>(random);
}

// FNV-1a over the bits of doubles and floats.
struct BitHash {
  std::uint64_t value = 1469598103934665603ull;
  template <class T>
  void add(T v) {
    unsigned char bytes[sizeof v];
    std::memcpy(bytes, &v, sizeof v);
    for (unsigned char b : bytes) value = (value ^ b) * 1099511628211ull;
  }
};

// The same bits on every build: these values were taken from GCC on x86-64
// and agree with clang and with WebAssembly under node. A change in the
// functions, or a compiler that contracts or reorders their arithmetic,
// shows here.
TEST(Trig, GoldenBitsOfSineAndCosine) {
  BitHash hash;
  double x = 0.37;
  for (int i = 0; i < 200000; ++i) {
    hash.add(sine(x));
    hash.add(cosine(x));
    x = x * 1.00031 + 0.77;
    if (x > 2e9) x = 0.113 * i;
  }
  EXPECT_EQ(hash.value, 0x909d64d68c1d86b7ull) << std::hex << hash.value;
}

// One batch through the flow-field step gives the same bits on every
// instruction set, matching the golden value.
TEST(Trig, GoldenBitsOfOneFlowBatchOnEveryInstructionSet) {
  const simd::Target previous = simd::currentTarget();
  for (simd::Target target : {simd::Target::Portable, simd::Target::Avx2, simd::Target::Avx512}) {
    if (!simd::selectTarget(target)) continue;
    static FlowBatch b;
    for (int k = 0; k < kBatchSize; ++k) {
      b.x[k] = 10.0f + static_cast<float>(k);
      b.y[k] = 300.0f - static_cast<float>(k);
      b.z[k] = 500.0f + static_cast<float>(k) * 0.5f;
      b.vx[k] = 0.1f;
      b.vy[k] = -0.2f;
      b.vz[k] = 0.0f;
      b.targetX[k] = 100.0f;
      b.targetY[k] = 50.0f;
      b.travelTime[k] = k % 3 ? 0 : 50;
      b.life[k] = 20;
      b.random[k] = k * 17 % 6666;
      b.sweep[k] = 1e6 + k * 0.01;
    }
    b.count = kBatchSize;
    moveBatch(b, FlowConstants{23.1, 45.2, 31.3, 80.4, 27.5, 0.25, -0.5, 637.0, 477.0, 644});
    BitHash hash;
    for (int k = 0; k < kBatchSize; ++k) {
      for (float f : {b.x[k], b.y[k], b.z[k], b.vx[k], b.vy[k], b.vz[k]}) hash.add(f);
      hash.add(b.cell[k]);
    }
    EXPECT_EQ(hash.value, 0xe498c0e195fdb746ull)
        << simd::targetName(target) << ": " << std::hex << hash.value;
  }
  simd::selectTarget(previous);
}

}  // namespace
}  // namespace nebla::particles
