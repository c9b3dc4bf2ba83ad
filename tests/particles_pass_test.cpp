// The particle pass: the worked first-frame example, bounds, footprint,
// saturation, stamping, target pull, and a golden checksum that guards
// bit-exact floating point across builds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "particles/flow.h"
#include "particles/particle_system.h"
#include "particles/random.h"

namespace nebla::particles {
namespace {

constexpr std::uint32_t kW = 640, kH = 480;
constexpr std::int32_t kPitch = 704;  // wider than the screen on purpose
constexpr std::int32_t kTextPitch = 672;

struct Images {
  std::vector<std::uint8_t> density = std::vector<std::uint8_t>(kPitch * kH, 0);
  std::vector<std::uint8_t> text = std::vector<std::uint8_t>(kTextPitch * kH, 1);
  std::uint8_t& d(int x, int y) { return density[y * kPitch + x]; }
  std::uint8_t& t(int x, int y) { return text[y * kTextPitch + x]; }
};

void resetEngine() {
  resetRandomForTest();
  sweepPhase = 1.1;
  phases = FlowPhases{};
}

void pass(ParticleSystem& ps, Images& im) {
  ps.advance({im.density.data(), kPitch}, {im.text.data(), kTextPitch}, kW, kH);
}

bool inFootprint(int dx, int dy) {
  return std::abs(dx) <= 2 && std::abs(dy) <= 2 && !(std::abs(dx) == 2 && std::abs(dy) == 2);
}

// Every byte of the image holds `inside` on the footprint around (cx, cy)
// and `outside` elsewhere, padding included.
void expectFootprint(const std::vector<std::uint8_t>& img, std::int32_t pitch, int cx, int cy,
                     std::uint8_t inside, std::uint8_t outside) {
  for (int y = 0; y < static_cast<int>(kH); ++y) {
    for (int x = 0; x < pitch; ++x) {
      bool on = inFootprint(x - cx, y - cy);
      ASSERT_EQ(img[y * pitch + x], on ? inside : outside) << x << "," << y;
    }
  }
}

// Draws until the next value would be `wanted` modulo `mod`, using a copy of
// the generator's recurrence.
void primeRandom(std::int32_t wanted, std::int32_t mod) {
  std::uint32_t s = 1;
  int skip = 0;
  for (;; ++skip) {
    s = s * 214013u + 2531011u;
    if (static_cast<std::int32_t>((s >> 16) & 0x7FFF) % mod == wanted) break;
  }
  resetRandomForTest();
  for (int i = 0; i < skip; ++i) rand();
}

TEST(ParticlesRandom, FirstResultsFromTheStartState) {
  resetRandomForTest();
  std::vector<std::int32_t> got;
  for (int i = 0; i < 5; ++i) got.push_back(rand());
  EXPECT_EQ(got, (std::vector<std::int32_t>{41, 18467, 6334, 26500, 19169}));
  resetRandomForTest();
  EXPECT_EQ(rand(), 41);
}

TEST(ParticlesRandom, BatchDrawsAreTheSameSequenceAsSingleDraws) {
  for (int count : {0, 1, 3, 4, 5, 8, 255, 256}) {
    resetRandomForTest();
    for (int i = 0; i < 7; ++i) rand();  // start mid-sequence
    std::vector<std::int32_t> single;
    for (int i = 0; i < count + 2; ++i) single.push_back(rand());
    resetRandomForTest();
    for (int i = 0; i < 7; ++i) rand();
    std::vector<std::int32_t> batch(static_cast<std::size_t>(count));
    drawRandom(batch.data(), count);
    batch.push_back(rand());  // the state after the batch continues alike
    batch.push_back(rand());
    EXPECT_EQ(batch, single) << count << " draws";
  }
}

TEST(ParticlesRandom, JumpingAheadLandsWhereSingleDrawsDo) {
  for (std::uint64_t draws : {0u, 1u, 2u, 255u, 49999u, 100000u}) {
    resetRandomForTest();
    for (int i = 0; i < 11; ++i) rand();
    const std::uint32_t start = randomState();
    for (std::uint64_t i = 0; i < draws; ++i) rand();
    EXPECT_EQ(randomStateAfter(start, draws), randomState()) << draws << " draws";
  }
  // The period is 2^32: a full turn comes back.
  EXPECT_EQ(randomStateAfter(12345u, std::uint64_t{1} << 32), 12345u);
}

TEST(ParticlesPass, WorkedFirstFrameExample) {
  resetEngine();
  ParticleSystem ps(16);
  Images im;
  ps.spawn(10, 320, 240, 500, 0.0, 0.0, 0.0, -1, -1, false);
  primeRandom(3333, 6666);
  pass(ps, im);
  const Particle& p = ps.records[2];
  EXPECT_NEAR(p.vx, 0.58783, 5e-6);
  EXPECT_NEAR(p.vy, -0.27547, 5e-6);
  EXPECT_NEAR(p.vz, 0.39357, 5e-6);
  EXPECT_NEAR(p.x, 320.5878, 5e-5);
  EXPECT_NEAR(p.y, 239.7245, 5e-5);
  EXPECT_NEAR(p.z, 500.3936, 5e-5);
  EXPECT_DOUBLE_EQ(sweepPhase, 1.11);
  expectFootprint(im.density, kPitch, 320, 240, 1, 0);
  EXPECT_EQ(ps.frameCounter, 1u);
  EXPECT_DOUBLE_EQ(phases.phase1, 2.31);
  EXPECT_DOUBLE_EQ(phases.phase5, 5.409);
}

TEST(ParticlesPass, EmptyPassCountsTheFrameButDrawsNothing) {
  resetEngine();
  ParticleSystem ps(16);
  Images im;
  pass(ps, im);
  EXPECT_EQ(ps.frameCounter, 1u);
  EXPECT_DOUBLE_EQ(phases.phase2, 4.121);
  EXPECT_DOUBLE_EQ(sweepPhase, 1.1);
  EXPECT_EQ(rand(), 41);  // no draw was made
  for (auto b : im.density) ASSERT_EQ(b, 0);
}

TEST(ParticlesPass, BoundsDecideWhetherAParticleDraws) {
  resetEngine();
  ParticleSystem ps(16);
  Images im;
  ps.spawn(5, 3, 100, 500, 0, 0, 0, -1, -1, false);
  ps.records[2].x = 2.99f;  // cell 2: moved, not drawn
  pass(ps, im);
  for (auto b : im.density) ASSERT_EQ(b, 0);
  EXPECT_NE(ps.records[2].x, 2.99f);

  Images im2;
  ps.spawn(5, 3, 100, 500, 0, 0, 0, -1, -1, false);  // exactly 3.0: drawn, columns 1..5
  ps.records[3].x = 3.0f;
  ps.records[2].x = 700.0f;
  pass(ps, im2);
  expectFootprint(im2.density, kPitch, 3, 100, 1, 0);

  Images im3;
  ps.records[2].x = 636.5f;  // last column drawn
  ps.records[2].y = 476.9f;
  ps.records[3].x = 637.0f;  // first column not drawn
  pass(ps, im3);
  expectFootprint(im3.density, kPitch, 636, 476, 1, 0);
}

TEST(ParticlesPass, LifeOneDrawsOnceAtTheSpawnCellAndIsReleased) {
  resetEngine();
  ParticleSystem ps(16);
  Images im;
  ps.spawn(1, 100, 50, 500, 0, 0, 0, -1, -1, true);
  pass(ps, im);
  EXPECT_EQ(ps.activeCount(), 0);
  expectFootprint(im.density, kPitch, 100, 50, 1, 0);
  expectFootprint(im.text, kTextPitch, 100, 50, 2, 1);  // stamped too
  Images again;
  pass(ps, again);
  for (auto b : again.density) ASSERT_EQ(b, 0);
}

TEST(ParticlesPass, DensitySaturatesAt255) {
  resetEngine();
  ParticleSystem ps(1000);
  Images im;
  im.d(200, 200) = 250;
  for (int i = 0; i < 300; ++i) ps.spawn(1, 200, 200, 500, 0, 0, 0, -1, -1, false);
  pass(ps, im);
  EXPECT_EQ(im.d(200, 200), 255);
  EXPECT_EQ(im.d(198, 200), 255);
  EXPECT_EQ(im.d(198, 198), 0);  // a corner is not part of the footprint
}

TEST(ParticlesPass, OnlyDyingStampedParticlesInsideTheBoundsStamp) {
  resetEngine();
  ParticleSystem ps(16);
  Images im;
  ps.spawn(1, 50, 50, 500, 0, 0, 0, -1, -1, false);  // no flag
  ps.spawn(2, 80, 80, 500, 0, 0, 0, -1, -1, true);   // flag, still alive
  ps.spawn(1, 1, 80, 500, 0, 0, 0, -1, -1, true);    // flag, outside
  pass(ps, im);
  for (auto b : im.text) ASSERT_EQ(b, 1);
  EXPECT_EQ(ps.activeCount(), 1);
}

TEST(ParticlesPass, TargetIsReachedInTheLastPassAndTheStampLandsOneStepEarlier) {
  resetEngine();
  ParticleSystem ps(16);
  Images im;
  ps.spawn(50, 500, 400, 500, 0, 0, 0, 120, 90, true);
  for (int i = 0; i < 49; ++i) pass(ps, im);
  const Particle& p = ps.records[2];
  int cx = static_cast<int>(p.x), cy = static_cast<int>(p.y);
  EXPECT_NEAR(p.x, 120.0f, 3.0f);  // pulled by 0.9604 already
  Images last;
  pass(ps, last);
  EXPECT_EQ(p.x, 120.0f);
  EXPECT_EQ(p.y, 90.0f);
  EXPECT_EQ(ps.activeCount(), 0);
  expectFootprint(last.text, kTextPitch, cx, cy, 2, 1);
}

TEST(ParticlesPass, WindIsWidenedFromFloat) {
  ParticleSystem ps(8);
  ps.setWind(0.1f, -0.23f);
  EXPECT_EQ(ps.windX, static_cast<double>(0.1f));
  EXPECT_EQ(ps.windY, static_cast<double>(-0.23f));
}

// FNV-1a over every particle field and both images.
struct Hash {
  std::uint64_t h = 1469598103934665603ull;
  void bytes(const void* data, std::size_t n) {
    auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  }
  template <typename T>
  void value(T v) {
    bytes(&v, sizeof v);
  }
};

std::uint64_t hashState(const ParticleSystem& ps, const Images& im) {
  Hash h;
  for (std::uint32_t i = 0; i < ps.poolSize; ++i) {
    const Particle& p = ps.records[i];
    for (float f : {p.x, p.y, p.z, p.vx, p.vy, p.vz, p.targetX, p.targetY}) h.value(f);
    h.value(p.next);
    h.value(p.prev);
    h.value(p.travelTime);
    h.value(p.life);
    h.value(p.stamp);
  }
  h.bytes(im.density.data(), im.density.size());
  h.bytes(im.text.data(), im.text.size());
  h.value(sweepPhase);
  return h.h;
}

// A busy run: bursts with and without targets, stamps, changing wind,
// particles leaving the screen. Any last-bit change in the float work
// changes the checksum, so optimised and sanitizer builds must agree.
TEST(ParticlesPass, GoldenChecksumOfABusyRun) {
  resetEngine();
  ParticleSystem ps(20000);
  Images im;
  for (int frame = 0; frame < 300; ++frame) {
    std::fill(im.density.begin(), im.density.end(), 0);
    for (int i = 0; i < 40; ++i) {
      // Draws are sequenced into locals: argument order is unspecified.
      std::int16_t x = static_cast<std::int16_t>(rand() % 700 - 30);
      std::int16_t y = static_cast<std::int16_t>(rand() % 540 - 30);
      std::uint16_t life = static_cast<std::uint16_t>(rand() % 80 + 1);
      double vx = (rand() % 100) * 0.05 - 2.5;
      double vy = (rand() % 100) * 0.05 - 2.5;
      bool target = i % 3 == 0;
      ps.spawn(life, x, y, 500, vx, vy, 0.0, target ? static_cast<std::int16_t>(x / 2 + 100) : -1,
               static_cast<std::int16_t>(y / 2 + 60), i % 2 == 0);
    }
    ps.setWind(static_cast<float>(std::sin(frame * 0.05)), static_cast<float>(frame % 7) * 0.25f);
    pass(ps, im);
  }
  EXPECT_GT(ps.activeCount(), 1000);
  EXPECT_EQ(hashState(ps, im), 0x6d8511c3074f3462ull) << std::hex << hashState(ps, im);
}

}  // namespace
}  // namespace nebla::particles
