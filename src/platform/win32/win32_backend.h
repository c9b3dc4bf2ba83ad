// The backend for Windows: a real Win32 window with its own message pump,
// the 8-bit picture shown through GDI with its palette at a whole multiple
// of its size, the system's millisecond clock, and keyboard, pointer, focus
// and close requests as the platform's input. It also runs the screensaver:
// over every monitor until the first real input, or inside the preview
// window of the Screen Saver Settings dialog.
//
// This header stays free of <windows.h>: the platform's own types share
// their names with the system's, and only the backend's sources see both.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/viewport.h"

namespace nebla::platform::win32 {

enum class Mode {
  Window,       // nebla.exe: full screen, Alt+Enter for a window
  ScreenSaver,  // Nebla.scr /s: every monitor, any real input ends it
  Preview,      // Nebla.scr /p HWND: a child of the settings dialog's preview
};

struct Options {
  Mode mode = Mode::Window;
  std::uintptr_t parent = 0;  // Preview: the preview window's handle
};

class Win32Backend final : public Backend {
 public:
  // Told after each PrintScreen: the file name and, when it could not be
  // written, the system's reason (empty when it was saved).
  using ScreenshotReport =
      std::function<void(const std::string& fileName, const std::string& failure)>;

  explicit Win32Backend(Options options);
  Win32Backend(const Win32Backend&) = delete;
  Win32Backend& operator=(const Win32Backend&) = delete;
  ~Win32Backend() override;

  void setScreenshotReport(ScreenshotReport report) { report_ = std::move(report); }
  // A short note after the window's title for a few seconds.
  void showNote(const std::string& text);

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
  // The screensaver dismissed, or the preview's window closed or gone.
  bool sessionEnding() override { return ending_; }

  // The window procedure's share, called for every message of the window;
  // false leaves the message to the system's default handling.
  bool onMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result);

 private:
  void pump();
  void push(InputEvent::Kind kind, int key = 0);
  bool onKey(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
  bool onMouse(unsigned message, std::intptr_t lParam);
  void onScreenSaverInput(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
  bool trackPointer(int windowX, int windowY);
  Rect pictureRect() const;
  std::vector<Rect> pictureRects() const;
  void coverVirtualScreen();
  void draw();
  void toggleFullScreen();
  void saveScreenshot();
  void expireNote();
  void endSession();
  void followParent();

  Options options_;
  void* window_ = nullptr;  // the window's HWND
  std::vector<InputEvent> pending_;
  int imageWidth_ = 640;
  int imageHeight_ = 480;
  std::vector<BYTE> pixels_;  // the last frame, rows padded to four bytes
  int stride_ = 0;
  std::vector<PALETTEENTRY> palette_;
  bool hasFrame_ = false;
  bool displayOpen_ = false;
  bool fullScreen_ = true;
  bool pointerVisible_ = true;
  int pointerX_ = -1;  // the last position handed to the program
  int pointerY_ = -1;
  bool focused_ = false;
  // The screensaver: where the pointer was first seen.
  bool pointerSeen_ = false;
  int firstX_ = 0;
  int firstY_ = 0;
  bool ending_ = false;
  // The screensaver's window spans the virtual screen (in screen
  // coordinates) and shows the picture on each of the monitors.
  Rect virtualScreen_;
  std::vector<Rect> monitors_;
  ScreenshotReport report_;
  std::string title_;
  bool noteShown_ = false;
  DWORD noteUntil_ = 0;
};

// A message box with the text, for what a window program cannot print.
void tellUser(const std::string& text);

}  // namespace nebla::platform::win32
