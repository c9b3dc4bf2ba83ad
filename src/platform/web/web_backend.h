// The backend for a web page: the program's screen in a canvas laid out to
// fill its stage, the page's clock, and keyboard, mouse, touch, the page's
// touch controls and focus as the platform's input. The program keeps its
// own loop; the backend hands the browser its turn whenever the program
// waits.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/web/canvas.h"
#include "platform/web/page_clock.h"

namespace nebla::platform::web {

// What the fingers on the picture are doing. One finger sprays as the left
// button does and, while it stays put, may still become a long press; two
// fingers, or a long press, draw the picture as the right button does.
struct TouchState {
  enum class Phase {
    Idle,      // no finger on the picture
    Pressing,  // one finger, still where it landed: spraying, may turn into a long press
    Spraying,  // one finger that has moved
    Drawing,   // two fingers or a long press
  };
  Phase phase = Phase::Idle;
  double since = 0;  // when the finger landed (Pressing)
  double x = 0;      // where it landed, in CSS pixels
  double y = 0;
};

// What of the user's input the program gets: a page the user drives takes
// everything; a wallpaper's host forwards only the pointer, and keys that
// reach it anyway (Escape would play the outro and end it) are not taken.
enum class Inputs { KeysAndPointer, PointerOnly };

class WebBackend final : public Backend {
 public:
  // canvasSelector names the canvas (e.g. "#screen"); its parent element
  // is the stage the picture fills. The clock stands still while the page
  // is hidden, so the program rests then (see page_clock.h).
  explicit WebBackend(std::string canvasSelector, Inputs inputs = Inputs::KeysAndPointer);
  WebBackend(const WebBackend&) = delete;
  WebBackend& operator=(const WebBackend&) = delete;
  // Removes the listeners it added, and no others.
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
  // A touch control pressed or released: the virtual key it stands for,
  // taken the way the keyboard's key is.
  void onControl(bool down, int virtualKey);
  void onMouse(InputEvent::Kind kind, double clientX, double clientY);
  void onTouches(int count, double clientX, double clientY);
  void onFocus(bool gained);
  void layOut() { canvas_.layOut(); }

 private:
  bool takesKeys() const { return inputs_ == Inputs::KeysAndPointer; }
  void key(bool down, int virtualKey);
  void push(InputEvent::Kind kind, int key = 0);
  bool trackPointer(double clientX, double clientY);
  void press(InputEvent::Kind kind);
  void releaseButtons();
  void checkLongPress();
  void yieldToBrowser(DWORD milliseconds);

  Canvas canvas_;
  Inputs inputs_;
  PageClock clock_;
  std::vector<InputEvent> pending_;
  std::set<int> held_;
  // Keys let go since the program last took its input: they read as down
  // until then, so that a tap shorter than one pass of the program's loop
  // still reaches the keys it polls (Escape and Q).
  std::set<int> releasing_;
  bool left_ = false;
  bool right_ = false;
  int pointerX_ = -1;
  int pointerY_ = -1;
  TouchState touch_;
};

}  // namespace nebla::platform::web
