// The fast particle pass against the plain one: over many busy, randomised
// frames both must leave exactly the same state, bit for bit, on every
// instruction set the machine runs.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "particles/flow.h"
#include "particles/flow_batch.h"
#include "particles/helper_thread.h"
#include "particles/particle_system.h"
#include "particles/random.h"
#include "particles/simd_target.h"

namespace nebla::particles {
namespace {

// The process-wide values a pass reads and changes.
struct EngineState {
  double sweep;
  FlowPhases flow;
  std::uint32_t random;

  static EngineState now() { return {sweepPhase, phases, randomState()}; }
  void restore() const {
    sweepPhase = sweep;
    phases = flow;
    setRandomState(random);
  }
  bool operator==(const EngineState& o) const {
    return std::memcmp(&sweep, &o.sweep, sizeof sweep) == 0 &&
           std::memcmp(&flow, &o.flow, sizeof flow) == 0 && random == o.random;
  }
};

struct Surface {
  std::int32_t pitch;
  std::vector<std::uint8_t> bytes;
};

// A fast pool and a plain one, kept in step.
struct Twin {
  std::uint32_t width, height;
  ParticleSystem fast, plain;
  Surface fastDensity, fastText, plainDensity, plainText;

  Twin(std::uint32_t size, std::uint32_t w, std::uint32_t h, std::int32_t densityPitch,
       std::int32_t textPitch)
      : width(w),
        height(h),
        fast(size),
        plain(size),
        fastDensity{densityPitch,
                    std::vector<std::uint8_t>(static_cast<std::size_t>(densityPitch) * h)},
        fastText{textPitch, std::vector<std::uint8_t>(static_cast<std::size_t>(textPitch) * h, 1)},
        plainDensity(fastDensity),
        plainText(fastText) {}

  void spawn(std::uint16_t life, std::int16_t x, std::int16_t y, std::uint16_t z, double vx,
             double vy, double vz, std::int16_t tx, std::int16_t ty, bool stamp) {
    fast.spawn(life, x, y, z, vx, vy, vz, tx, ty, stamp);
    plain.spawn(life, x, y, z, vx, vy, vz, tx, ty, stamp);
  }

  // One pass of each from the same engine state; the states they leave
  // must agree too.
  void pass() {
    const EngineState before = EngineState::now();
    fast.advance({fastDensity.bytes.data(), fastDensity.pitch},
                 {fastText.bytes.data(), fastText.pitch}, width, height);
    const EngineState afterFast = EngineState::now();
    before.restore();
    plain.advanceReference({plainDensity.bytes.data(), plainDensity.pitch},
                           {plainText.bytes.data(), plainText.pitch}, width, height);
    ASSERT_TRUE(afterFast == EngineState::now()) << "sweepPhase, phases or the random state differ";
  }
};

void expectSamePools(const ParticleSystem& a, const ParticleSystem& b) {
  ASSERT_EQ(a.liveCount, b.liveCount);
  ASSERT_EQ(a.frameCounter, b.frameCounter);
  for (std::uint32_t i = 0; i < a.poolSize; ++i) {
    const Particle& p = a.records[i];
    const Particle& q = b.records[i];
    ASSERT_EQ(p.next, q.next) << "record " << i;
    ASSERT_EQ(p.prev, q.prev) << "record " << i;
    if (i < 2) continue;  // sentinels: only links
    ASSERT_EQ(std::memcmp(&p.x, &q.x, sizeof(float) * 6), 0) << "position or velocity of " << i;
    ASSERT_EQ(std::memcmp(&p.targetX, &q.targetX, sizeof(float) * 2), 0) << "target of " << i;
    ASSERT_EQ(p.travelTime, q.travelTime) << i;
    ASSERT_EQ(p.life, q.life) << i;
    ASSERT_EQ(p.stamp, q.stamp) << i;
  }
}

void expectSameTwins(const Twin& t) {
  expectSamePools(t.fast, t.plain);
  ASSERT_TRUE(t.fastDensity.bytes == t.plainDensity.bytes) << "density images differ";
  ASSERT_TRUE(t.fastText.bytes == t.plainText.bytes) << "text layers differ";
}

// What a frame spawns: bursts like the emitters', with and without targets
// and stamps, some far off the screen and fast, some with a life of 1.
void spawnBurst(Twin& t, std::mt19937& random, int count) {
  const int w = static_cast<int>(t.width), h = static_cast<int>(t.height);
  for (int i = 0; i < count; ++i) {
    const int kind = static_cast<int>(random() % 10);
    const auto x = static_cast<std::int16_t>(static_cast<int>(random() % (w + 40)) - 20);
    const auto y = static_cast<std::int16_t>(static_cast<int>(random() % (h + 40)) - 20);
    const auto life = static_cast<std::uint16_t>(kind == 0 ? 1 : 1 + random() % 90);
    const double vx = (static_cast<int>(random() % 2001) - 1000) * (kind == 1 ? 0.05 : 0.002);
    const double vy = (static_cast<int>(random() % 2001) - 1000) * 0.002;
    const bool targeted = kind >= 6;
    const auto tx = static_cast<std::int16_t>(targeted ? static_cast<int>(random() % w) : -1);
    const auto ty = static_cast<std::int16_t>(random() % h);
    t.spawn(life, x, y, static_cast<std::uint16_t>(480 + random() % 40), vx, vy, 0.1, tx, ty,
            kind % 2 == 0);
  }
}

// Something other than spawn and the pass changes the ring now and then:
// a release from outside, or two neighbours swapped by their links.
void disturbRings(Twin& t, std::mt19937& random) {
  if (t.fast.liveCount < 3) return;
  const int skip = static_cast<int>(random() % static_cast<std::uint32_t>(t.fast.liveCount - 2));
  std::int32_t at = t.fast.records[0].next;
  for (int i = 0; i < skip; ++i) at = t.fast.records[at].next;
  if (random() % 2 == 0) {
    t.fast.release(at);
    t.plain.release(at);
    return;
  }
  for (ParticleSystem* pool : {&t.fast, &t.plain}) {
    Particle* r = pool->records;
    const std::int32_t a = at, b = r[a].next, before = r[a].prev, after = r[b].next;
    r[before].next = b;
    r[b].prev = before;
    r[b].next = a;
    r[a].prev = b;
    r[a].next = after;
    r[after].prev = a;
  }
}

struct Scenario {
  const char* name;
  std::uint32_t poolSize, width, height;
  std::int32_t densityPitch, textPitch;
  int frames, burstMin, burstMax;
};

void runScenario(const Scenario& s, unsigned seed) {
  std::mt19937 random(seed);
  resetRandomForTest();
  sweepPhase = 1.1;
  phases = FlowPhases{};
  Twin t(s.poolSize, s.width, s.height, s.densityPitch, s.textPitch);
  for (int frame = 0; frame < s.frames; ++frame) {
    std::fill(t.fastDensity.bytes.begin(), t.fastDensity.bytes.end(),
              static_cast<std::uint8_t>(frame % 5 == 0 ? 250 : 0));
    t.plainDensity.bytes = t.fastDensity.bytes;
    spawnBurst(t, random,
               s.burstMin + static_cast<int>(random() % static_cast<std::uint32_t>(
                                                            s.burstMax - s.burstMin + 1)));
    const float wx = static_cast<float>(static_cast<int>(random() % 17) - 8) * 0.25f;
    t.fast.setWind(wx, -wx * 0.5f);
    t.plain.setWind(wx, -wx * 0.5f);
    if (random() % 7 == 0) disturbRings(t, random);
    t.pass();
    if (::testing::Test::HasFatalFailure()) return;
    expectSameTwins(t);
    if (::testing::Test::HasFatalFailure()) {
      ADD_FAILURE() << s.name << ": first difference after frame " << frame;
      return;
    }
  }
}

// Every instruction set, with and without the helper thread.
class FastPass : public ::testing::TestWithParam<std::tuple<simd::Target, bool>> {
 protected:
  void SetUp() override {
    previous_ = simd::currentTarget();
    const simd::Target target = std::get<0>(GetParam());
    if (!simd::selectTarget(target))
      GTEST_SKIP() << "this machine lacks " << simd::targetName(target);
    HelperThread::setEnabled(std::get<1>(GetParam()));
    if (std::get<1>(GetParam()) && HelperThread::get() == nullptr)
      GTEST_SKIP() << "no helper thread here";
  }
  void TearDown() override {
    HelperThread::setEnabled(false);
    simd::selectTarget(previous_);
    resetRandomForTest();
    sweepPhase = 1.1;
    phases = FlowPhases{};
  }
  simd::Target previous_ = simd::Target::Portable;
};

TEST_P(FastPass, BusyFramesMatchThePlainPassBitForBit) {
  runScenario({"busy", 30000, 640, 480, 704, 672, 160, 50, 600}, 11);
}

TEST_P(FastPass, FewParticlesSplatOneByOneAndStillMatch) {
  runScenario({"few", 600, 640, 480, 640, 640, 120, 0, 12}, 12);
}

TEST_P(FastPass, AFullPoolDropsSpawnsAlikeAndMatches) {
  runScenario({"full", 3000, 640, 480, 656, 640, 40, 250, 500}, 13);
}

TEST_P(FastPass, ASmallOddScreenWithWidePitchesMatches) {
  runScenario({"small", 8000, 97, 61, 131, 160, 80, 100, 400}, 14);
}

TEST_P(FastPass, SweepPhaseFarFromZeroMatches) {
  Scenario s{"far", 12000, 640, 480, 640, 640, 20, 300, 600};
  std::mt19937 random(15);
  resetRandomForTest();
  phases = FlowPhases{};
  Twin t(s.poolSize, s.width, s.height, s.densityPitch, s.textPitch);
  // Sweep phases just below a power of two, where the steps change size,
  // after hours at full load, and past the fast reduction.
  for (double start : {1.7, 1023.0, 1048574.5, 7.0e7, 1.0e9, 3.0e9}) {
    sweepPhase = start;
    spawnBurst(t, random, 500);
    t.pass();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    expectSameTwins(t);
  }
}

// With the helper on, the pass over a fresh ring splits its walk, and so
// does the next over the survivors. Both halves compute what one thread
// would, so a split that always fell back to one thread shows nowhere else.
TEST(FastPassSplit, AFreshRingTakesTheSplit) {
  HelperThread::setEnabled(true);
  if (HelperThread::get() == nullptr) {
    HelperThread::setEnabled(false);
    GTEST_SKIP() << "no helper thread here";
  }
  ParticleSystem pool(30000);
  Surface density{640, std::vector<std::uint8_t>(640 * 480)};
  Surface text{640, std::vector<std::uint8_t>(640 * 480, 1)};
  for (int i = 0; i < 20000; ++i)
    pool.spawn(100, static_cast<std::int16_t>(100 + i % 400),
               static_cast<std::int16_t>(100 + i % 280), 0, 0.5, -0.5, 0.0, -1, 0, false);
  pool.advance({density.bytes.data(), density.pitch}, {text.bytes.data(), text.pitch}, 640, 480);
  EXPECT_EQ(pool.splitPasses, 1u);
  pool.advance({density.bytes.data(), density.pitch}, {text.bytes.data(), text.pitch}, 640, 480);
  EXPECT_EQ(pool.splitPasses, 2u);
  HelperThread::setEnabled(false);
  resetRandomForTest();
  sweepPhase = 1.1;
  phases = FlowPhases{};
}

INSTANTIATE_TEST_SUITE_P(EveryInstructionSet, FastPass,
                         ::testing::Combine(::testing::Values(simd::Target::Portable,
                                                              simd::Target::Avx2,
                                                              simd::Target::Avx512),
                                            ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<simd::Target, bool>>& info) {
                           return std::string(simd::targetName(std::get<0>(info.param))) +
                                  (std::get<1>(info.param) ? "_helper" : "_alone");
                         });

}  // namespace
}  // namespace nebla::particles
