// The seam between the platform calls and the machine they run on: the
// clock, input, the display and the window. One backend is installed for
// the process; the headless one (virtual clock, scripted input) serves tests
// and the capture tool. Until one is installed, calls reach a built-in
// machine with a real clock, no input and no display.
//
// Writing a backend (see sdl/, web/ and headless/):
// - Derive from Backend, install it with setBackend before the entry
//   function runs and uninstall it after; the program never sees it.
// - now() is a millisecond clock that never runs backwards (it may wrap).
// - idle() and busyWait() are where time passes. The program polls and
//   never blocks, so a backend must not spin here: sleep, wait for input,
//   or hand control to the host (a browser tab gets its turn only here).
//   busyWait() is called while the program reads the clock in a loop (the
//   set-up pause, the outro); it should give up the processor for about a
//   millisecond and keep the host answering. idle() may wait up to the due
//   time of the next timer tick, never past it.
// - takeInput() hands over what arrived since the last call, oldest first,
//   with pointer positions already in image pixels (viewport.h maps window
//   positions through the scaling). keyDown() answers for the same keys,
//   including VK_LBUTTON and VK_RBUTTON.
// - present() is called for every change of the visible surface; keep a
//   copy if the host may ask for a repaint. Pixels are 8-bit indices into
//   the 256-entry palette.
// - openDisplay() and setDisplayMode() answer false when there is nowhere
//   to draw, and the program then takes its own failure path.
// - sessionEnding() turns true, and stays so, when whoever runs the program
//   wants it gone at once (a screensaver dismissed, the window it draws in
//   destroyed, an end signal); the program then ends without its outro,
//   cutting short any pause it is in. A backend that never ends a session
//   leaves it false.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/types.h"

namespace nebla::platform {

// One event of the keyboard, the pointer, the focus or the window frame, or
// a text for the writer.
struct InputEvent {
  enum class Kind {
    KeyDown,  // key: virtual-key code; repeated downs are auto-repeat
    KeyUp,
    MouseMove,  // x, y: window pixels
    LeftDown,
    LeftUp,
    RightDown,
    RightUp,
    FocusLost,
    FocusGained,
    Close,  // the user asked the window to close
    Text,   // text: the user's words (UTF-8) for the writer, from its next start
    KeylessText,  // the writer's own text without the pages that teach keys
  };
  Kind kind = Kind::KeyDown;
  int key = 0;
  int x = 0;
  int y = 0;
  DWORD time = 0;  // milliseconds on the backend's clock
  std::string text{};  // Text: the words (other events: empty)
};

// A text event reaches the window procedure as WM_COPYDATA, sent while the
// input is taken from the backend; dwData says which text it is.
constexpr ULONG_PTR kCopyDataWords = 1;    // lpData, cbData: the words
constexpr ULONG_PTR kCopyDataKeyless = 2;  // no data

// The visible surface as it should appear now.
struct Presentation {
  const BYTE* pixels;
  LONG pitch;
  DWORD width;
  DWORD height;
  const PALETTEENTRY* palette;  // 256 entries
  bool fromFlip;                // false: drawn straight onto the screen
};

struct WindowInfo {
  LPCSTR title;
  int x;
  int y;
  int width;
  int height;
  std::span<const unsigned char> icon;  // the class icon's .ico image, if any
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Milliseconds since start (GetTickCount).
  virtual DWORD now() = 0;
  // PeekMessageA found nothing: time may pass, up to the due time of the
  // next timer tick if there is one.
  virtual void idle(std::optional<DWORD> nextTimerDue) = 0;
  // GetTickCount is being read again and again with nothing else happening.
  virtual void busyWait() = 0;
  // Moves the input events whose time has come into events, oldest first.
  virtual void takeInput(std::vector<InputEvent>& events) = 0;
  // Whether the physical key is down now (GetAsyncKeyState).
  virtual bool keyDown(int key) = 0;

  // DirectDrawCreate, SetDisplayMode, release of the DirectDraw object.
  virtual bool openDisplay() = 0;
  virtual bool setDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel) = 0;
  virtual void closeDisplay() = 0;
  // The visible surface changed (Flip, a new palette, drawing on it).
  virtual void present(const Presentation& frame) = 0;

  virtual void setPointerVisible(bool visible) = 0;
  virtual void windowCreated(const WindowInfo& info) = 0;
  virtual void windowDestroyed() = 0;

  // GetSystemMetrics(SM_SHUTTINGDOWN): the program's session is ending.
  virtual bool sessionEnding() { return false; }
};

// Installs the backend for the process (null: the built-in one without a
// display).
// The caller keeps ownership and must keep it alive while installed.
void setBackend(Backend* backend);
// The backend in use; every platform call reaches the machine through it.
Backend& backend();

// Sees every input event as the message queue takes it from the backend,
// before the program gets its message; empty for none. Sessions are
// recorded with it. Kept across resetPlatform, like the backend.
using InputObserver = std::function<void(const InputEvent&)>;
void setInputObserver(InputObserver observer);

// Puts the platform back to a fresh start: no windows, classes, timers,
// queued messages, key states, device contexts, bitmaps or DirectDraw
// objects; pointer counter 0; last error 0. Faults and the backend's own
// state are not touched. Tests call it before and after each case.
void resetPlatform();

}  // namespace nebla::platform
