// The glyph emitter: one character of the text becomes a swarm of particles
// that fly onto the pixels of its glyph and burn it into the text layer.
// Where the swarm starts depends on the page.
#include <cstdint>

#include "state/application.h"
#include "diag/log.h"
#include "display/surface_lock.h"
#include "effects/scroll_text.h"
#include "effects/text_writer.h"
#include "particles/random.h"

namespace nebla::effects {

using namespace platform;

namespace {

constexpr std::int32_t kCellWidth = 16;
constexpr std::int32_t kCellHeight = 27;
// The strip's last cell reaches two columns past the surface; those read
// as background.
constexpr std::int32_t kFontWidth = 750;
constexpr std::int32_t kInkPerParticle = 40;
constexpr std::uint16_t kGlyphLife = 50;
constexpr std::uint16_t kGlyphDepth = 500;

struct Start {
  std::int32_t x, y;
};

// Mode 3 sends a whole glyph from one screen corner; the corner advances
// with every glyph written.
Start corner(const state::Application& app, std::int32_t glyphCount) {
  const std::int32_t right = static_cast<std::int32_t>(app.width) - 1;
  const std::int32_t bottom = static_cast<std::int32_t>(app.height) - 1;
  switch (glyphCount % 4) {
    case 0: return {0, bottom};
    case 1: return {right, bottom};
    case 2: return {0, 0};
    default: return {right, 0};
  }
}

// Modes 0 to 2 start from around the cell, the middle of the screen or the
// cell's corner. Only mode 0 draws, dx before dy, once per particle.
Start startOf(std::int32_t mode, std::int32_t x, std::int32_t y, Start glyphCorner) {
  switch (mode) {
    case 0: {
      std::int32_t dx = particles::rand() % 101 - 50;
      std::int32_t dy = particles::rand() % 101 - 50;
      return {x + dx, y + dy};
    }
    case 1: return {320, 240};
    case 2: return {x, y};
    default: return glyphCorner;
  }
}

}  // namespace

void TextWriter::emitGlyph(state::Application& app, char c, std::int32_t x, std::int32_t y,
                           std::int32_t page) {
  const std::int32_t index = glyphIndex(c);
  if (index < 0) return;
  ++glyphCount;
  display::LockedSurface strip;
  if (!display::lockWhole(app.fontBuffer, strip)) {
    diag::logError("Could not lock FontBuffer");
    return;
  }
  const std::int32_t mode = page % 4;
  const Start glyphCorner = corner(app, glyphCount);
  for (std::int32_t i = 0; i < kCellHeight; ++i) {
    for (std::int32_t j = 0; j < kCellWidth; ++j) {
      const std::int32_t column = kCellWidth * index + j;
      const std::int32_t ink = column < kFontWidth ? strip.bytes[i * strip.pitch + column] : 0;
      for (std::int32_t n = ink / kInkPerParticle; n > 0; --n) {
        const Start s = startOf(mode, x, y, glyphCorner);
        app.particles->spawn(kGlyphLife, static_cast<std::int16_t>(s.x),
                             static_cast<std::int16_t>(s.y), kGlyphDepth, 0.0, 0.0, 0.0,
                             static_cast<std::int16_t>(x + j), static_cast<std::int16_t>(y + i),
                             true);
      }
    }
  }
  app.fontBuffer->Unlock(nullptr);
}

}  // namespace nebla::effects
