// The web page backend: canvas, clock, input and the browser's turns.
#include "platform/web/web_backend.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>
#include <string_view>

#include "platform/icon.h"
#include "platform/user.h"

// The page side: the elements are laid out in index.html.
EM_JS(void, jsSetCursor, (int visible), { document.body.style.cursor = visible ? "" : "none"; });
EM_JS(void, jsToggleFullScreen, (), { Module.toggleFullScreen(); });
EM_JS(void, jsSetTitle, (const char* title), { document.title = UTF8ToString(title); });
EM_JS(void, jsSetIcon, (const void* bgra, int width, int height), {
  const canvas = document.createElement("canvas");
  canvas.width = width;
  canvas.height = height;
  const image = new ImageData(width, height);
  const from = HEAPU8.subarray(bgra, bgra + width * height * 4);
  for (let i = 0; i < from.length; i += 4)
    image.data.set([ from[i + 2], from[i + 1], from[i], from[i + 3] ], i);
  canvas.getContext("2d").putImageData(image, 0, 0);
  const link = document.querySelector("link[rel=icon]") ||
               document.head.appendChild(document.createElement("link"));
  link.rel = "icon";
  link.href = canvas.toDataURL("image/png");
});

namespace nebla::platform::web {
namespace {

constexpr int kNumpad0 = 0x60;
constexpr double kLongPressMs = 500;
constexpr double kLongPressSlop = 16;  // CSS pixels a finger may wander and still press long

// Letters follow the keyboard layout, as in the window; digits are the
// digit row whatever it prints, and the keypad has its own codes.
std::optional<int> virtualKey(std::string_view code, std::string_view key) {
  if (code.size() == 6 && code.substr(0, 5) == "Digit") return code[5];
  if (code.size() == 7 && code.substr(0, 6) == "Numpad" &&
      std::isdigit(static_cast<unsigned char>(code[6])))
    return kNumpad0 + (code[6] - '0');
  if (key.size() == 1 && std::isalpha(static_cast<unsigned char>(key[0])))
    return std::toupper(static_cast<unsigned char>(key[0]));
  if (code.size() == 4 && code.substr(0, 3) == "Key") return code[3];
  constexpr std::pair<std::string_view, int> kNamed[] = {
      {"Space", VK_SPACE},      {"ArrowLeft", VK_LEFT},  {"ArrowUp", VK_UP},
      {"ArrowRight", VK_RIGHT}, {"ArrowDown", VK_DOWN},  {"Escape", VK_ESCAPE},
      {"ShiftLeft", VK_SHIFT},  {"ShiftRight", VK_SHIFT}};
  for (const auto& [name, vk] : kNamed)
    if (code == name) return vk;
  return std::nullopt;
}

WebBackend& self(void* data) { return *static_cast<WebBackend*>(data); }

EM_BOOL keyEvent(int type, const EmscriptenKeyboardEvent* e, void* data) {
  self(data).onKey(type == EMSCRIPTEN_EVENT_KEYDOWN, e->code, e->key, e->repeat != 0);
  return virtualKey(e->code, e->key).has_value() && !e->ctrlKey && !e->metaKey;
}

EM_BOOL mouseEvent(int type, const EmscriptenMouseEvent* e, void* data) {
  using Kind = InputEvent::Kind;
  Kind kind = Kind::MouseMove;
  if (type == EMSCRIPTEN_EVENT_MOUSEDOWN || type == EMSCRIPTEN_EVENT_MOUSEUP) {
    bool down = type == EMSCRIPTEN_EVENT_MOUSEDOWN;
    if (e->button == 0)
      kind = down ? Kind::LeftDown : Kind::LeftUp;
    else if (e->button == 2)
      kind = down ? Kind::RightDown : Kind::RightUp;
    else
      return EM_FALSE;
  }
  self(data).onMouse(kind, e->clientX, e->clientY);
  return kind != Kind::MouseMove;
}

// Only fingers that landed on the picture count; the first of them still on
// the glass leads, and a finger just lifted gives the position where the
// touch ended.
EM_BOOL touchEvent(int type, const EmscriptenTouchEvent* e, void* data) {
  bool ending = type == EMSCRIPTEN_EVENT_TOUCHEND || type == EMSCRIPTEN_EVENT_TOUCHCANCEL;
  int active = 0;
  const EmscriptenTouchPoint* lead = nullptr;
  const EmscriptenTouchPoint* lifted = nullptr;
  for (int i = 0; i < e->numTouches; ++i) {
    const EmscriptenTouchPoint& t = e->touches[i];
    if (ending && t.isChanged) {
      if (lifted == nullptr) lifted = &t;
    } else if (t.onTarget && active++ == 0) {
      lead = &t;
    }
  }
  if (lead == nullptr) lead = lifted;
  if (lead != nullptr) self(data).onTouches(active, lead->clientX, lead->clientY);
  return EM_TRUE;
}

EM_BOOL focusEvent(int type, const EmscriptenFocusEvent*, void* data) {
  self(data).onFocus(type == EMSCRIPTEN_EVENT_FOCUS);
  return EM_FALSE;
}

EM_BOOL resizeEvent(int, const EmscriptenUiEvent*, void* data) {
  self(data).layOut();
  return EM_FALSE;
}

EM_BOOL orientationEvent(int, const EmscriptenOrientationChangeEvent*, void* data) {
  self(data).layOut();
  return EM_FALSE;
}

// Every listener this backend adds, so that it can take them all away
// again, and nothing else. A null callback removes one. Without keys the
// keyboard's events stay the page's.
void listen(WebBackend* backend, const char* canvas, bool keys, bool on) {
  const char* doc = EMSCRIPTEN_EVENT_TARGET_DOCUMENT;
  const char* win = EMSCRIPTEN_EVENT_TARGET_WINDOW;
  auto pick = [on](auto callback) { return on ? callback : nullptr; };
  if (keys) {
    emscripten_set_keydown_callback(doc, backend, EM_TRUE, pick(keyEvent));
    emscripten_set_keyup_callback(doc, backend, EM_TRUE, pick(keyEvent));
  }
  // Mouse events are taken as they bubble up, so the page's buttons can
  // keep their presses to themselves; fingers count on the picture only.
  emscripten_set_mousemove_callback(doc, backend, EM_FALSE, pick(mouseEvent));
  emscripten_set_mousedown_callback(doc, backend, EM_FALSE, pick(mouseEvent));
  emscripten_set_mouseup_callback(doc, backend, EM_FALSE, pick(mouseEvent));
  emscripten_set_touchstart_callback(canvas, backend, EM_FALSE, pick(touchEvent));
  emscripten_set_touchmove_callback(canvas, backend, EM_FALSE, pick(touchEvent));
  emscripten_set_touchend_callback(canvas, backend, EM_FALSE, pick(touchEvent));
  emscripten_set_touchcancel_callback(canvas, backend, EM_FALSE, pick(touchEvent));
  emscripten_set_focus_callback(win, backend, EM_TRUE, pick(focusEvent));
  emscripten_set_blur_callback(win, backend, EM_TRUE, pick(focusEvent));
  emscripten_set_resize_callback(win, backend, EM_TRUE, pick(resizeEvent));
  emscripten_set_orientationchange_callback(backend, EM_TRUE, pick(orientationEvent));
}

// The backend the page's touch controls reach.
WebBackend* controlled = nullptr;

}  // namespace

WebBackend::WebBackend(std::string canvasSelector, Inputs inputs)
    : canvas_(std::move(canvasSelector)), inputs_(inputs) {
  listen(this, canvas_.selector().c_str(), takesKeys(), true);
  if (takesKeys()) controlled = this;
}

WebBackend::~WebBackend() {
  listen(this, canvas_.selector().c_str(), takesKeys(), false);
  if (controlled == this) controlled = nullptr;
}

// The time the page was shown, so that a recording's times are those of
// what was seen.
DWORD WebBackend::now() { return static_cast<DWORD>(static_cast<std::uint64_t>(clock_.shownMs())); }

// The browser draws the canvas and delivers input only while the program
// sleeps, so every wait is a real sleep: until the next tick, or a while.
void WebBackend::idle(std::optional<DWORD> nextTimerDue) {
  constexpr std::int32_t kLongestSleep = 100;
  std::int32_t wait = kLongestSleep;
  if (nextTimerDue) wait = std::min(wait, static_cast<std::int32_t>(*nextTimerDue - now()));
  if (wait > 0) yieldToBrowser(static_cast<DWORD>(wait));
}

// A browser tab must never spin: each reading of a waiting clock gives the
// page a turn.
void WebBackend::busyWait() { yieldToBrowser(1); }

// A hidden page takes no frame steps: the program sleeps here until the
// page shows again, and its clock has not moved meanwhile.
void WebBackend::yieldToBrowser(DWORD milliseconds) {
  emscripten_sleep(milliseconds);
  clock_.restWhileHidden();
}

void WebBackend::takeInput(std::vector<InputEvent>& events) {
  checkLongPress();
  events.insert(events.end(), pending_.begin(), pending_.end());
  pending_.clear();
  for (int key : releasing_) held_.erase(key);
  releasing_.clear();
}

bool WebBackend::keyDown(int key) {
  if (key == VK_LBUTTON) return left_;
  if (key == VK_RBUTTON) return right_;
  return held_.count(key) != 0;
}

bool WebBackend::openDisplay() { return canvas_.open(640, 480); }

bool WebBackend::setDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel) {
  if (bitsPerPixel != 8 || width == 0 || height == 0 || width > 4096 || height > 4096) return false;
  return canvas_.open(static_cast<int>(width), static_cast<int>(height));
}

// The canvas keeps the last picture, under the page's own controls.
void WebBackend::closeDisplay() {}

void WebBackend::present(const Presentation& frame) { canvas_.show(frame); }

void WebBackend::setPointerVisible(bool visible) { jsSetCursor(visible ? 1 : 0); }

void WebBackend::windowCreated(const WindowInfo& info) {
  if (info.title != nullptr) jsSetTitle(info.title);
  IconImage icon = decodeIcon(info.icon);
  if (icon.width > 0) jsSetIcon(icon.bgra.data(), icon.width, icon.height);
  canvas_.layOut();
}

void WebBackend::windowDestroyed() {}

// F belongs to the page (full screen), as Alt+Enter belongs to the window.
void WebBackend::onKey(bool down, const char* code, const char* name, bool repeat) {
  std::optional<int> vk = virtualKey(code, name);
  if (!vk) return;
  if (*vk == 'F') {
    if (down && !repeat) jsToggleFullScreen();
    return;
  }
  key(down, *vk);
}

void WebBackend::onControl(bool down, int virtualKey) {
  if (virtualKey > 0 && virtualKey < 256 && virtualKey != 'F') key(down, virtualKey);
}

void WebBackend::key(bool down, int virtualKey) {
  if (down) {
    held_.insert(virtualKey);
    releasing_.erase(virtualKey);
  } else {
    releasing_.insert(virtualKey);
  }
  push(down ? InputEvent::Kind::KeyDown : InputEvent::Kind::KeyUp, virtualKey);
}

// Button messages carry the pointer position, so a press where the pointer
// has not yet been reported reports it first.
void WebBackend::onMouse(InputEvent::Kind kind, double clientX, double clientY) {
  using Kind = InputEvent::Kind;
  bool moved = trackPointer(clientX, clientY);
  if (kind == Kind::MouseMove || moved) push(Kind::MouseMove);
  if (kind == Kind::LeftDown || kind == Kind::RightDown) press(kind);
  if (kind == Kind::LeftUp && left_) {
    left_ = false;
    push(kind);
  }
  if (kind == Kind::RightUp && right_) {
    right_ = false;
    push(kind);
  }
}

void WebBackend::onTouches(int count, double clientX, double clientY) {
  using Phase = TouchState::Phase;
  if (trackPointer(clientX, clientY)) push(InputEvent::Kind::MouseMove);
  if (count == 0) {
    touch_ = {};
    releaseButtons();
  } else if (count >= 2 && touch_.phase != Phase::Drawing) {
    touch_ = {Phase::Drawing};
    releaseButtons();
    press(InputEvent::Kind::RightDown);
  } else if (count == 1 && touch_.phase == Phase::Idle) {
    touch_ = {Phase::Pressing, emscripten_get_now(), clientX, clientY};
    press(InputEvent::Kind::LeftDown);
  } else if (touch_.phase == Phase::Pressing &&
             std::hypot(clientX - touch_.x, clientY - touch_.y) > kLongPressSlop) {
    touch_.phase = Phase::Spraying;
  }
}

void WebBackend::checkLongPress() {
  if (touch_.phase != TouchState::Phase::Pressing) return;
  if (emscripten_get_now() - touch_.since < kLongPressMs) return;
  touch_ = {TouchState::Phase::Drawing};
  releaseButtons();
  press(InputEvent::Kind::RightDown);
}

// Keys, buttons and fingers held while the page loses focus never report
// their release (it happens in another window), so they are let go here.
void WebBackend::onFocus(bool gained) {
  if (!gained) {
    held_.clear();
    releasing_.clear();
    touch_ = {};
    releaseButtons();
  }
  push(gained ? InputEvent::Kind::FocusGained : InputEvent::Kind::FocusLost);
}

void WebBackend::push(InputEvent::Kind kind, int key) {
  pending_.push_back({kind, key, pointerX_, pointerY_, now()});
}

// Page positions become picture pixels through the layout of the moment;
// true when the picture pixel under the pointer changed.
bool WebBackend::trackPointer(double clientX, double clientY) {
  int x = 0;
  int y = 0;
  canvas_.toImage(clientX, clientY, x, y);
  bool moved = x != pointerX_ || y != pointerY_;
  pointerX_ = x;
  pointerY_ = y;
  return moved;
}

void WebBackend::press(InputEvent::Kind kind) {
  bool left = kind == InputEvent::Kind::LeftDown;
  bool& state = left ? left_ : right_;
  if (state) return;
  state = true;
  push(kind);
}

void WebBackend::releaseButtons() {
  if (left_) push(InputEvent::Kind::LeftUp);
  if (right_) push(InputEvent::Kind::RightUp);
  left_ = false;
  right_ = false;
}

}  // namespace nebla::platform::web

// The page's touch controls: down is 1 for a press, 0 for a release.
extern "C" EMSCRIPTEN_KEEPALIVE void nebla_control(int down, int virtualKey) {
  if (nebla::platform::web::controlled != nullptr)
    nebla::platform::web::controlled->onControl(down != 0, virtualKey);
}
