// One frame: text layer as the starting image, emitters, the particle pass
// in the locked surfaces, then the blit to the back buffer and the flip.
#include "diag/log.h"
#include "display/surface_lock.h"
#include "effects/light.h"
#include "effects/mouse_emitters.h"
#include "effects/text_writer.h"
#include "state/application.h"

namespace nebla::state {

using namespace platform;

namespace {

using display::LockedSurface;
using display::lockWhole;

RECT screenRect(std::uint32_t width, std::uint32_t height) {
  return RECT{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
}

}  // namespace

void Application::frameStep() {
  light.setIntensity(0.8);
  light.setReach(0.9);
  if (textWriterOn) effects::textWriter.writeStep(*this);
  RECT whole = screenRect(width, height);
  if (memBuffer->BltFast(0, 0, textBuffer, &whole, DDBLTFAST_NOCOLORKEY | DDBLTFAST_WAIT) ==
      DDERR_SURFACELOST) {
    diag::logWarning("failed to copy TextBuffer into MemBuffer");
  }
  if (infoOn) drawOverlay();
  if (leftButton) {
    effects::emitSpray(*this);
  } else if (rightButton) {
    effects::emitTrible(*this);
  }
  prevMouseX = mouseX;
  prevMouseY = mouseY;
  particlePass();
  if (lightOn) lightPass();
  present();
}

void Application::particlePass() {
  LockedSurface text, mem;
  if (!lockWhole(textBuffer, text)) return;
  if (lockWhole(memBuffer, mem)) {
    particles->advance(mem, text, width, height);
    memBuffer->Unlock(nullptr);
  }
  textBuffer->Unlock(nullptr);
}

// Reads the density image and writes the light image; a failed lock keeps
// the light image of the last frame that had one.
void Application::lightPass() {
  LockedSurface lit, mem;
  if (!lockWhole(lightBuffer, lit)) return;
  if (lockWhole(memBuffer, mem)) {
    effects::castLight(light, mem, lit, static_cast<std::int32_t>(width),
                       static_cast<std::int32_t>(height));
    memBuffer->Unlock(nullptr);
  }
  lightBuffer->Unlock(nullptr);
}

void Application::present() {
  RECT whole = screenRect(width, height);
  IDirectDrawSurface* source = lightOn ? lightBuffer : memBuffer;
  if (backBuffer->BltFast(0, 0, source, &whole, DDBLTFAST_NOCOLORKEY | DDBLTFAST_WAIT) ==
      DDERR_SURFACELOST) {
    restoreSurfaces();
  }
  if (frontBuffer->Flip(nullptr, DDFLIP_WAIT) == DDERR_SURFACELOST) restoreSurfaces();
}

void Application::restoreSurfaces() {
  if (frontBuffer->Restore() == DD_OK) memBuffer->Restore();
}

}  // namespace nebla::state
