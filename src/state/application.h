// The one application object: display handles, screen size, the user's
// settings, the mouse, the measured frame rate, the light and the particle
// pool. The entry function owns it for the whole run.
#pragma once

#include <cstdint>

#include "state/light_source.h"
#include "particles/particle_system.h"
#include "platform/ddraw.h"
#include "platform/user.h"

namespace nebla::state {

constexpr std::uint32_t kPoolSize = 100000;

// The module handle the entry function stores before anything else; the
// set-up and the outro load their pictures from it.
extern platform::HINSTANCE moduleInstance;

class Application {
 public:
  particles::ParticleSystem* particles;
  LightSource light;
  platform::HWND window = nullptr;
  platform::HINSTANCE instance = nullptr;
  platform::IDirectDraw* directDraw = nullptr;
  platform::IDirectDrawSurface* frontBuffer = nullptr;
  platform::IDirectDrawSurface* backBuffer = nullptr;
  platform::IDirectDrawSurface* memBuffer = nullptr;
  platform::IDirectDrawSurface* lightBuffer = nullptr;
  platform::IDirectDrawSurface* textBuffer = nullptr;
  platform::IDirectDrawSurface* fontBuffer = nullptr;
  platform::IDirectDrawSurface* tribleBuffer = nullptr;
  std::uint32_t width = 640;
  std::uint32_t height = 480;
  std::int32_t particlesPerFrame = 400;
  std::int32_t lifetime = 70;
  std::int32_t mouseX = 0;
  std::int32_t mouseY = 0;
  std::int32_t prevMouseX = 0;
  std::int32_t prevMouseY = 0;
  std::int32_t colourScheme = 1;
  float fps = 0.0f;
  bool leftButton = false;
  bool rightButton = false;
  bool lightOn = false;
  bool infoOn = false;
  bool textWriterOn = true;
  std::int32_t pageCount = 0;

  // The entry function constructs it before the display exists.
  Application();
  // Gives the display back (tearDownDisplay) on every way out.
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // True when the particle pool got its records; the run cannot go on
  // without them.
  bool poolReady() const { return particles->records != nullptr; }

  // The entry function takes the display once; false after a fatal step,
  // which has been logged and undone.
  bool setUpDisplay(platform::HINSTANCE moduleHandle);
  // Releases every handle that is not empty; safe to run again.
  void tearDownDisplay();
  // After the message loop: the outro picture slides up; false after a
  // failure, which may have torn the display down already.
  bool showOutro(platform::HINSTANCE moduleHandle);
  // The frame step draws the figures on top of the text layer while the
  // overlay is on.
  void drawOverlay();
  // The window procedure's digit keys.
  void selectColourScheme(std::uint32_t scheme);
  // One frame, on every timer tick while the program is active.
  void frameStep();
  // The frame step's recovery from lost surfaces.
  void restoreSurfaces();

 private:
  bool createOffscreen(platform::IDirectDrawSurface** surface, std::uint32_t w, std::uint32_t h,
                       const char* message);
  bool attachFirstPalette();
  bool copyPicture(platform::IDirectDrawSurface* surface, int resource, int copyWidth,
                   int copyHeight, const char* loadMessage, const char* dcMessage);
  bool createSurfaces();
  bool loadPictures();
  bool finishSetUp();
  bool fail();
  void lightPass();
  void particlePass();
  void present();
};

}  // namespace nebla::state
