// Another program's X11 window through SDL: the picture, the window's size
// and end, and the end signals.
#include "platform/sdl/adopted_backend.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/process/end_signals.h"
#include "platform/sdl/video.h"
#include "platform/sdl/x11_target.h"

namespace nebla::platform::sdl {

// SDL's own signal handlers would turn SIGTERM into a close request, which
// is not how this program ends.
AdoptedBackend::AdoptedBackend(unsigned long window) : target_(window) {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  process::catchEndSignals();
}

AdoptedBackend::~AdoptedBackend() {
  letGo();
  if (videoStarted_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  SDL_Quit();
}

// SDL puts Xlib's own error handler back before it closes its connections,
// and closing one reads the errors still on their way; the window's owner
// may have destroyed the window after our last requests, and Xlib's handler
// would end the process with status 1 for them. So the errors are read
// here first, where they only mark the window gone.
void AdoptedBackend::letGo() {
  presenter_.close();
  if (window_ != nullptr) SDL_DestroyWindow(window_);
  window_ = nullptr;
  if (connection_ != nullptr) x11::settleErrors(connection_, target_);
}

DWORD AdoptedBackend::now() { return SDL_GetTicks(); }

// Sleeps until the next timer tick is due, at most 50 ms, and then looks at
// the window system. Not SDL_WaitEventTimeout: an event arriving while it
// waits makes SDL send a wake-up message to the window on a connection of
// its own, and once the window is gone that message's error is left for
// SDL's own clean-up to find, after our error handler is gone.
void AdoptedBackend::idle(std::optional<DWORD> nextTimerDue) {
  constexpr std::int32_t kLongestSleep = 50;
  std::int32_t wait = kLongestSleep;
  if (nextTimerDue) wait = std::min(wait, static_cast<std::int32_t>(*nextTimerDue - now()));
  if (wait > 0) SDL_Delay(static_cast<Uint32>(wait));
  pump();
}

void AdoptedBackend::busyWait() {
  pump();
  SDL_Delay(1);
}

// Nothing the window's owner receives is handed to the program.
void AdoptedBackend::takeInput(std::vector<InputEvent>&) { pump(); }

// Only what concerns the picture: a new size, a repaint, whether the window
// can be seen, the window's end.
void AdoptedBackend::pump() {
  if (!videoStarted_) return;
  SDL_PumpEvents();
  SDL_Event event;
  while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1) follow(event);
  if (monitorWatch_.changed()) lookAtMonitors();
}

// Drawing starts again, from the frame kept last, as soon as part of the
// window shows.
void AdoptedBackend::follow(const SDL_Event& event) {
  if (event.type == SDL_SYSWMEVENT) {
    if (x11::destroyedBy(*event.syswm.msg, target_)) gone_ = true;
    std::optional<bool> seen = x11::visibilityFrom(*event.syswm.msg, target_);
    if (seen && *seen == unseen_) {
      unseen_ = !*seen;
      if (!unseen_) presenter_.redraw();
    }
    return;
  }
  if (event.type != SDL_WINDOWEVENT) return;
  if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) lookAtMonitors();
  if ((event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED ||
       event.window.event == SDL_WINDOWEVENT_EXPOSED) &&
      !unseen_)
    presenter_.redraw();
}

// A root window grows or shrinks when monitors come or go, and RandR tells
// of monitors that move within it.
void AdoptedBackend::lookAtMonitors() {
  if (root_ && connection_ != nullptr)
    presenter_.setMonitors(x11::monitorsOf(connection_, target_));
}

bool AdoptedBackend::keyDown(int) { return false; }

bool AdoptedBackend::sessionEnding() {
  return process::endSignalled() || gone_ || x11::windowGone();
}

// The window's destruction arrives as a window-system message.
void AdoptedBackend::windowCreated(const WindowInfo&) {
  if (window_ != nullptr) return;
  if (!videoStarted_ && !(videoStarted_ = startVideo())) return;
  x11::guardErrors(target_);
  SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
  SDL_ClearError();
  window_ = SDL_CreateWindowFrom(reinterpret_cast<const void*>(target_));
  if (window_ == nullptr) {
    if (!x11::windowGone()) reportSdlFailure("cannot draw into window " + std::to_string(target_));
    return;
  }
  connection_ = x11::watchWindow(window_);
  root_ = connection_ != nullptr && x11::isRoot(connection_, target_);
  if (root_) {
    monitorWatch_.watch(target_);
    std::fputs("nebla: root window: X does not tell when it is covered; drawing goes on\n", stderr);
  }
  lookAtMonitors();
}

void AdoptedBackend::windowDestroyed() { letGo(); }

// The window's owner may destroy the window before it can be drawn in, as
// at any later moment: that ends the session and is no failure. The set-up
// then goes on with nowhere to draw until the program sees the end.
bool AdoptedBackend::goneBeforeDrawing() {
  if (connection_ != nullptr) x11::settleErrors(connection_, target_);
  pump();
  nowhere_ = sessionEnding();
  return nowhere_;
}

bool AdoptedBackend::openDisplay() {
  if (window_ == nullptr) return goneBeforeDrawing();
  SDL_ClearError();
  if (presenter_.open(window_, true) || goneBeforeDrawing()) return true;
  reportSdlFailure("cannot draw into the window");
  return false;
}

bool AdoptedBackend::setDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel) {
  return nowhere_ || prepareMode(presenter_, width, height, bitsPerPixel);
}

void AdoptedBackend::closeDisplay() { presenter_.close(); }

// The frame steps go on unseen; only the drawing rests.
void AdoptedBackend::present(const Presentation& frame) {
  if (unseen_)
    presenter_.keep(frame);
  else
    presenter_.show(frame);
}

void AdoptedBackend::setPointerVisible(bool) {}

}  // namespace nebla::platform::sdl
