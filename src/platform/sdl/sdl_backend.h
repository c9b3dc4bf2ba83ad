// The backend for a real screen: an SDL2 window at desktop full screen
// (Alt+Enter toggles a resizable window), the system's millisecond clock,
// and keyboard, pointer, focus and close requests as the platform's input.
// Another program's window has a backend of its own (adopted_backend.h).
#pragma once

#include <SDL.h>

#include <functional>
#include <set>
#include <string>

#include "platform/backend.h"
#include "platform/sdl/presenter.h"

namespace nebla::platform::sdl {

class SdlBackend final : public Backend {
 public:
  // Told after each PrintScreen: the file name and, when it could not be
  // written, the system's reason (empty when it was saved).
  using ScreenshotReport =
      std::function<void(const std::string& fileName, const std::string& failure)>;

  SdlBackend() = default;
  SdlBackend(const SdlBackend&) = delete;
  SdlBackend& operator=(const SdlBackend&) = delete;
  ~SdlBackend() override;

  // The executable wires this to the log before the program starts.
  void setScreenshotReport(ScreenshotReport report) { report_ = std::move(report); }

  // A short note after the window's title for a few seconds, where the user
  // is looking even when the log cannot be written.
  void showNote(const std::string& text);

  // The Backend operations (see platform/backend.h), called by the platform
  // layer from the program's calls.
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

 private:
  void handle(const SDL_Event& event, std::vector<InputEvent>& events);
  void handleWindowEvent(const SDL_WindowEvent& event, std::vector<InputEvent>& events);
  void handleKey(const SDL_KeyboardEvent& event, std::vector<InputEvent>& events);
  void handleButton(const SDL_MouseButtonEvent& event, std::vector<InputEvent>& events);
  bool trackPointer(int windowX, int windowY);
  void toggleFullScreen();
  void saveScreenshot();
  void expireNote();

  bool videoStarted_ = false;
  SDL_Window* window_ = nullptr;
  int imageWidth_ = 640;  // the window's client size, then the display mode
  int imageHeight_ = 480;
  int pointerX_ = -1;  // the last position handed to the program
  int pointerY_ = -1;
  bool pointerVisible_ = true;
  Presenter presenter_;
  ScreenshotReport report_;
  std::string title_;  // the program's own title, shown again when a note expires
  bool noteShown_ = false;
  DWORD noteUntil_ = 0;
  // Keys pressed in the last pump of events: a tap whose press and release
  // came in together (a busy compositor sends them late) still reads down
  // until the next pump, so a quick Escape is not lost.
  std::set<int> tapped_;
};

}  // namespace nebla::platform::sdl
