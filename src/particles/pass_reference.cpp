// The particle pass written plainly: one particle at a time in ring order,
// each footprint splatted as it comes. The fast pass must leave exactly
// the state this one leaves.
#include <cstddef>

#include "particles/flow.h"
#include "particles/footprint.h"
#include "particles/particle_system.h"
#include "particles/random.h"
#include "particles/trig.h"

namespace nebla::particles {

// Flow field, damped velocity, move and target pull for one particle. The
// sums are rounded to float where the field is evaluated; everything else
// runs in double and is stored as float.
void ParticleSystem::moveParticle(Particle& p) {
  double px = p.x, py = p.y, pz = p.z;
  float fx =
      static_cast<float>(sine(py / 9.0 + sweepPhase) + cosine(pz / 11.0 + phases.phase1) + windX);
  std::int32_t r = rand() % 6666;
  double ax = fx + r * 0.0001 - 0.33;
  float fy = static_cast<float>(sine(px / 14.0 + phases.phase2) +
                                cosine(pz / 16.0 + phases.phase3) + windY - 0.5);
  float fz =
      static_cast<float>(sine(px / 17.0 + phases.phase4) + cosine(py / 21.0 + phases.phase5));
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

void ParticleSystem::advanceReference(ImageView density, ImageView textLayer, std::uint32_t width,
                                      std::uint32_t height) {
  std::ptrdiff_t densityOffsets[kFootprintCells];
  std::ptrdiff_t textOffsets[kFootprintCells];
  buildFootprint(density.pitch, densityOffsets);
  buildFootprint(textLayer.pitch, textOffsets);
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
      splat(density.bytes + iy * density.pitch + ix, densityOffsets);
      if (p.life == 0 && p.stamp) splat(textLayer.bytes + iy * textLayer.pitch + ix, textOffsets);
    }
    std::int32_t next = p.next;
    if (p.life == 0) release(i);
    i = next;
  }
  ++frameCounter;
  updatePhases(frameCounter);
}

}  // namespace nebla::particles
