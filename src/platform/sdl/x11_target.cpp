// The X11 side of drawing into another program's window.
#include "platform/sdl/x11_target.h"

// clang-format off
#include <X11/Xlib.h>
#include <SDL_syswm.h>
#ifdef NEBLA_HAVE_XRANDR
#include <X11/extensions/Xrandr.h>
#endif
#ifdef NEBLA_HAVE_XINERAMA
#include <X11/extensions/Xinerama.h>
#endif
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

// RandR 1.5's monitors: each output, or a group of outputs the user made
// one monitor with xrandr --setmonitor.
std::vector<Rect> randrMonitors(Display* display, Window root) {
  std::vector<Rect> monitors;
#ifdef NEBLA_HAVE_XRANDR
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(display, &event, &error) || !XRRQueryVersion(display, &major, &minor) ||
      major * 100 + minor < 105)
    return monitors;
  int count = 0;
  XRRMonitorInfo* info = XRRGetMonitors(display, root, True, &count);
  for (int i = 0; i < count; ++i)
    monitors.push_back({info[i].x, info[i].y, info[i].width, info[i].height});
  if (info != nullptr) XRRFreeMonitors(info);
#else
  (void)display;
  (void)root;
#endif
  return monitors;
}

std::vector<Rect> xineramaScreens(Display* display) {
  std::vector<Rect> screens;
#ifdef NEBLA_HAVE_XINERAMA
  int event = 0, error = 0;
  if (!XineramaQueryExtension(display, &event, &error) || !XineramaIsActive(display))
    return screens;
  int count = 0;
  XineramaScreenInfo* info = XineramaQueryScreens(display, &count);
  for (int i = 0; i < count; ++i)
    screens.push_back({info[i].x_org, info[i].y_org, info[i].width, info[i].height});
  if (info != nullptr) XFree(info);
#else
  (void)display;
#endif
  return screens;
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
  XSelectInput(info.info.x11.display, info.info.x11.window,
               StructureNotifyMask | ExposureMask | VisibilityChangeMask);
  XFlush(info.info.x11.display);
  return info.info.x11.display;
}

void settleErrors(void* connection, unsigned long window) {
  guardErrors(window);
  XSync(static_cast<Display*>(connection), False);
}

bool isRoot(void* connection, unsigned long window) {
  auto* display = static_cast<Display*>(connection);
  for (int screen = 0; screen < ScreenCount(display); ++screen)
    if (RootWindow(display, screen) == window) return true;
  return false;
}

std::vector<Rect> monitorsOf(void* connection, unsigned long root) {
  auto* display = static_cast<Display*>(connection);
  std::vector<Rect> monitors = randrMonitors(display, root);
  std::vector<Rect> screens = xineramaScreens(display);
  return screens.size() > monitors.size() ? screens : monitors;
}

MonitorWatch::~MonitorWatch() {
  if (display_ != nullptr) XCloseDisplay(static_cast<Display*>(display_));
}

bool MonitorWatch::watch(unsigned long root) {
#ifdef NEBLA_HAVE_XRANDR
  auto* display = XOpenDisplay(nullptr);
  int error = 0;
  if (display == nullptr) return false;
  if (!XRRQueryExtension(display, &eventBase_, &error)) {
    XCloseDisplay(display);
    return false;
  }
  XRRSelectInput(display, root,
                 RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
  XFlush(display);
  display_ = display;
  return true;
#else
  (void)root;
  return false;
#endif
}

bool MonitorWatch::changed() {
  if (display_ == nullptr) return false;
  auto* display = static_cast<Display*>(display_);
  bool told = false;
  while (XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
#ifdef NEBLA_HAVE_XRANDR
    XRRUpdateConfiguration(&event);
    told = told || (event.type >= eventBase_ && event.type < eventBase_ + RRNumberEvents);
#endif
  }
  return told;
}

std::optional<bool> visibilityFrom(const SDL_SysWMmsg& message, unsigned long window) {
  if (message.subsystem != SDL_SYSWM_X11) return std::nullopt;
  const XEvent& event = message.msg.x11.event;
  if (event.type == VisibilityNotify && event.xvisibility.window == window)
    return event.xvisibility.state != VisibilityFullyObscured;
  if (event.type == UnmapNotify && event.xunmap.window == window) return false;
  return std::nullopt;
}

bool windowGone() { return gone.load(); }

bool destroyedBy(const SDL_SysWMmsg& message, unsigned long window) {
  if (message.subsystem != SDL_SYSWM_X11) return false;
  const XEvent& event = message.msg.x11.event;
  return event.type == DestroyNotify && event.xdestroywindow.window == window;
}

}  // namespace nebla::platform::sdl::x11
