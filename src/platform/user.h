// The window manager for the program: window classes, windows, timers, the
// message queue, keyboard and pointer state, and the program's resources
// (bitmaps, icon, cursor).
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace nebla::platform {

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
};

struct CREATESTRUCTA {
  void* lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};

// lParam of WM_COPYDATA: a block of bytes for the window, valid during the
// call only.
struct COPYDATASTRUCT {
  ULONG_PTR dwData;
  DWORD cbData;
  PVOID lpData;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

// A resource number in a name argument, as the platform encodes it.
inline LPCSTR MAKEINTRESOURCEA(WORD id) {
  return reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(id));
}
inline const LPCSTR IDC_ARROW = MAKEINTRESOURCEA(32512);

constexpr UINT CS_VREDRAW = 0x1;
constexpr UINT CS_HREDRAW = 0x2;
constexpr UINT CS_OWNDC = 0x20;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;
constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;
constexpr int COLOR_MENUTEXT = 7;
constexpr int SM_SHUTTINGDOWN = 0x2000;

constexpr UINT IMAGE_BITMAP = 0;
constexpr UINT IMAGE_ICON = 1;
constexpr UINT LR_DEFAULTSIZE = 0x40;
constexpr UINT LR_CREATEDIBSECTION = 0x2000;

constexpr UINT WM_CREATE = 0x1;
constexpr UINT WM_DESTROY = 0x2;
constexpr UINT WM_CLOSE = 0x10;
constexpr UINT WM_QUIT = 0x12;
constexpr UINT WM_ACTIVATEAPP = 0x1C;
constexpr UINT WM_COPYDATA = 0x4A;
constexpr UINT WM_KEYDOWN = 0x100;
constexpr UINT WM_KEYUP = 0x101;
constexpr UINT WM_TIMER = 0x113;
constexpr UINT WM_MOUSEMOVE = 0x200;
constexpr UINT WM_LBUTTONDOWN = 0x201;
constexpr UINT WM_LBUTTONUP = 0x202;
constexpr UINT WM_RBUTTONDOWN = 0x204;
constexpr UINT WM_RBUTTONUP = 0x205;

// Button and modifier bits in wParam of mouse messages.
constexpr WPARAM MK_LBUTTON = 0x1;
constexpr WPARAM MK_RBUTTON = 0x2;
constexpr WPARAM MK_SHIFT = 0x4;

constexpr int VK_LBUTTON = 0x01;
constexpr int VK_RBUTTON = 0x02;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_SPACE = 0x20;
constexpr int VK_LEFT = 0x25;
constexpr int VK_UP = 0x26;
constexpr int VK_RIGHT = 0x27;
constexpr int VK_DOWN = 0x28;
constexpr int VK_SNAPSHOT = 0x2C;

// The program's own module (name null), for the entry function; other
// names are not found.
HINSTANCE GetModuleHandleA(LPCSTR name);
// The display set-up and the outro load their pictures: a bitmap resource
// of the program's module by number (IMAGE_BITMAP; cx and cy 0 or the
// picture's own size): 4- or 8-bit BMP pictures with their colour table. The result is an HBITMAP
// (and an HGDIOBJ); null and ERROR_RESOURCE_NAME_NOT_FOUND for an unknown number.
HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags);
// The program icon (resource 101) for the window class at set-up.
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
// The class's cursor at set-up: instance null, IDC_ARROW.
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);

// The display set-up registers the class, the teardown unregisters it.
// Class names compare without regard to case. RegisterClassA returns 0 and
// ERROR_CLASS_ALREADY_EXISTS for a name already registered;
// UnregisterClassA returns FALSE and ERROR_CLASS_DOES_NOT_EXIST for one that
// is not (ERROR_CLASS_HAS_WINDOWS while a window of the class lives).
ATOM RegisterClassA(const WNDCLASSA* windowClass);
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);

// Creates the window and, inside this call, sends WM_CREATE to the class's
// window procedure with lParam pointing to a CREATESTRUCTA whose
// lpCreateParams is param. A procedure answering -1 cancels the creation.
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     void* param);
// SW_SHOW shows the window and makes the program the active application:
// WM_ACTIVATEAPP with wParam 1 is sent to the window procedure at once.
// Returns whether the window was visible before.
BOOL ShowWindow(HWND window, int command);
// Sends WM_ACTIVATEAPP 0 if the program was active and this was its last
// window, then WM_DESTROY; the window's timers and queued messages go.
BOOL DestroyWindow(HWND window);

// The display set-up starts the frame timer. Starts (or restarts) timer id
// of a window; its first tick is due period
// ms from now. Returns id (0 and the last error on failure). Periods below
// 10 ms count as 10. With proc set, DispatchMessageA calls proc instead of
// the window procedure.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT periodMs, TIMERPROC proc);
// Stops a timer; FALSE when there is no such timer.
BOOL KillTimer(HWND window, UINT_PTR id);

// The message loop polls with it. Takes (PM_REMOVE) or looks at the next
// message for window (null: any) in
// [first, last] (0, 0: all). Order: messages posted and input events (in
// time order), then WM_QUIT once PostQuitMessage was called, then one
// WM_TIMER of a timer that is due (ticks do not pile up: one pending tick
// per timer; a tick taken at time t makes the next due at t + period).
// When nothing is there, the backend lets time pass until something is.
BOOL PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT remove);
// The message loop passes every message it takes through these two.
// Translation adds nothing here; dispatching calls the window procedure (or
// the timer procedure) and returns its result.
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
// Queues a message behind those already waiting (null window: the thread).
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The message loop asks to quit: WM_QUIT comes once the queue is empty.
void PostQuitMessage(int exitCode);
// The window procedure passes on what it does not answer itself. Default
// answers: 0 for every message the program passes on.
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// SM_SHUTTINGDOWN: nonzero once whoever runs the program wants it gone at
// once (see Backend::sessionEnding), and from then on. Asked between
// readings of GetTickCount, it does not end a busy wait's run of readings.
// Other indices answer 0.
int GetSystemMetrics(int index);

// The message loop polls Escape and Q. Key state now, from the keyboard
// itself: bit 0x8000 set while down.
SHORT GetAsyncKeyState(int key);
// The window procedure asks for Shift. Key state as of the last keyboard
// message taken from the queue: bit
// 0x8000 set while down, bit 1 toggled by each press.
SHORT GetKeyState(int key);
// The window procedure hides and shows the pointer. Moves the pointer's
// display counter (starts at 0) up or down; the pointer
// shows while it is 0 or more. Returns the new count.
int ShowCursor(BOOL show);

}  // namespace nebla::platform
