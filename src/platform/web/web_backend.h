// The backend for a web page: the program's screen in a canvas that fills
// the browser window at a whole multiple of the picture, the page's clock,
// and keyboard, mouse, touch and focus as the platform's input. The program
// keeps its own loop; the backend hands the browser its turn whenever the
// program waits.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "platform/backend.h"
#include "platform/viewport.h"

namespace nebla::platform::web {

class WebBackend final : public Backend {
 public:
  WebBackend();
  WebBackend(const WebBackend&) = delete;
  WebBackend& operator=(const WebBackend&) = delete;
  ~WebBackend() override;

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

  // The page's own events, called from the browser's event handlers.
  void onKey(bool down, const char* code, const char* key, bool repeat);
  void onMouse(InputEvent::Kind kind, double clientX, double clientY);
  void onTouches(int count, double clientX, double clientY, bool ended);
  void onFocus(bool gained);
  void layOut();

 private:
  void push(InputEvent::Kind kind, int key = 0);
  bool trackPointer(double clientX, double clientY);
  void press(InputEvent::Kind kind);
  void releaseButtons();
  void checkLongPress();
  void yieldToBrowser(DWORD milliseconds);

  double start_ = 0;
  std::vector<InputEvent> pending_;
  std::set<int> held_;
  bool left_ = false;
  bool right_ = false;
  int pointerX_ = -1;
  int pointerY_ = -1;
  int imageWidth_ = 640;
  int imageHeight_ = 480;
  Rect picture_;  // where the canvas lies, in device pixels
  double pixelRatio_ = 1;
  bool touching_ = false;  // one finger down that may still become a long press
  double touchStart_ = 0;
  double touchX_ = 0;
  double touchY_ = 0;
  std::vector<std::uint32_t> rgba_;
};

}  // namespace nebla::platform::web
