// Spray and picture emitters. The order of the random draws per particle is
// fixed; it is what makes a replayed input give the same frames.
#include "effects/mouse_emitters.h"

#include <algorithm>
#include <cstdint>

#include "state/application.h"
#include "display/surface_lock.h"
#include "particles/random.h"

namespace nebla::effects {

using particles::rand;
using namespace platform;

namespace {

// The pool holds lives of 1 to 65535; a lifetime raised that far is kept
// inside that range rather than wrapping to a forbidden 0.
std::uint16_t poolLife(std::int64_t life) {
  return static_cast<std::uint16_t>(std::clamp<std::int64_t>(life, 1, 65535));
}

struct Point {
  std::int32_t x, y;
};

// A random point of the segment from the pointer back to where it was at
// the previous frame, with one pixel of jitter. Draws jx, jy, then f.
Point pathPoint(const state::Application& app) {
  std::int32_t jx = rand() % 3 - 1;
  std::int32_t jy = rand() % 3 - 1;
  std::int32_t f = rand() % 10000;
  std::int32_t dX = app.prevMouseX - app.mouseX;
  std::int32_t dY = app.prevMouseY - app.mouseY;
  return {app.mouseX + jx + (f * dX) / 10000, app.mouseY + jy + (f * dY) / 10000};
}

double sprayVelocity() { return (rand() % 1000 * 0.001 - 0.5) * 2.5; }

// Upper bound on picture samples per frame: a picture with no pixel above
// the threshold must not hang the frame.
constexpr std::int64_t kSamplesPerParticle = 64;

}  // namespace

void emitSpray(state::Application& app) {
  for (std::int32_t i = 0; i < app.particlesPerFrame; ++i) {
    Point p = pathPoint(app);
    double vx = sprayVelocity();
    double vy = sprayVelocity();
    double vz = sprayVelocity();
    std::int32_t life = rand() % app.lifetime + 1;
    app.particles->spawn(poolLife(life), static_cast<std::int16_t>(p.x),
                         static_cast<std::int16_t>(p.y), 500, vx, vy, vz, -1, -1, false);
  }
}

void emitTrible(state::Application& app) {
  display::LockedSurface picture;
  if (!display::lockWhole(app.tribleBuffer, picture)) return;
  std::uint16_t life = poolLife(std::int64_t{app.lifetime} + 1);
  std::int64_t samplesLeft = kSamplesPerParticle * std::max<std::int32_t>(app.particlesPerFrame, 0);
  std::int32_t created = 0;
  while (created < app.particlesPerFrame && samplesLeft-- > 0) {
    std::int32_t px = rand() % 81;
    std::int32_t py = rand() % 61;
    if (picture.bytes[py * picture.pitch + px] <= 10) continue;
    auto targetX = static_cast<std::int16_t>(static_cast<std::uint32_t>(px) + app.width / 2 - 20);
    auto targetY = static_cast<std::int16_t>(static_cast<std::uint32_t>(py) + app.height / 2 + 10);
    Point p = pathPoint(app);
    app.particles->spawn(life, static_cast<std::int16_t>(p.x), static_cast<std::int16_t>(p.y), 500,
                         0.0, 0.0, 0.0, targetX, targetY, false);
    ++created;
  }
  app.tribleBuffer->Unlock(nullptr);
}

}  // namespace nebla::effects
