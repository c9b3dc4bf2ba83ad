// Pool rings, spawning and release, and the fast pass's workspace.
#include "particles/particle_system.h"

#include <cstddef>
#include <new>

#include "particles/pass_workspace.h"
#include "platform/kernel.h"

namespace nebla::particles {
namespace {

// The workspace and the order arrays in one heap block, the workspace on a
// 64-byte boundary for the batch's vectors.
constexpr std::size_t kWorkspaceAlignment = 64;
// The pass's order arrays and the helper's three lists, poolSize each.
constexpr std::size_t kOrderArrays = 6;

std::size_t workspaceBytes(std::uint32_t poolSize) {
  return sizeof(PassWorkspace) + kWorkspaceAlignment +
         kOrderArrays * std::size_t{poolSize} * sizeof(std::int32_t);
}

}  // namespace

ParticleSystem::ParticleSystem(std::uint32_t size)
    : records(static_cast<Particle*>(platform::HeapAlloc(platform::GetProcessHeap(), 0,
                                                         std::size_t{size} * sizeof(Particle)))),
      activeHead(0),
      freeHead(1),
      poolSize(size),
      liveCount(0),
      frameCounter(0),
      windX(0.0),
      windY(0.0),
      splitPasses(0) {
  if (records == nullptr) return;
  initRings();
  allocateWorkspace();
}

ParticleSystem::~ParticleSystem() {
  if (work_ != nullptr) {
    void* block = work_->block;
    work_->~PassWorkspace();
    platform::HeapFree(platform::GetProcessHeap(), 0, block);
  }
  if (records != nullptr) platform::HeapFree(platform::GetProcessHeap(), 0, records);
}

void ParticleSystem::allocateWorkspace() {
  void* block = platform::HeapAlloc(platform::GetProcessHeap(), 0, workspaceBytes(poolSize));
  if (block == nullptr) return;
  const auto address = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t aligned = (address + kWorkspaceAlignment - 1) & ~(kWorkspaceAlignment - 1);
  work_ = new (reinterpret_cast<void*>(aligned)) PassWorkspace;
  work_->block = block;
  auto* orders = reinterpret_cast<std::int32_t*>(work_ + 1);
  work_->spawned = orders;
  work_->survivors = orders + poolSize;
  work_->nextSurvivors = orders + 2 * std::size_t{poolSize};
  work_->helperSurvivors = orders + 3 * std::size_t{poolSize};
  work_->helperDead = orders + 4 * std::size_t{poolSize};
  work_->helperStamps = orders + 5 * std::size_t{poolSize};
}

void ParticleSystem::initRings() {
  liveCount = 0;
  frameCounter = 0;
  activeHead = 0;
  freeHead = 1;
  std::int32_t n = static_cast<std::int32_t>(poolSize);
  for (std::int32_t i = 0; i < n; ++i) {
    records[i] = Particle{};
    records[i].prev = i - 1;
    records[i].next = i + 1;
  }
  records[0].next = 0;
  records[0].prev = 0;
  records[1].next = 2;
  records[1].prev = n - 1;
  records[2].prev = 1;
  records[n - 1].next = 1;
}

void ParticleSystem::spawn(std::uint16_t life, std::int16_t x, std::int16_t y, std::uint16_t z,
                           double vx, double vy, double vz, std::int16_t targetX,
                           std::int16_t targetY, bool stamp) {
  std::int32_t f = records[freeHead].next;
  if (f == freeHead) return;
  ++liveCount;
  std::int32_t g = records[f].next;
  records[g].prev = freeHead;
  records[freeHead].next = g;
  std::int32_t h = records[activeHead].next;
  records[activeHead].next = f;
  records[h].prev = f;
  Particle& p = records[f];
  p.next = h;
  p.prev = activeHead;
  p.life = life;
  p.x = static_cast<float>(x);
  p.y = static_cast<float>(y);
  p.z = static_cast<float>(z);
  p.vx = static_cast<float>(vx);
  p.vy = static_cast<float>(vy);
  p.vz = static_cast<float>(vz);
  p.targetX = static_cast<float>(targetX);
  p.targetY = static_cast<float>(targetY);
  p.stamp = stamp;
  p.travelTime = targetX == -1 ? 0 : life;
  if (work_ == nullptr) return;
  if (work_->spawnedCount < poolSize) {
    work_->spawned[work_->spawnedCount++] = f;
  } else {
    work_->orderKnown = false;
  }
}

void ParticleSystem::release(std::int32_t index) {
  if (index == activeHead || index == freeHead) return;
  releaseRecord(index);
  if (work_ != nullptr) work_->orderKnown = false;
}

void ParticleSystem::releaseRecord(std::int32_t index) {
  --liveCount;
  Particle& p = records[index];
  records[p.prev].next = p.next;
  records[p.next].prev = p.prev;
  std::int32_t oldFirst = records[freeHead].next;
  p.next = oldFirst;
  p.prev = freeHead;
  records[freeHead].next = index;
  records[oldFirst].prev = index;
}

void ParticleSystem::setWind(float wx, float wy) {
  windX = static_cast<double>(wx);
  windY = static_cast<double>(wy);
}

}  // namespace nebla::particles
