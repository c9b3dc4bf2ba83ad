// The page dissolve: sweeps the text layer from left to right, 16 columns a
// frame, turning burnt-in text back into free smoke and wiping each pixel to
// the layer's clear value.
#include <cstdint>

#include "state/application.h"
#include "diag/log.h"
#include "display/surface_lock.h"
#include "effects/text_writer.h"
#include "particles/random.h"

namespace nebla::effects {

using namespace platform;

namespace {

constexpr std::int32_t kSweepEnd = 640;
constexpr std::int32_t kColumnsPerCall = 16;
constexpr std::int32_t kDensityPerParticle = 17;
constexpr std::uint8_t kClearValue = 1;

struct Kick {
  double vx, vy;
};

// Two pages in three blow their smoke down the screen, to the right or to
// the left; the third lets it start at rest.
Kick kickFor(std::int32_t pageCount) {
  switch (pageCount % 3) {
    case 1: return {17.0, 9.0};
    case 2: return {-17.0, 9.0};
    default: return {0.0, 0.0};
  }
}

// One column of the locked layer: every pixel's density becomes particles,
// each with a life drawn just before it is spawned, and the pixel is wiped.
void dissolveColumn(state::Application& app, std::uint8_t* layer, std::int32_t pitch,
                    std::int32_t column, Kick kick) {
  for (std::int32_t y = 0; y < static_cast<std::int32_t>(app.height); ++y) {
    std::uint8_t& pixel = layer[y * pitch + column];
    for (std::int32_t n = pixel / kDensityPerParticle; n > 0; --n) {
      const std::int32_t life = particles::rand() % 30 + 1;
      app.particles->spawn(static_cast<std::uint16_t>(life), static_cast<std::int16_t>(column),
                           static_cast<std::int16_t>(y), 0, kick.vx, kick.vy, 0.0, -1, -1, false);
    }
    pixel = kClearValue;
  }
}

}  // namespace

bool TextWriter::dissolveColumns(state::Application& app, bool restart) {
  const Kick kick = kickFor(app.pageCount);
  for (std::int32_t pass = 0; pass < kColumnsPerCall; ++pass) {
    if (restart) {
      sweepColumn = 0;
    } else if (sweepColumn >= kSweepEnd) {
      return false;
    }
    display::LockedSurface layer;
    if (display::lockWhole(app.textBuffer, layer)) {
      dissolveColumn(app, layer.bytes, layer.pitch, sweepColumn, kick);
      app.textBuffer->Unlock(nullptr);
    } else {
      // The column's text stays burnt in; the sweep moves on regardless.
      diag::logError("Could not lock TextBuffer");
    }
    ++sweepColumn;
  }
  return sweepColumn < kSweepEnd;
}

}  // namespace nebla::effects
