// The window manager's state, shared by its two halves: windows and
// classes (user_window.cpp) and the message queue with timers and input
// (user_queue.cpp).
#pragma once

#include <array>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/user.h"

namespace nebla::platform {

struct WindowObject {
  WNDPROC procedure = nullptr;
  std::string className;
  bool visible = false;
};

struct WindowClass {
  std::string name;
  WNDPROC procedure;
  HICON icon;
  ATOM atom;
};

struct Timer {
  HWND window;
  UINT_PTR id;
  DWORD period;
  DWORD due;
  TIMERPROC procedure;
};

struct UserState {
  std::vector<WindowClass> classes;
  ATOM nextAtom = 0xC000;
  std::vector<std::unique_ptr<WindowObject>> windows;
  std::vector<Timer> timers;
  UINT_PTR nextThreadTimer = 1;
  std::deque<MSG> posted;
  bool quitPosted = false;
  int quitCode = 0;
  bool active = false;
  std::array<BYTE, 256> keys{};  // 0x80 down, 0x01 toggled
  int cursorCount = 0;
  POINT pointer{0, 0};
  WPARAM buttons = 0;  // MK_LBUTTON | MK_RBUTTON as the input events left them
  bool shiftDown = false;
};

UserState& user();
WindowObject* findWindow(HWND window);
// Sends WM_ACTIVATEAPP to every window when the program's activation
// changes; the window procedures run inside the call.
void setActive(bool active);

}  // namespace nebla::platform
