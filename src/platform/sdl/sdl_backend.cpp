// The SDL2 backend: window, clock, input and screenshots.
#include "platform/sdl/sdl_backend.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/icon.h"
#include "platform/png/png_writer.h"
#include "platform/sdl/keymap.h"
#include "platform/sdl/video.h"
#include "platform/user.h"
#include "platform/viewport.h"

namespace nebla::platform::sdl {
namespace {

constexpr DWORD kNoteMilliseconds = 3000;

// nebla-YYYYMMDD-HHMMSS.png in the working directory; a second shot within
// the same second gets a number rather than replacing the first. A
// directory that cannot even be searched counts as free of the name, so
// the write itself fails and says why.
std::string screenshotName() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::string name = std::string("nebla-") + stamp + ".png";
  std::error_code error;
  for (int n = 2; std::filesystem::exists(name, error); ++n)
    name = std::string("nebla-") + stamp + "-" + std::to_string(n) + ".png";
  return name;
}

// The PNG writer leaves errno as the failing open or write set it.
std::string writeFailure(int error) {
  if (error == 0) return "the file could not be written";
  return std::generic_category().message(error);
}

// A windowed size that is a whole multiple of the picture and fits the
// desktop with room for the window frame.
int windowedScale(int display, int width, int height) {
  SDL_Rect usable{};
  if (width <= 0 || height <= 0 || SDL_GetDisplayUsableBounds(display, &usable) != 0) return 1;
  return std::max(1, std::min(usable.w * 9 / 10 / width, usable.h * 9 / 10 / height));
}

void setIcon(SDL_Window* window, std::span<const unsigned char> file) {
  IconImage icon = decodeIcon(file);
  if (icon.width == 0) return;
  SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
      icon.bgra.data(), icon.width, icon.height, 32, icon.width * 4, SDL_PIXELFORMAT_BGRA32);
  if (surface == nullptr) return;
  SDL_SetWindowIcon(window, surface);
  SDL_FreeSurface(surface);
}

bool altHeld(const SDL_Keysym& key) { return (key.mod & KMOD_ALT) != 0; }

}  // namespace

SdlBackend::~SdlBackend() {
  presenter_.close();
  if (window_ != nullptr) SDL_DestroyWindow(window_);
  if (videoStarted_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  SDL_Quit();
}

DWORD SdlBackend::now() { return SDL_GetTicks(); }

// The program polls without waiting; with nothing pending the backend
// sleeps until the next timer tick is due or input arrives, whichever comes
// first, so an idle demo costs next to nothing. Without a timer it looks
// again after a while. PeekMessageA has just taken the input, which pumped
// the window system.
void SdlBackend::idle(std::optional<DWORD> nextTimerDue) {
  constexpr std::int32_t kLongestSleep = 100;
  std::int32_t wait = kLongestSleep;
  if (nextTimerDue) wait = std::min(wait, static_cast<std::int32_t>(*nextTimerDue - now()));
  if (wait <= 0) return;
  if (!videoStarted_) {
    SDL_Delay(static_cast<Uint32>(wait));
    return;
  }
  SDL_WaitEventTimeout(nullptr, wait);
}

// The set-up pause and the outro wait by reading the clock; the window
// keeps answering the desktop meanwhile, and the input waits in the queue.
void SdlBackend::busyWait() {
  if (videoStarted_) SDL_PumpEvents();
  expireNote();
  SDL_Delay(1);
}

void SdlBackend::takeInput(std::vector<InputEvent>& events) {
  if (!videoStarted_) return;
  expireNote();
  SDL_Event event;
  // Everything pumped so far, which is what the key state the program
  // polls reflects: SDL_PollEvent would stop at the end of an earlier pump
  // and leave a quitting key's own event behind.
  SDL_PumpEvents();
  tapped_.clear();
  while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1)
    handle(event, events);
}

bool SdlBackend::keyDown(int key) {
  return videoStarted_ && (virtualKeyHeld(key) || tapped_.contains(key));
}

// The window appears with the program's window, at desktop full screen.
// It is made the size of the display from the start: a desktop without a
// window manager never grants full screen, and the window then still
// covers the display as the program expects.
void SdlBackend::windowCreated(const WindowInfo& info) {
  if (window_ != nullptr) return;
  if (!videoStarted_ && !(videoStarted_ = startVideo())) return;
  if (info.width > 0 && info.height > 0) {
    imageWidth_ = info.width;
    imageHeight_ = info.height;
  }
  SDL_Rect bounds{SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, imageWidth_, imageHeight_};
  SDL_GetDisplayBounds(0, &bounds);
  SDL_ClearError();
  window_ = SDL_CreateWindow(info.title, bounds.x, bounds.y, bounds.w, bounds.h,
                             SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_RESIZABLE);
  if (window_ == nullptr) {
    reportSdlFailure(std::string("cannot open a window on the ") + SDL_GetCurrentVideoDriver() +
                     " video driver");
    return;
  }
  title_ = info.title;
  setIcon(window_, info.icon);
  SDL_ShowCursor(pointerVisible_ ? SDL_ENABLE : SDL_DISABLE);
}

void SdlBackend::windowDestroyed() {
  presenter_.close();
  if (window_ != nullptr) SDL_DestroyWindow(window_);
  window_ = nullptr;
  noteShown_ = false;
}

bool SdlBackend::openDisplay() {
  if (window_ == nullptr) return false;
  SDL_ClearError();
  if (presenter_.open(window_)) return true;
  reportSdlFailure("cannot draw into the window");
  return false;
}

bool SdlBackend::setDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel) {
  if (!prepareMode(presenter_, width, height, bitsPerPixel)) return false;
  imageWidth_ = static_cast<int>(width);
  imageHeight_ = static_cast<int>(height);
  return true;
}

void SdlBackend::closeDisplay() { presenter_.close(); }

void SdlBackend::present(const Presentation& frame) { presenter_.show(frame); }

void SdlBackend::setPointerVisible(bool visible) {
  pointerVisible_ = visible;
  if (videoStarted_) SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}

void SdlBackend::handle(const SDL_Event& event, std::vector<InputEvent>& events) {
  using Kind = InputEvent::Kind;
  switch (event.type) {
    case SDL_QUIT: events.push_back({Kind::Close, 0, 0, 0, event.quit.timestamp}); break;
    case SDL_WINDOWEVENT: handleWindowEvent(event.window, events); break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: handleKey(event.key, events); break;
    case SDL_MOUSEMOTION:
      trackPointer(event.motion.x, event.motion.y);
      events.push_back({Kind::MouseMove, 0, pointerX_, pointerY_, event.motion.timestamp});
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: handleButton(event.button, events); break;
    case SDL_RENDER_TARGETS_RESET:
    case SDL_RENDER_DEVICE_RESET: presenter_.redraw(); break;
    default: break;
  }
}

void SdlBackend::handleWindowEvent(const SDL_WindowEvent& event, std::vector<InputEvent>& events) {
  using Kind = InputEvent::Kind;
  switch (event.event) {
    case SDL_WINDOWEVENT_CLOSE: events.push_back({Kind::Close, 0, 0, 0, event.timestamp}); break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      events.push_back({Kind::FocusGained, 0, 0, 0, event.timestamp});
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      events.push_back({Kind::FocusLost, 0, 0, 0, event.timestamp});
      break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_EXPOSED:
    case SDL_WINDOWEVENT_RESTORED: presenter_.redraw(); break;
    default: break;
  }
}

// Alt+Enter and PrintScreen belong to the window, not to the program.
void SdlBackend::handleKey(const SDL_KeyboardEvent& event, std::vector<InputEvent>& events) {
  bool down = event.type == SDL_KEYDOWN;
  SDL_Scancode code = event.keysym.scancode;
  bool enter = code == SDL_SCANCODE_RETURN || code == SDL_SCANCODE_KP_ENTER;
  if (down && event.repeat == 0 && enter && altHeld(event.keysym)) {
    toggleFullScreen();
    return;
  }
  if (down && event.repeat == 0 && code == SDL_SCANCODE_PRINTSCREEN) {
    saveScreenshot();
    return;
  }
  std::optional<int> vk = virtualKey(event.keysym);
  if (!vk) return;
  if (down) tapped_.insert(*vk);
  events.push_back(
      {down ? InputEvent::Kind::KeyDown : InputEvent::Kind::KeyUp, *vk, 0, 0, event.timestamp});
}

// Button messages carry the pointer position, so a press where the
// pointer has not yet been reported reports it first.
void SdlBackend::handleButton(const SDL_MouseButtonEvent& event, std::vector<InputEvent>& events) {
  using Kind = InputEvent::Kind;
  bool down = event.type == SDL_MOUSEBUTTONDOWN;
  Kind kind;
  if (event.button == SDL_BUTTON_LEFT)
    kind = down ? Kind::LeftDown : Kind::LeftUp;
  else if (event.button == SDL_BUTTON_RIGHT)
    kind = down ? Kind::RightDown : Kind::RightUp;
  else
    return;
  if (trackPointer(event.x, event.y))
    events.push_back({Kind::MouseMove, 0, pointerX_, pointerY_, event.timestamp});
  events.push_back({kind, 0, pointerX_, pointerY_, event.timestamp});
}

// Window positions become picture pixels through the bars and the scale of
// the moment; true when the picture pixel under the pointer changed.
bool SdlBackend::trackPointer(int windowX, int windowY) {
  int windowWidth = 0;
  int windowHeight = 0;
  if (window_ != nullptr) SDL_GetWindowSize(window_, &windowWidth, &windowHeight);
  int x = 0;
  int y = 0;
  windowToImage(presenter_.pictureIn(windowWidth, windowHeight), imageWidth_, imageHeight_, windowX,
                windowY, x, y);
  bool moved = x != pointerX_ || y != pointerY_;
  pointerX_ = x;
  pointerY_ = y;
  return moved;
}

// Alt+Enter: a resizable window of a whole multiple of the picture, centred,
// or back to full screen over the display the window is on (covering it
// first, for the same reason as at creation).
void SdlBackend::toggleFullScreen() {
  if (window_ == nullptr) return;
  int display = std::max(0, SDL_GetWindowDisplayIndex(window_));
  bool full = (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN_DESKTOP) ==
              SDL_WINDOW_FULLSCREEN_DESKTOP;
  if (full) {
    int scale = windowedScale(display, imageWidth_, imageHeight_);
    SDL_SetWindowFullscreen(window_, 0);
    SDL_SetWindowSize(window_, imageWidth_ * scale, imageHeight_ * scale);
    SDL_SetWindowPosition(window_, SDL_WINDOWPOS_CENTERED_DISPLAY(display),
                          SDL_WINDOWPOS_CENTERED_DISPLAY(display));
  } else {
    SDL_Rect bounds{};
    if (SDL_GetDisplayBounds(display, &bounds) == 0) {
      SDL_SetWindowPosition(window_, bounds.x, bounds.y);
      SDL_SetWindowSize(window_, bounds.w, bounds.h);
    }
    SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN_DESKTOP);
  }
  presenter_.redraw();
}

// The last frame shown, through the palette it was shown with.
void SdlBackend::saveScreenshot() {
  if (!presenter_.hasFrame()) return;
  std::string name = screenshotName();
  errno = 0;
  bool saved = png::writePng(name, presenter_.pixels().data(),
                             static_cast<std::uint32_t>(presenter_.imageWidth()),
                             static_cast<std::uint32_t>(presenter_.imageHeight()),
                             presenter_.imageWidth(), presenter_.palette().data());
  std::string failure = saved ? std::string() : writeFailure(errno);
  if (report_) report_(name, failure);
}

// Measured in wall time, so a slow frame rate does not stretch the note; a
// newer note replaces the one shown and starts the time again.
void SdlBackend::showNote(const std::string& text) {
  if (window_ == nullptr) return;
  SDL_SetWindowTitle(window_, (title_ + " - " + text).c_str());
  noteShown_ = true;
  noteUntil_ = now() + kNoteMilliseconds;
}

void SdlBackend::expireNote() {
  if (!noteShown_ || static_cast<std::int32_t>(now() - noteUntil_) < 0) return;
  noteShown_ = false;
  if (window_ != nullptr) SDL_SetWindowTitle(window_, title_.c_str());
}

}  // namespace nebla::platform::sdl
