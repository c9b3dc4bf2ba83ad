// The particle pool's rings: spawn order, exhaustion, reuse, sentinels and
// a randomized check of the rings against a simple model.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <vector>

#include "particles/particle_system.h"
#include "platform/fault.h"
#include "ring_check.h"

using nebla::particles::ParticleSystem;

namespace {

std::vector<std::int32_t> walk(const ParticleSystem& ps, std::int32_t head) {
  std::vector<std::int32_t> order;
  for (std::int32_t i = ps.records[head].next; i != head; i = ps.records[i].next) {
    order.push_back(i);
    if (order.size() > ps.poolSize) break;
  }
  return order;
}

void spawnPlain(ParticleSystem& ps, std::uint16_t life = 5) {
  ps.spawn(life, 10, 10, 500, 0.0, 0.0, 0.0, -1, -1, false);
}

void expectRingsConsistent(const ParticleSystem& ps) {
  EXPECT_EQ(nebla::testing::ringFault(ps), "");
}

}  // namespace

TEST(ParticlesPool, FreshPoolIsEmptyAndHandsOutRecordsInOrder) {
  ParticleSystem ps(100000);
  ASSERT_NE(ps.records, nullptr);
  EXPECT_EQ(ps.activeCount(), 0);
  EXPECT_EQ(ps.activeHead, 0);
  EXPECT_EQ(ps.freeHead, 1);
  EXPECT_EQ(ps.frameCounter, 0u);
  EXPECT_EQ(ps.windX, 0.0);
  spawnPlain(ps);
  spawnPlain(ps);
  spawnPlain(ps);
  // Newest first: the third spawn (record 4) leads the active ring.
  EXPECT_EQ(walk(ps, ps.activeHead), (std::vector<std::int32_t>{4, 3, 2}));
  EXPECT_EQ(ps.activeCount(), 3);
  expectRingsConsistent(ps);
}

TEST(ParticlesPool, ExhaustionDropsFurtherSpawnsSilently) {
  ParticleSystem ps(100000);
  for (int i = 0; i < 99998; ++i) spawnPlain(ps);
  EXPECT_EQ(ps.activeCount(), 99998);
  EXPECT_EQ(ps.records[ps.freeHead].next, ps.freeHead);
  std::int32_t first = ps.records[ps.activeHead].next;
  spawnPlain(ps, 9);
  EXPECT_EQ(ps.activeCount(), 99998);
  EXPECT_EQ(ps.records[ps.activeHead].next, first);
  EXPECT_EQ(ps.records[first].life, 5);
}

TEST(ParticlesPool, ReleaseIsLastInFirstOut) {
  ParticleSystem ps(16);
  for (int i = 0; i < 6; ++i) spawnPlain(ps);
  ps.release(4);
  ps.release(6);
  EXPECT_EQ(ps.activeCount(), 4);
  spawnPlain(ps);
  EXPECT_EQ(ps.records[ps.activeHead].next, 6);
  spawnPlain(ps);
  EXPECT_EQ(ps.records[ps.activeHead].next, 4);
  expectRingsConsistent(ps);
}

TEST(ParticlesPool, ReleasingASentinelChangesNothing) {
  ParticleSystem ps(8);
  spawnPlain(ps);
  ps.release(0);
  ps.release(1);
  EXPECT_EQ(ps.activeCount(), 1);
  expectRingsConsistent(ps);
}

TEST(ParticlesPool, SpawnStoresArgumentsWithTheirTypes) {
  ParticleSystem ps(8);
  ps.spawn(71, -1, 7, 500, 0.1, -2.5, 1e-50, 300, -1, true);
  const auto& p = ps.records[2];
  EXPECT_EQ(p.x, -1.0f);
  EXPECT_EQ(p.y, 7.0f);
  EXPECT_EQ(p.z, 500.0f);
  EXPECT_EQ(p.vx, static_cast<float>(0.1));
  EXPECT_EQ(p.vz, 0.0f);
  EXPECT_EQ(p.targetX, 300.0f);
  EXPECT_EQ(p.targetY, -1.0f);
  EXPECT_EQ(p.travelTime, 71);  // only targetX = -1 means "no target"
  EXPECT_TRUE(p.stamp);
  ps.spawn(71, 0, 0, 65535, 0, 0, 0, -1, 200, false);
  EXPECT_EQ(ps.records[3].travelTime, 0);
  EXPECT_EQ(ps.records[3].z, 65535.0f);
}

TEST(ParticlesPool, RandomSpawnsAndReleasesKeepTheRingsSound) {
  ParticleSystem ps(300);
  std::deque<std::int32_t> model;  // active ring, newest first
  std::vector<std::int32_t> freeStack;
  for (std::int32_t i = 299; i >= 2; --i) freeStack.push_back(i);  // top = next handed out
  std::mt19937 gen(12345);
  for (int step = 0; step < 20000; ++step) {
    if (gen() % 3 != 0) {
      spawnPlain(ps);
      if (!freeStack.empty()) {
        model.push_front(freeStack.back());
        freeStack.pop_back();
      }
    } else if (!model.empty()) {
      std::size_t k = gen() % model.size();
      std::int32_t r = model[k];
      model.erase(model.begin() + static_cast<std::ptrdiff_t>(k));
      ps.release(r);
      freeStack.push_back(r);
    }
    if (step % 1000 == 0) expectRingsConsistent(ps);
  }
  expectRingsConsistent(ps);
  EXPECT_EQ(walk(ps, ps.activeHead), std::vector<std::int32_t>(model.begin(), model.end()));
  std::vector<std::int32_t> freeOrder(freeStack.rbegin(), freeStack.rend());
  EXPECT_EQ(walk(ps, ps.freeHead), freeOrder);
}

TEST(ParticlesPool, RefusedHeapLeavesNoRecords) {
  nebla::platform::clearFaults();
  nebla::platform::injectFault({"HeapAlloc", 1, std::nullopt});
  ParticleSystem ps(100000);
  nebla::platform::clearFaults();
  EXPECT_EQ(ps.records, nullptr);
}
