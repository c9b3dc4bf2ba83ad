// The X11 side of drawing into another program's window.
#include "platform/sdl/x11_target.h"

// clang-format off
#include <X11/Xlib.h>
#include <SDL_syswm.h>
// clang-format on

#include <atomic>
#include <cstdlib>

namespace nebla::platform::sdl::x11 {
namespace {

std::atomic<unsigned long> guarded{0};
std::atomic<bool> gone{false};
bool findFailed = false;

int noteError(Display*, XErrorEvent* error) {
  bool aboutWindow = error->error_code == BadWindow || error->error_code == BadDrawable;
  if (aboutWindow && error->resourceid == guarded.load()) gone = true;
  return 0;
}

int noteFindError(Display*, XErrorEvent*) {
  findFailed = true;
  return 0;
}

}  // namespace

std::optional<unsigned long> parseWindowId(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty() || text.size() > 16) return std::nullopt;
  unsigned long long id = 0;
  for (char c : text) {
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : 99;
    if (digit >= base) return std::nullopt;
    id = id * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    if (id > 0xFFFFFFFFull) return std::nullopt;
  }
  if (id == 0) return std::nullopt;
  return static_cast<unsigned long>(id);
}

std::optional<unsigned long> findWindow(std::optional<unsigned long> id, std::string& why) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    why = "cannot reach the X display (DISPLAY is " +
          std::string(std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : "not set") + ")";
    return std::nullopt;
  }
  Window window = id ? *id : DefaultRootWindow(display);
  findFailed = false;
  auto previous = XSetErrorHandler(noteFindError);
  XWindowAttributes attributes{};
  bool found = XGetWindowAttributes(display, window, &attributes) != 0;
  XSync(display, False);
  XSetErrorHandler(previous);
  XCloseDisplay(display);
  if (!found || findFailed) {
    why = "there is no window with this id on the display";
    return std::nullopt;
  }
  if (attributes.c_class == InputOnly) {
    why = "it is an InputOnly window, which shows nothing";
    return std::nullopt;
  }
  return window;
}

void guardErrors(unsigned long window) {
  guarded = window;
  XSetErrorHandler(noteError);
}

void* watchWindow(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return nullptr;
  XSelectInput(info.info.x11.display, info.info.x11.window, StructureNotifyMask | ExposureMask);
  XFlush(info.info.x11.display);
  return info.info.x11.display;
}

void settleErrors(void* connection, unsigned long window) {
  guardErrors(window);
  XSync(static_cast<Display*>(connection), False);
}

bool windowGone() { return gone.load(); }

bool destroyedBy(const SDL_SysWMmsg& message, unsigned long window) {
  if (message.subsystem != SDL_SYSWM_X11) return false;
  const XEvent& event = message.msg.x11.event;
  return event.type == DestroyNotify && event.xdestroywindow.window == window;
}

}  // namespace nebla::platform::sdl::x11
