// Starting SDL's video and telling why it could not start.
#include "platform/sdl/video.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace nebla::platform::sdl {
namespace {

bool invisibleDriver(const char* name) {
  return name == nullptr || std::strcmp(name, "offscreen") == 0 || std::strcmp(name, "dummy") == 0;
}

const char* variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

// A display that is named but cannot be reached is told by its name: a
// user who set DISPLAY wants to hear that it led nowhere, not to set it.
std::string unreachableDisplay() {
  const char* x11 = variable("DISPLAY");
  const char* wayland = variable("WAYLAND_DISPLAY");
  if (x11 == nullptr && wayland == nullptr) return "no display (set DISPLAY or WAYLAND_DISPLAY)";
  std::string names;
  if (x11 != nullptr) names = std::string("the X display ") + x11;
  if (x11 != nullptr && wayland != nullptr) names += " or ";
  if (wayland != nullptr) names += std::string("the Wayland display ") + wayland;
  return "cannot connect to " + names;
}

}  // namespace

bool startVideo() {
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_ClearError();
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    reportSdlFailure(unreachableDisplay());
    return false;
  }
  if (invisibleDriver(SDL_GetCurrentVideoDriver()) &&
      SDL_GetHint(SDL_HINT_VIDEODRIVER) == nullptr) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    std::fprintf(stderr, "nebla: %s\n", unreachableDisplay().c_str());
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
