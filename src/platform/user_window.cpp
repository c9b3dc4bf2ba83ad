// Window classes, windows, activation, the pointer counter and the
// program's resources.
#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <map>

#include "platform/backend.h"
#include "platform/bitmap.h"
#include "platform/fault.h"
#include "platform/internal.h"
#include "platform/kernel.h"
#include "platform/resource_table.h"
#include "platform/user_state.h"

namespace nebla::platform {

struct ModuleObject {};
struct IconObject {
  std::span<const unsigned char> image;
};
struct CursorObject {};

namespace {

ModuleObject programModule;
CursorObject arrowCursor;
constexpr std::uintptr_t kArrowId = 32512;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;

// A name argument that carries a resource number instead of a string.
bool resourceNumber(LPCSTR name, int& id) {
  auto value = reinterpret_cast<std::uintptr_t>(name);
  if (value > 0xFFFF) return false;
  id = static_cast<int>(value);
  return true;
}

bool startsWith(std::span<const unsigned char> data, std::initializer_list<unsigned char> magic) {
  return data.size() >= magic.size() && std::equal(magic.begin(), magic.end(), data.begin());
}

WindowClass* findClass(LPCSTR name) {
  for (auto& c : user().classes)
    if (strcasecmp(c.name.c_str(), name) == 0) return &c;
  return nullptr;
}

template <typename T>
T* failWith(DWORD error) {
  SetLastError(error);
  return nullptr;
}

void announceWindow(LPCSTR title, int x, int y, int width, int height, const WindowClass& cls) {
  std::span<const unsigned char> icon =
      cls.icon != nullptr ? cls.icon->image : std::span<const unsigned char>{};
  backend().windowCreated({title != nullptr ? title : "", x, y, width, height, icon});
}

// The last window going takes the activation with it, as the program stops
// being the active application.
void destroy(HWND window) {
  if (user().windows.size() == 1) setActive(false);
  window->procedure(window, WM_DESTROY, 0, 0);
  std::erase_if(user().timers, [window](const Timer& t) { return t.window == window; });
  std::erase_if(user().posted, [window](const MSG& m) { return m.hwnd == window; });
  std::erase_if(user().windows, [window](const auto& each) { return each.get() == window; });
  backend().windowDestroyed();
}

}  // namespace

UserState& user() {
  static UserState state;
  return state;
}

WindowObject* findWindow(HWND window) {
  for (auto& w : user().windows)
    if (w.get() == window) return w.get();
  return nullptr;
}

bool isWindow(HWND window) { return findWindow(window) != nullptr; }

void setActive(bool active) {
  if (user().active == active) return;
  user().active = active;
  std::vector<HWND> windows;
  for (auto& w : user().windows) windows.push_back(w.get());
  for (HWND w : windows)
    if (findWindow(w) != nullptr) w->procedure(w, WM_ACTIVATEAPP, active ? 1 : 0, 0);
}

void resetWindows() { user() = UserState{}; }

std::span<const unsigned char> findResource(int id) {
  for (const ResourceEntry& entry : resourceTable())
    if (entry.id == id) return {entry.data, entry.size};
  return {};
}

HINSTANCE GetModuleHandleA(LPCSTR name) {
  if (auto error = injectedFault<DWORD>("GetModuleHandleA", ERROR_NOT_ENOUGH_MEMORY))
    return failWith<ModuleObject>(*error);
  if (name != nullptr) return failWith<ModuleObject>(ERROR_MOD_NOT_FOUND);
  return &programModule;
}

HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT /*flags*/) {
  if (auto error = injectedFault<DWORD>("LoadImageA", ERROR_NOT_ENOUGH_MEMORY))
    return failWith<void>(*error);
  if (type != IMAGE_BITMAP || cx < 0 || cy < 0) return failWith<void>(ERROR_INVALID_PARAMETER);
  int id = 0;
  std::span<const unsigned char> file;
  if (instance == &programModule && resourceNumber(name, id)) file = findResource(id);
  if (!startsWith(file, {'B', 'M'})) return failWith<void>(ERROR_RESOURCE_NAME_NOT_FOUND);
  DWORD error = ERROR_SUCCESS;
  std::unique_ptr<GdiBitmap> bitmap = parseBmp(file, error);
  if (bitmap == nullptr) return failWith<void>(error);
  if ((cx != 0 && cx != bitmap->width) || (cy != 0 && cy != bitmap->height))
    return failWith<void>(ERROR_INVALID_PARAMETER);
  return adoptBitmap(std::move(bitmap));
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  if (auto error = injectedFault<DWORD>("LoadIconA", ERROR_NOT_ENOUGH_MEMORY))
    return failWith<IconObject>(*error);
  static std::map<int, IconObject> icons;
  int id = 0;
  std::span<const unsigned char> file;
  if (instance == &programModule && resourceNumber(name, id)) file = findResource(id);
  if (!startsWith(file, {0, 0, 1, 0})) return failWith<IconObject>(ERROR_RESOURCE_NAME_NOT_FOUND);
  IconObject& icon = icons[id];
  icon.image = file;
  return &icon;
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  if (auto error = injectedFault<DWORD>("LoadCursorA", ERROR_NOT_ENOUGH_MEMORY))
    return failWith<CursorObject>(*error);
  int id = 0;
  if (instance != nullptr || !resourceNumber(name, id) ||
      static_cast<std::uintptr_t>(id) != kArrowId)
    return failWith<CursorObject>(ERROR_RESOURCE_NAME_NOT_FOUND);
  return &arrowCursor;
}

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
  if (auto error = injectedFault<DWORD>("RegisterClassA", ERROR_NOT_ENOUGH_MEMORY)) {
    SetLastError(*error);
    return 0;
  }
  if (windowClass == nullptr || windowClass->lpfnWndProc == nullptr ||
      windowClass->lpszClassName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (findClass(windowClass->lpszClassName) != nullptr) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  ATOM atom = user().nextAtom++;
  user().classes.push_back(
      {windowClass->lpszClassName, windowClass->lpfnWndProc, windowClass->hIcon, atom});
  return atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE /*instance*/) {
  if (auto r = injectedFault<BOOL>("UnregisterClassA", FALSE)) return *r;
  WindowClass* cls = className != nullptr ? findClass(className) : nullptr;
  if (cls == nullptr) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  for (auto& w : user().windows) {
    if (strcasecmp(w->className.c_str(), cls->name.c_str()) == 0) {
      SetLastError(ERROR_CLASS_HAS_WINDOWS);
      return FALSE;
    }
  }
  std::erase_if(user().classes, [cls](const WindowClass& c) { return &c == cls; });
  return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     void* param) {
  if (auto error = injectedFault<DWORD>("CreateWindowExA", ERROR_NOT_ENOUGH_MEMORY))
    return failWith<WindowObject>(*error);
  WindowClass* cls = className != nullptr ? findClass(className) : nullptr;
  if (cls == nullptr) return failWith<WindowObject>(ERROR_CANNOT_FIND_WND_CLASS);
  if (parent != nullptr && findWindow(parent) == nullptr)
    return failWith<WindowObject>(ERROR_INVALID_WINDOW_HANDLE);
  auto window = std::make_unique<WindowObject>();
  window->procedure = cls->procedure;
  window->className = cls->name;
  HWND handle = window.get();
  user().windows.push_back(std::move(window));
  announceWindow(title, x, y, width, height, *cls);
  CREATESTRUCTA create{
      param, instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
      title, className, exStyle};
  if (handle->procedure(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    destroy(handle);
    return nullptr;
  }
  return handle;
}

BOOL ShowWindow(HWND window, int command) {
  if (auto r = injectedFault<BOOL>("ShowWindow", FALSE)) return *r;
  WindowObject* w = findWindow(window);
  if (w == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  BOOL wasVisible = w->visible ? TRUE : FALSE;
  w->visible = command != SW_HIDE;
  if (w->visible) setActive(true);
  return wasVisible;
}

BOOL DestroyWindow(HWND window) {
  if (auto r = injectedFault<BOOL>("DestroyWindow", FALSE)) return *r;
  WindowObject* w = findWindow(window);
  if (w == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  destroy(w);
  return TRUE;
}

int ShowCursor(BOOL show) {
  if (auto r = injectedFault<int>("ShowCursor", user().cursorCount)) return *r;
  user().cursorCount += show ? 1 : -1;
  backend().setPointerVisible(user().cursorCount >= 0);
  return user().cursorCount;
}

}  // namespace nebla::platform
