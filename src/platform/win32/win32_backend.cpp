// The Win32 backend: window, message pump, GDI presentation, clock, input
// and screenshots. The platform's headers come in first, through this
// file's own header, and <windows.h> after them: the system's macros (TRUE,
// RGB, VK_ESCAPE...) would otherwise rewrite the platform's declarations of
// the same names. In this file the system's types are written with `::`.
#include "platform/win32/win32_backend.h"

#include <windows.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "platform/win32/bitmap_file.h"
#include "platform/win32/monitors.h"

namespace nebla::platform::win32 {
namespace {

constexpr wchar_t kClassName[] = L"NeblaWindow";
constexpr DWORD kNoteMilliseconds = 3000;
constexpr int kIconResource = 1;
// The screensaver ignores the pointer's jitter; a real movement ends it.
constexpr int kDismissDistance = 4;

::HWND handle(void* window) { return static_cast<::HWND>(window); }

std::wstring wide(const std::string& text) {
  std::wstring out;
  for (char c : text) out.push_back(static_cast<unsigned char>(c));
  return out;
}

::LRESULT CALLBACK windowProcedure(::HWND window, ::UINT message, ::WPARAM wParam,
                                   ::LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<::CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<::LONG_PTR>(create->lpCreateParams));
  }
  auto* backend = reinterpret_cast<Win32Backend*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  std::intptr_t result = 0;
  if (backend != nullptr && backend->onMessage(message, wParam, lParam, result)) return result;
  return ::DefWindowProcW(window, message, wParam, lParam);
}

bool registerClass() {
  static bool registered = false;
  if (registered) return true;
  ::WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = windowProcedure;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hIcon = ::LoadIconW(wc.hInstance, MAKEINTRESOURCEW(kIconResource));
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<::HBRUSH>(::GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = kClassName;
  registered = ::RegisterClassExW(&wc) != 0;
  return registered;
}

// The keys the program knows, by their virtual-key codes; the others never
// reach it (as with the other backends).
bool programKey(int vk) {
  return (vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9') ||
         (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9) || vk == VK_SPACE || vk == VK_LEFT || vk == VK_UP ||
         vk == VK_RIGHT || vk == VK_DOWN || vk == VK_ESCAPE || vk == VK_SHIFT;
}

::RECT monitorOf(::HWND window, bool workArea) {
  ::MONITORINFO info{};
  info.cbSize = sizeof info;
  ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &info);
  return workArea ? info.rcWork : info.rcMonitor;
}

::BOOL CALLBACK addMonitor(::HMONITOR, ::HDC, ::LPRECT area, ::LPARAM list) {
  reinterpret_cast<std::vector<Rect>*>(list)->push_back(
      {area->left, area->top, area->right - area->left, area->bottom - area->top});
  return TRUE;
}

// nebla-YYYYMMDD-HHMMSS.bmp in the working directory; a second shot in the
// same second gets a number rather than replacing the first.
std::string screenshotName() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_s(&local, &now);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::string name = std::string("nebla-") + stamp + ".bmp";
  for (int n = 2; ::GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; ++n)
    name = std::string("nebla-") + stamp + "-" + std::to_string(n) + ".bmp";
  return name;
}

}  // namespace

Win32Backend::Win32Backend(Options options) : options_(std::move(options)) {
  // The window is measured in the display's own pixels; otherwise the
  // system would stretch it, blurred, on a display scaled above 100 %.
  ::SetProcessDPIAware();
  // Waits end within a millisecond of their time, not on the default
  // 15.6 ms scheduler tick.
  ::timeBeginPeriod(1);
}

Win32Backend::~Win32Backend() {
  windowDestroyed();
  ::timeEndPeriod(1);
}

DWORD Win32Backend::now() { return ::timeGetTime(); }

// With nothing pending the backend sleeps until the next timer tick is due
// or input arrives, whichever comes first.
void Win32Backend::idle(std::optional<DWORD> nextTimerDue) {
  constexpr std::int32_t kLongestSleep = 100;
  std::int32_t wait = kLongestSleep;
  if (nextTimerDue) wait = std::min(wait, static_cast<std::int32_t>(*nextTimerDue - now()));
  if (wait <= 0) return;
  ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<::DWORD>(wait), QS_ALLINPUT);
}

// The set-up pause and the outro wait by reading the clock; the window
// keeps answering the desktop meanwhile, and the input waits in the queue.
void Win32Backend::busyWait() {
  pump();
  expireNote();
  ::Sleep(1);
}

void Win32Backend::pump() {
  ::MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (options_.mode == Mode::Preview) followParent();
}

void Win32Backend::takeInput(std::vector<InputEvent>& events) {
  pump();
  expireNote();
  events.insert(events.end(), pending_.begin(), pending_.end());
  pending_.clear();
}

// Only while the window has the focus, as a key pressed for another
// program is not meant for this one.
bool Win32Backend::keyDown(int key) {
  if (window_ == nullptr || ::GetForegroundWindow() != handle(window_)) return false;
  return (::GetAsyncKeyState(key) & 0x8000) != 0;
}

void Win32Backend::push(InputEvent::Kind kind, int key) {
  pending_.push_back({kind, key, pointerX_, pointerY_, now()});
}

// The window appears with the program's window: full screen over the
// primary monitor for the program, over the whole virtual screen for the
// screensaver, or as a child filling the preview window.
void Win32Backend::windowCreated(const WindowInfo& info) {
  if (window_ != nullptr || !registerClass()) return;
  imageWidth_ = info.width > 0 ? info.width : imageWidth_;
  imageHeight_ = info.height > 0 ? info.height : imageHeight_;
  title_ = info.title != nullptr ? info.title : "";
  ::HINSTANCE instance = ::GetModuleHandleW(nullptr);
  ::HWND created = nullptr;
  if (options_.mode == Mode::Preview) {
    auto parent = reinterpret_cast<::HWND>(options_.parent);
    ::RECT area{};
    ::GetClientRect(parent, &area);
    created = ::CreateWindowExW(0, kClassName, wide(title_).c_str(), WS_CHILD | WS_VISIBLE, 0, 0,
                                area.right, area.bottom, parent, nullptr, instance, this);
  } else if (options_.mode == Mode::ScreenSaver) {
    created = ::CreateWindowExW(WS_EX_TOPMOST, kClassName, wide(title_).c_str(), WS_POPUP, 0, 0, 0,
                                0, nullptr, nullptr, instance, this);
  } else {
    created = ::CreateWindowExW(0, kClassName, wide(title_).c_str(), WS_POPUP, 0, 0,
                                ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN),
                                nullptr, nullptr, instance, this);
  }
  if (created == nullptr) return;
  window_ = created;
  if (options_.mode == Mode::ScreenSaver) coverVirtualScreen();
  if (options_.mode != Mode::Preview) {
    ::ShowWindow(created, SW_SHOW);
    ::SetForegroundWindow(created);
  }
  setPointerVisible(pointerVisible_);
}

// The monitors are read again whenever the displays change, and the window
// follows the virtual screen.
void Win32Backend::coverVirtualScreen() {
  virtualScreen_ = {::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN),
                    ::GetSystemMetrics(SM_CXVIRTUALSCREEN), ::GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  monitors_.clear();
  ::EnumDisplayMonitors(nullptr, nullptr, addMonitor, reinterpret_cast<::LPARAM>(&monitors_));
  ::SetWindowPos(handle(window_), nullptr, virtualScreen_.x, virtualScreen_.y, virtualScreen_.w,
                 virtualScreen_.h, SWP_NOACTIVATE | SWP_NOZORDER);
}

void Win32Backend::windowDestroyed() {
  if (window_ == nullptr) return;
  ::HWND window = handle(window_);
  window_ = nullptr;
  ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  ::DestroyWindow(window);
  noteShown_ = false;
}

bool Win32Backend::openDisplay() {
  displayOpen_ = window_ != nullptr;
  return displayOpen_;
}

bool Win32Backend::setDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel) {
  if (!displayOpen_ || bitsPerPixel != 8 || width == 0 || height == 0) return false;
  imageWidth_ = static_cast<int>(width);
  imageHeight_ = static_cast<int>(height);
  stride_ = (imageWidth_ + 3) & ~3;
  pixels_.assign(static_cast<std::size_t>(stride_) * imageHeight_, 0);
  palette_.assign(256, PALETTEENTRY{});
  hasFrame_ = false;
  return true;
}

void Win32Backend::closeDisplay() {
  displayOpen_ = false;
  hasFrame_ = false;
}

// A surface of another size than the mode is drawn into the top-left
// corner of the kept frame.
void Win32Backend::present(const Presentation& frame) {
  if (!displayOpen_ || pixels_.empty()) return;
  std::copy_n(frame.palette, 256, palette_.begin());
  auto rows = std::min<DWORD>(frame.height, static_cast<DWORD>(imageHeight_));
  auto bytes = std::min<DWORD>(frame.width, static_cast<DWORD>(imageWidth_));
  for (DWORD y = 0; y < rows; ++y)
    std::copy_n(frame.pixels + static_cast<std::ptrdiff_t>(y) * frame.pitch, bytes,
                pixels_.begin() + static_cast<std::ptrdiff_t>(y) * stride_);
  hasFrame_ = true;
  draw();
}

// Where the picture lies in the window: the largest whole multiple that
// fits, centred (the plain fit when the window is smaller than the image).
Rect Win32Backend::pictureRect() const {
  ::RECT client{};
  ::GetClientRect(handle(window_), &client);
  return fitWholeMultiple(client.right, client.bottom, imageWidth_, imageHeight_);
}

// The screensaver shows the picture once on every monitor.
std::vector<Rect> Win32Backend::pictureRects() const {
  if (options_.mode != Mode::ScreenSaver) return {pictureRect()};
  return picturesOnMonitors(virtualScreen_, monitors_, imageWidth_, imageHeight_);
}

// The picture through its palette with StretchDIBits, which repeats whole
// pixels at whole multiples; black around it, and black all over until the
// first frame. Only where no picture goes is painted black, so the
// pictures do not flicker.
void Win32Backend::draw() {
  if (window_ == nullptr) return;
  ::HWND window = handle(window_);
  ::RECT client{};
  ::GetClientRect(window, &client);
  std::vector<Rect> pictures = hasFrame_ ? pictureRects() : std::vector<Rect>{};
  ::HDC dc = ::GetDC(window);
  for (const Rect& p : pictures) ::ExcludeClipRect(dc, p.x, p.y, p.x + p.w, p.y + p.h);
  ::FillRect(dc, &client, static_cast<::HBRUSH>(::GetStockObject(BLACK_BRUSH)));
  ::SelectClipRgn(dc, nullptr);
  if (hasFrame_) {
    struct {
      ::BITMAPINFOHEADER header;
      ::RGBQUAD colours[256];
    } info{};
    info.header = {
        sizeof(::BITMAPINFOHEADER), imageWidth_, -imageHeight_, 1, 8, BI_RGB, 0, 0, 0, 256, 0};
    for (int i = 0; i < 256; ++i)
      info.colours[i] = {palette_[i].peBlue, palette_[i].peGreen, palette_[i].peRed, 0};
    ::SetStretchBltMode(dc, COLORONCOLOR);
    for (const Rect& p : pictures)
      ::StretchDIBits(dc, p.x, p.y, p.w, p.h, 0, 0, imageWidth_, imageHeight_, pixels_.data(),
                      reinterpret_cast<::BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCCOPY);
  }
  ::ReleaseDC(window, dc);
}

// The cursor changes at once when it is over the window, not only at its
// next movement.
void Win32Backend::setPointerVisible(bool visible) {
  pointerVisible_ = visible;
  if (window_ == nullptr || options_.mode == Mode::Preview) return;
  ::POINT at{};
  if (::GetCursorPos(&at) && ::WindowFromPoint(at) == handle(window_))
    ::SetCursor(visible ? ::LoadCursorW(nullptr, IDC_ARROW) : nullptr);
}

bool Win32Backend::onMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                             std::intptr_t& result) {
  using Kind = InputEvent::Kind;
  if (options_.mode == Mode::ScreenSaver) onScreenSaverInput(message, wParam, lParam);
  switch (message) {
    case WM_PAINT: {
      ::PAINTSTRUCT paint;
      ::BeginPaint(handle(window_), &paint);
      ::EndPaint(handle(window_), &paint);
      draw();
      return true;
    }
    case WM_ERASEBKGND: result = 1; return true;
    case WM_SIZE: draw(); return false;
    case WM_DISPLAYCHANGE:
      if (options_.mode == Mode::ScreenSaver) coverVirtualScreen();
      return false;
    case WM_SETCURSOR:
      if (LOWORD(lParam) != HTCLIENT || options_.mode == Mode::Preview || pointerVisible_)
        return false;
      ::SetCursor(nullptr);
      result = TRUE;
      return true;
    case WM_CLOSE:
      if (options_.mode == Mode::Window)
        push(Kind::Close);
      else
        endSession();
      return true;
    case WM_DESTROY:
      // Only another's doing reaches here (windowDestroyed lets go of the
      // window first): the preview's window destroyed under it.
      window_ = nullptr;
      endSession();
      return false;
    case WM_ACTIVATE:
      if ((LOWORD(wParam) != WA_INACTIVE) != focused_) {
        focused_ = LOWORD(wParam) != WA_INACTIVE;
        push(focused_ ? Kind::FocusGained : Kind::FocusLost);
      }
      return false;
    default: break;
  }
  if (options_.mode != Mode::Window) return false;
  return onKey(message, wParam, lParam) || onMouse(message, lParam);
}

// Alt+Enter and PrintScreen belong to the window, not to the program; the
// system keeps Alt+F4 (a close request) and Alt+Tab.
bool Win32Backend::onKey(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
  bool up = message == WM_KEYUP || message == WM_SYSKEYUP;
  if (!down && !up) return false;
  int vk = static_cast<int>(wParam);
  bool repeat = (lParam & (1 << 30)) != 0;
  if (message == WM_SYSKEYDOWN && vk == VK_RETURN) {
    if (!repeat) toggleFullScreen();
    return true;
  }
  if (vk == VK_SNAPSHOT) {
    // The system often sends PrintScreen's key-up alone.
    if (up) saveScreenshot();
    return true;
  }
  if (message == WM_SYSKEYDOWN || message == WM_SYSKEYUP) return false;
  if (programKey(vk)) push(down ? InputEvent::Kind::KeyDown : InputEvent::Kind::KeyUp, vk);
  return true;
}

// Button messages carry the pointer position, so a press where the
// pointer has not yet been reported reports it first. A held button keeps
// the pointer's messages coming when it leaves the window.
bool Win32Backend::onMouse(unsigned message, std::intptr_t lParam) {
  using Kind = InputEvent::Kind;
  Kind kind;
  switch (message) {
    case WM_MOUSEMOVE: kind = Kind::MouseMove; break;
    case WM_LBUTTONDOWN: kind = Kind::LeftDown; break;
    case WM_LBUTTONUP: kind = Kind::LeftUp; break;
    case WM_RBUTTONDOWN: kind = Kind::RightDown; break;
    case WM_RBUTTONUP: kind = Kind::RightUp; break;
    default: return false;
  }
  bool moved = trackPointer(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
  if (kind == Kind::MouseMove) {
    push(kind);
    return true;
  }
  if (moved) push(Kind::MouseMove);
  push(kind);
  if (kind == Kind::LeftDown || kind == Kind::RightDown) ::SetCapture(handle(window_));
  if ((::GetKeyState(VK_LBUTTON) & 0x8000) == 0 && (::GetKeyState(VK_RBUTTON) & 0x8000) == 0)
    ::ReleaseCapture();
  return true;
}

// Window positions become picture pixels through the bars and the scale of
// the moment; true when the picture pixel under the pointer changed.
bool Win32Backend::trackPointer(int windowX, int windowY) {
  int x = 0;
  int y = 0;
  windowToImage(pictureRect(), imageWidth_, imageHeight_, windowX, windowY, x, y);
  bool moved = x != pointerX_ || y != pointerY_;
  pointerX_ = x;
  pointerY_ = y;
  return moved;
}

// A key, a click or a real movement of the pointer ends the screensaver, as
// does another program taking the focus.
void Win32Backend::onScreenSaverInput(unsigned message, std::uintptr_t wParam,
                                      std::intptr_t lParam) {
  switch (message) {
    case WM_MOUSEMOVE: {
      int x = GET_X_LPARAM(lParam);
      int y = GET_Y_LPARAM(lParam);
      if (!pointerSeen_) {
        pointerSeen_ = true;
        firstX_ = x;
        firstY_ = y;
      } else if (std::abs(x - firstX_) > kDismissDistance ||
                 std::abs(y - firstY_) > kDismissDistance) {
        endSession();
      }
      break;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: endSession(); break;
    case WM_ACTIVATEAPP:
      if (wParam == 0) endSession();
      break;
    default: break;
  }
}

// The window goes at once; the program ends at its next look, without the
// outro (there is no one left to watch it).
void Win32Backend::endSession() {
  if (ending_) return;
  ending_ = true;
  if (window_ != nullptr) ::ShowWindow(handle(window_), SW_HIDE);
}

// The preview window of the settings dialog can change size; the program's
// window follows it, and goes when the dialog closes it.
void Win32Backend::followParent() {
  auto parent = reinterpret_cast<::HWND>(options_.parent);
  if (window_ == nullptr) return;
  if (!::IsWindow(parent)) {
    endSession();
    return;
  }
  ::RECT area{};
  ::RECT mine{};
  ::GetClientRect(parent, &area);
  ::GetClientRect(handle(window_), &mine);
  if (area.right != mine.right || area.bottom != mine.bottom)
    ::MoveWindow(handle(window_), 0, 0, area.right, area.bottom, TRUE);
}

// Alt+Enter: a resizable window of a whole multiple of the picture, centred
// on the work area, or back to full screen over the monitor it is on.
void Win32Backend::toggleFullScreen() {
  ::HWND window = handle(window_);
  fullScreen_ = !fullScreen_;
  if (fullScreen_) {
    ::RECT m = monitorOf(window, false);
    ::SetWindowLongPtrW(window, GWL_STYLE, WS_POPUP | WS_VISIBLE);
    ::SetWindowPos(window, nullptr, m.left, m.top, m.right - m.left, m.bottom - m.top,
                   SWP_FRAMECHANGED | SWP_SHOWWINDOW | SWP_NOZORDER);
  } else {
    ::RECT work = monitorOf(window, true);
    int scale = std::max(1L, std::min((work.right - work.left) * 9 / 10 / imageWidth_,
                                      (work.bottom - work.top) * 9 / 10 / imageHeight_));
    ::RECT frame{0, 0, imageWidth_ * scale, imageHeight_ * scale};
    ::AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    int w = frame.right - frame.left;
    int h = frame.bottom - frame.top;
    ::SetWindowLongPtrW(window, GWL_STYLE, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    ::SetWindowPos(window, nullptr, work.left + (work.right - work.left - w) / 2,
                   work.top + (work.bottom - work.top - h) / 2, w, h,
                   SWP_FRAMECHANGED | SWP_SHOWWINDOW | SWP_NOZORDER);
  }
  ::InvalidateRect(window, nullptr, FALSE);
}

// The last frame shown, through the palette it was shown with.
void Win32Backend::saveScreenshot() {
  if (!hasFrame_) return;
  std::string name = screenshotName();
  std::string failure;
  writeBitmapFile(name, pixels_.data(), imageWidth_, imageHeight_, stride_, palette_.data(),
                  failure);
  if (report_) report_(name, failure);
}

// Measured in wall time; a newer note replaces the one shown.
void Win32Backend::showNote(const std::string& text) {
  if (window_ == nullptr) return;
  ::SetWindowTextW(handle(window_), wide(title_ + " - " + text).c_str());
  noteShown_ = true;
  noteUntil_ = now() + kNoteMilliseconds;
}

void Win32Backend::expireNote() {
  if (!noteShown_ || static_cast<std::int32_t>(now() - noteUntil_) < 0) return;
  noteShown_ = false;
  if (window_ != nullptr) ::SetWindowTextW(handle(window_), wide(title_).c_str());
}

void tellUser(const std::string& text) {
  ::MessageBoxW(nullptr, wide(text).c_str(), L"Nebla", MB_OK | MB_ICONERROR);
}

}  // namespace nebla::platform::win32
