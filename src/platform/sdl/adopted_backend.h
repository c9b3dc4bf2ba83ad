// The backend for an X11 window that another program made: a
// screensaver's window, a desktop's live-wallpaper window or the root
// window (see x11_target.h). The picture follows the window's size; no
// keyboard, pointer, focus or close request is read, and the pointer, the
// title and the icon are left alone, since the window's owner keeps them.
// A root window shows one picture on each monitor it spans. While X tells
// that nobody can see the window (fully covered or unmapped), frames are
// kept but not drawn; X tells this for no root window.
// SIGTERM, SIGINT or the window's end end the program's session, and the
// program ends at once, also when the window goes before it is drawn in.
#pragma once

#include <SDL.h>

#include "platform/backend.h"
#include "platform/sdl/presenter.h"
#include "platform/sdl/x11_target.h"

namespace nebla::platform::sdl {

class AdoptedBackend final : public Backend {
 public:
  // Draws into this window. Installs the handlers of SIGTERM (the way a
  // screensaver is stopped) and SIGINT, so make it before the program
  // starts; a signal before then ends the process the signal's own way.
  explicit AdoptedBackend(unsigned long window);
  AdoptedBackend(const AdoptedBackend&) = delete;
  AdoptedBackend& operator=(const AdoptedBackend&) = delete;
  ~AdoptedBackend() override;

  // The Backend operations (see platform/backend.h).
  DWORD now() override;
  void idle(std::optional<DWORD> nextTimerDue) override;
  void busyWait() override;
  void takeInput(std::vector<InputEvent>& events) override;
  bool keyDown(int key) override;
  bool openDisplay() override;
  bool setDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel) override;
  void closeDisplay() override;
  void present(const Presentation& frame) override;
  void setPointerVisible(bool visible) override;
  void windowCreated(const WindowInfo& info) override;
  void windowDestroyed() override;
  // An end signal came, or the window is gone.
  bool sessionEnding() override;

 private:
  void pump();
  void follow(const SDL_Event& event);
  void lookAtMonitors();
  bool goneBeforeDrawing();
  void letGo();

  unsigned long target_;
  bool videoStarted_ = false;
  SDL_Window* window_ = nullptr;
  void* connection_ = nullptr;  // SDL's X11 Display, for the last look at errors
  Presenter presenter_;
  x11::MonitorWatch monitorWatch_;  // a root window's only
  bool root_ = false;
  bool unseen_ = false;  // X said the window is fully covered or unmapped
  bool gone_ = false;
  bool nowhere_ = false;  // the window went before it could be drawn in
};

}  // namespace nebla::platform::sdl
