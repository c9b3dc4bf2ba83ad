// Pool rings, spawning, release and the particle pass.
#include "particles/particle_system.h"

#include <cmath>
#include <cstddef>

#include "particles/flow.h"
#include "particles/random.h"
#include "platform/kernel.h"

namespace nebla::particles {
namespace {

constexpr int kFootprintCells = 21;

// The 5 x 5 square without its corners, row by row.
void buildFootprint(std::int32_t pitch, std::ptrdiff_t offsets[kFootprintCells]) {
  int n = 0;
  for (int dy = -2; dy <= 2; ++dy) {
    for (int dx = -2; dx <= 2; ++dx) {
      if ((dx == -2 || dx == 2) && (dy == -2 || dy == 2)) continue;
      offsets[n++] = static_cast<std::ptrdiff_t>(dy) * pitch + dx;
    }
  }
}

void splat(std::uint8_t* centre, const std::ptrdiff_t offsets[kFootprintCells]) {
  for (int i = 0; i < kFootprintCells; ++i) {
    std::uint8_t& cell = centre[offsets[i]];
    if (cell != 255) ++cell;
  }
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
      windY(0.0) {
  if (records != nullptr) initRings();
}

ParticleSystem::~ParticleSystem() {
  if (records != nullptr) platform::HeapFree(platform::GetProcessHeap(), 0, records);
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
}

void ParticleSystem::release(std::int32_t index) {
  if (index == activeHead || index == freeHead) return;
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

// Flow field, damped velocity, move and target pull for one particle. The
// sums are rounded to float where the field is evaluated; everything else
// runs in double and is stored as float.
void ParticleSystem::moveParticle(Particle& p) {
  double px = p.x, py = p.y, pz = p.z;
  float fx = static_cast<float>(std::sin(py / 9.0 + sweepPhase) + std::cos(pz / 11.0 + phases.phase1) + windX);
  std::int32_t r = rand() % 6666;
  double ax = fx + r * 0.0001 - 0.33;
  float fy = static_cast<float>(std::sin(px / 14.0 + phases.phase2) + std::cos(pz / 16.0 + phases.phase3) + windY - 0.5);
  float fz = static_cast<float>(std::sin(px / 17.0 + phases.phase4) + std::cos(py / 21.0 + phases.phase5));
  p.vx = static_cast<float>(p.vx + (ax - 0.25 * p.vx));
  p.vy = static_cast<float>(p.vy + (fy - 0.25 * p.vy));
  p.vz = static_cast<float>(p.vz + (fz - 0.25 * p.vz));
  double nx = px + p.vx, ny = py + p.vy, nz = pz + p.vz;
  if (p.travelTime != 0) {
    double k = static_cast<double>(p.travelTime - p.life) / static_cast<double>(p.travelTime);
    k = k * k;
    nx = nx + k * (p.targetX - nx);
    ny = ny + k * (p.targetY - ny);
  }
  p.x = static_cast<float>(nx);
  p.y = static_cast<float>(ny);
  p.z = static_cast<float>(nz);
}

void ParticleSystem::advance(std::uint8_t* density, std::uint32_t width, std::uint32_t height,
                             std::int32_t densityPitch, std::uint8_t* textLayer,
                             std::int32_t textPitch) {
  std::ptrdiff_t densityOffsets[kFootprintCells];
  std::ptrdiff_t textOffsets[kFootprintCells];
  buildFootprint(densityPitch, densityOffsets);
  buildFootprint(textPitch, textOffsets);
  double right = static_cast<double>(width) - 3.0, bottom = static_cast<double>(height) - 3.0;
  for (std::int32_t i = records[activeHead].next; i != activeHead;) {
    Particle& p = records[i];
    --p.life;
    // The cell is noted before the move; comparing the float position
    // against the bounds is the same as comparing its truncation.
    bool inside = p.x >= 3.0f && p.x < right && p.y >= 3.0f && p.y < bottom;
    std::ptrdiff_t ix = inside ? static_cast<std::ptrdiff_t>(p.x) : 0;
    std::ptrdiff_t iy = inside ? static_cast<std::ptrdiff_t>(p.y) : 0;
    moveParticle(p);
    sweepPhase = sweepPhase + 0.01;
    if (inside) {
      splat(density + iy * densityPitch + ix, densityOffsets);
      if (p.life == 0 && p.stamp) splat(textLayer + iy * textPitch + ix, textOffsets);
    }
    std::int32_t next = p.next;
    if (p.life == 0) release(i);
    i = next;
  }
  ++frameCounter;
  updatePhases(frameCounter);
}

}  // namespace nebla::particles
