// The one application object: display handles, screen size, the user's
// settings, the mouse, the measured frame rate, the light and the particle
// pool. The entry function owns it for the whole run.
#pragma once

#include <cstdint>

#include "app/light_source.h"
#include "particles/particle_system.h"

namespace nebla::app {

constexpr std::uint32_t kPoolSize = 100000;

class Application {
 public:
  particles::ParticleSystem* particles;
  LightSource light;
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
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // True when the particle pool got its records; the run cannot go on
  // without them.
  bool poolReady() const { return particles->records != nullptr; }
};

}  // namespace nebla::app
