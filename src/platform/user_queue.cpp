// The message queue: posted messages and input, the quit message, timers,
// dispatching, and the keyboard state the queue leaves behind.
#include <algorithm>
#include <optional>

#include "platform/backend.h"
#include "platform/fault.h"
#include "platform/internal.h"
#include "platform/kernel.h"
#include "platform/user_state.h"

namespace nebla::platform {
namespace {

InputObserver inputObserver;

// Times on the clock wrap past 2^32; due means "not in the future".
bool reached(DWORD now, DWORD due) { return static_cast<std::int32_t>(now - due) >= 0; }

bool matches(const MSG& m, HWND window, UINT first, UINT last) {
  bool inRange = (first == 0 && last == 0) || (m.message >= first && m.message <= last);
  return inRange && (window == nullptr || m.hwnd == window);
}

LPARAM pointerParam(int x, int y) {
  return static_cast<LPARAM>((static_cast<DWORD>(x) & 0xFFFF) |
                             ((static_cast<DWORD>(y) & 0xFFFF) << 16));
}

// Input goes to the window created last, the one the program shows.
HWND inputWindow() { return user().windows.empty() ? nullptr : user().windows.back().get(); }

void post(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD time) {
  POINT pt = user().pointer;
  user().posted.push_back({window, message, wParam, lParam, time, pt});
}

void postButton(HWND window, UINT message, WPARAM bit, bool down, const InputEvent& e) {
  UserState& u = user();
  u.buttons = down ? (u.buttons | bit) : (u.buttons & ~bit);
  WPARAM flags = u.buttons | (u.shiftDown ? MK_SHIFT : 0);
  post(window, message, flags, pointerParam(u.pointer.x, u.pointer.y), e.time);
}

// A text goes to the window at once, as a sent message does while a
// program takes its input; its bytes live only during the call.
void sendText(HWND window, const InputEvent& e) {
  bool words = e.kind == InputEvent::Kind::Text;
  COPYDATASTRUCT data{words ? kCopyDataWords : kCopyDataKeyless,
                      words ? static_cast<DWORD>(e.text.size()) : 0,
                      words ? const_cast<char*>(e.text.data()) : nullptr};
  window->procedure(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
}

void deliver(const InputEvent& e) {
  using Kind = InputEvent::Kind;
  if (e.kind == Kind::FocusLost || e.kind == Kind::FocusGained) {
    setActive(e.kind == Kind::FocusGained);
    return;
  }
  HWND window = inputWindow();
  if (window == nullptr) return;
  UserState& u = user();
  switch (e.kind) {
    case Kind::KeyDown:
    case Kind::KeyUp:
      if (e.key == VK_SHIFT) u.shiftDown = e.kind == Kind::KeyDown;
      post(window, e.kind == Kind::KeyDown ? WM_KEYDOWN : WM_KEYUP, static_cast<WPARAM>(e.key), 0,
           e.time);
      break;
    case Kind::MouseMove:
      u.pointer = {e.x, e.y};
      postButton(window, WM_MOUSEMOVE, 0, true, e);
      break;
    case Kind::LeftDown: postButton(window, WM_LBUTTONDOWN, MK_LBUTTON, true, e); break;
    case Kind::LeftUp: postButton(window, WM_LBUTTONUP, MK_LBUTTON, false, e); break;
    case Kind::RightDown: postButton(window, WM_RBUTTONDOWN, MK_RBUTTON, true, e); break;
    case Kind::RightUp: postButton(window, WM_RBUTTONUP, MK_RBUTTON, false, e); break;
    case Kind::Close: post(window, WM_CLOSE, 0, 0, e.time); break;
    case Kind::Text:
    case Kind::KeylessText: sendText(window, e); break;
    default: break;
  }
}

void pumpInput() {
  std::vector<InputEvent> events;
  backend().takeInput(events);
  for (const InputEvent& e : events) {
    if (inputObserver) inputObserver(e);
    deliver(e);
  }
}

// Keys change state for GetKeyState when their message leaves the queue.
void noteKey(const MSG& m) {
  BYTE& state = user().keys[m.wParam & 0xFF];
  if (m.message == WM_KEYDOWN) {
    if ((state & 0x80) == 0) state ^= 0x01;
    state |= 0x80;
  } else if (m.message == WM_KEYUP) {
    state &= static_cast<BYTE>(~0x80);
  }
}

bool takePosted(MSG& msg, HWND window, UINT first, UINT last, bool remove) {
  auto& posted = user().posted;
  auto it = std::find_if(posted.begin(), posted.end(),
                         [&](const MSG& m) { return matches(m, window, first, last); });
  if (it == posted.end()) return false;
  msg = *it;
  if (remove) {
    posted.erase(it);
    noteKey(msg);
  }
  return true;
}

bool takeQuit(MSG& msg, HWND window, UINT first, UINT last, bool remove) {
  UserState& u = user();
  MSG quit{nullptr, WM_QUIT, static_cast<WPARAM>(u.quitCode), 0, backend().now(), u.pointer};
  if (!u.quitPosted || window != nullptr || !matches(quit, nullptr, first, last)) return false;
  msg = quit;
  if (remove) u.quitPosted = false;
  return true;
}

bool takeTimer(MSG& msg, HWND window, UINT first, UINT last, bool remove) {
  DWORD now = backend().now();
  Timer* next = nullptr;
  for (Timer& t : user().timers) {
    MSG tick{t.window, WM_TIMER, t.id, 0, now, user().pointer};
    if (!reached(now, t.due) || !matches(tick, window, first, last)) continue;
    if (next == nullptr || static_cast<std::int32_t>(t.due - next->due) < 0) next = &t;
  }
  if (next == nullptr) return false;
  auto procedure = reinterpret_cast<LPARAM>(next->procedure);
  msg = MSG{next->window, WM_TIMER, next->id, procedure, now, user().pointer};
  if (remove) next->due = now + next->period;
  return true;
}

std::optional<DWORD> nextTimerDue() {
  std::optional<DWORD> next;
  for (const Timer& t : user().timers)
    if (!next || static_cast<std::int32_t>(t.due - *next) < 0) next = t.due;
  return next;
}

}  // namespace

void setInputObserver(InputObserver observer) { inputObserver = std::move(observer); }

BOOL PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT remove) {
  if (auto r = injectedFault<BOOL>("PeekMessageA", FALSE)) return *r;
  if (msg == nullptr) return FALSE;
  pumpInput();
  bool take = (remove & PM_REMOVE) != 0;
  if (takePosted(*msg, window, first, last, take) || takeQuit(*msg, window, first, last, take) ||
      takeTimer(*msg, window, first, last, take))
    return TRUE;
  backend().idle(nextTimerDue());
  return FALSE;
}

BOOL TranslateMessage(const MSG* msg) {
  if (auto r = injectedFault<BOOL>("TranslateMessage", FALSE)) return *r;
  return msg != nullptr ? TRUE : FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (auto r = injectedFault<LRESULT>("DispatchMessageA", 0)) return *r;
  if (msg == nullptr) return 0;
  if (msg->message == WM_TIMER && msg->lParam != 0) {
    reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
    return 0;
  }
  WindowObject* w = findWindow(msg->hwnd);
  if (w == nullptr) {
    if (msg->hwnd != nullptr) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return w->procedure(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (auto r = injectedFault<BOOL>("PostMessageA", FALSE)) return *r;
  if (window != nullptr && findWindow(window) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  post(window, message, wParam, lParam, backend().now());
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  if (checkFault("PostQuitMessage")) return;
  user().quitPosted = true;
  user().quitCode = exitCode;
}

LRESULT DefWindowProcA(HWND /*window*/, UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/) {
  if (auto r = injectedFault<LRESULT>("DefWindowProcA", 0)) return *r;
  return 0;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT periodMs, TIMERPROC proc) {
  if (auto r = injectedFault<UINT_PTR>("SetTimer", 0)) return *r;
  if (window != nullptr && findWindow(window) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (window == nullptr) id = user().nextThreadTimer++;
  DWORD period = std::max<DWORD>(periodMs, 10);
  DWORD due = backend().now() + period;
  auto& timers = user().timers;
  auto it = std::find_if(timers.begin(), timers.end(),
                         [&](const Timer& t) { return t.window == window && t.id == id; });
  if (it != timers.end())
    *it = {window, id, period, due, proc};
  else
    timers.push_back({window, id, period, due, proc});
  return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  if (auto r = injectedFault<BOOL>("KillTimer", FALSE)) return *r;
  auto removed = std::erase_if(user().timers,
                               [&](const Timer& t) { return t.window == window && t.id == id; });
  if (removed == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

int GetSystemMetrics(int index) {
  auto fault = injectedFault<int>("GetSystemMetrics", 0);
  continueClockReadings();
  if (fault) return *fault;
  return index == SM_SHUTTINGDOWN && backend().sessionEnding() ? 1 : 0;
}

SHORT GetAsyncKeyState(int key) {
  if (auto r = injectedFault<SHORT>("GetAsyncKeyState", 0)) return *r;
  return backend().keyDown(key) ? static_cast<SHORT>(0x8000) : SHORT{0};
}

SHORT GetKeyState(int key) {
  if (auto r = injectedFault<SHORT>("GetKeyState", 0)) return *r;
  BYTE state = user().keys[static_cast<std::size_t>(key) & 0xFF];
  return static_cast<SHORT>(((state & 0x80) != 0 ? 0x8000 : 0) | (state & 0x01));
}

}  // namespace nebla::platform
