// Starting SDL's video and telling why it could not start.
#include "platform/sdl/video.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace nebla::platform::sdl {
namespace {

bool invisibleDriver(const char* name) {
  return name == nullptr || std::strcmp(name, "offscreen") == 0 || std::strcmp(name, "dummy") == 0;
}

const char* variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

// The displays DISPLAY and WAYLAND_DISPLAY name, if any: a user who set
// one and cannot reach it wants to hear where it led, not to set it.
std::optional<std::string> namedDisplays() {
  const char* x11 = variable("DISPLAY");
  const char* wayland = variable("WAYLAND_DISPLAY");
  if (x11 == nullptr && wayland == nullptr) return std::nullopt;
  std::string names;
  if (x11 != nullptr) names = std::string("the X display ") + x11;
  if (x11 != nullptr && wayland != nullptr) names += " or ";
  if (wayland != nullptr) names += std::string("the Wayland display ") + wayland;
  return names;
}

// A video driver the user named, other than those of the displays named
// above, speaks for itself in SDL's reason.
bool otherDriverNamed() {
  const char* driver = SDL_GetHint(SDL_HINT_VIDEODRIVER);
  return driver != nullptr && std::strcmp(driver, "x11") != 0 &&
         std::strcmp(driver, "wayland") != 0;
}

// A Wayland session without an X server beside it: Wayland is named to
// SDL, so the window is a native Wayland client whatever order this SDL
// build tries its drivers in, and a compositor that cannot be reached is
// told as such instead of some later driver being tried. A driver the user
// named (SDL_VIDEODRIVER, in the environment or as a hint) is left alone.
void preferWayland() {
  if (variable("WAYLAND_DISPLAY") == nullptr || variable("DISPLAY") != nullptr) return;
  const char* driver = SDL_GetHint(SDL_HINT_VIDEODRIVER);
  if (driver == nullptr || driver[0] == '\0') SDL_SetHint(SDL_HINT_VIDEODRIVER, "wayland");
}

}  // namespace

bool startVideo() {
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  preferWayland();
  SDL_ClearError();
  bool driverNamed = otherDriverNamed();
  std::optional<std::string> named = namedDisplays();
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    reportSdlFailure(named && !driverNamed ? "cannot connect to " + *named : "no display");
    return false;
  }
  if (invisibleDriver(SDL_GetCurrentVideoDriver()) && !driverNamed) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    std::fprintf(stderr, "nebla: %s\n",
                 named ? ("cannot connect to " + *named).c_str()
                       : "no display (set DISPLAY or WAYLAND_DISPLAY)");
    return false;
  }
  SDL_StopTextInput();
  return true;
}

void reportSdlFailure(const std::string& what) {
  const char* reason = SDL_GetError();
  std::fprintf(stderr, "nebla: %s: %s\n", what.c_str(),
               *reason != '\0' ? reason : "SDL gave no reason");
}

bool prepareMode(Presenter& presenter, DWORD width, DWORD height, DWORD bitsPerPixel) {
  if (bitsPerPixel != 8) return false;
  SDL_ClearError();
  if (presenter.setImageSize(static_cast<int>(width), static_cast<int>(height))) return true;
  reportSdlFailure("cannot prepare a " + std::to_string(width) + "x" + std::to_string(height) +
                   " picture");
  return false;
}

}  // namespace nebla::platform::sdl
