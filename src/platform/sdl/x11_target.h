// Drawing into an X11 window that another program made: a screensaver's
// window, a desktop's live-wallpaper window or the root window. Parses the
// window's id, checks that the window is there, and keeps the program
// alive when the window goes away under it (Xlib would end the process on
// the first error about the vanished window). Finds the monitors a root
// window spans, and whether a window can be seen.
#pragma once

#include <SDL.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/viewport.h"

namespace nebla::platform::sdl::x11 {

// An X11 window id: decimal, or hexadecimal after 0x (as xwininfo prints
// it). Nothing for text that is not such a number, or for 0.
std::optional<unsigned long> parseWindowId(std::string_view text);

// Opens its own connection to DISPLAY and asks for the window (none: the
// default screen's root window). The id if it is there and can be drawn in;
// otherwise nothing, with the reason in `why` (an InputOnly window shows
// nothing drawn into it).
std::optional<unsigned long> findWindow(std::optional<unsigned long> id, std::string& why);

// From now on, errors about `window` mark it gone instead of ending the
// process, and other protocol errors are passed over: the window belongs
// to another program, which may refuse some requests (a second client
// asking for its button presses) or destroy it at any time.
void guardErrors(unsigned long window);

// Asks, on SDL's own connection, to hear of the window's new sizes, its
// exposures, its destruction and whether it is covered: SDL takes a window it did not create as
// it is and asks for nothing itself. These requests do not take anything
// from the window's owner, as asking for its input would. Returns SDL's
// X11 connection (a Display), or null when the window is not X11's.
void* watchWindow(SDL_Window* window);

// Waits for the answers to every request made on the connection so far,
// with errors about `window` marking it gone as guardErrors does: the
// errors still on their way are read here, not by whatever error handler
// is in place when the connection closes.
void settleErrors(void* connection, unsigned long window);

// Whether `window` is the root window of one of the connection's screens.
// X tells nobody when a root window is covered: it is never obscured in
// X's sense, whatever lies over it.
bool isRoot(void* connection, unsigned long window);

// The monitors a root window spans, in its pixels: RandR's monitors (1.5
// and later), or Xinerama's screens where Xinerama joins more X screens
// than RandR sees (RandR then describes only the first). Empty when neither
// is there or the program was built without them.
std::vector<Rect> monitorsOf(void* connection, unsigned long root);

// RandR's changes of a root window's outputs, heard on a connection of its
// own: monitors can move, turn or change mode while the root window keeps
// its size, and SDL's connection passes on only some of RandR's events.
class MonitorWatch {
 public:
  MonitorWatch() = default;
  MonitorWatch(const MonitorWatch&) = delete;
  MonitorWatch& operator=(const MonitorWatch&) = delete;
  ~MonitorWatch();

  // Opens the connection to DISPLAY and asks RandR for the screen's, the
  // CRTCs' and the outputs' changes on root. False, and nothing is ever
  // told, without the display or RandR.
  bool watch(unsigned long root);
  // Whether RandR told of a change since the last call: reads what has
  // come, without waiting. The monitors are then worth reading again.
  bool changed();

 private:
  void* display_ = nullptr;  // the watch's own Display
  int eventBase_ = 0;
};

// What this window-system message says about whether `window` can be
// seen: false once it is fully covered or unmapped, true once part of it
// shows again; nothing for other messages. Only windows that are not
// roots are ever told (see watchWindow).
std::optional<bool> visibilityFrom(const SDL_SysWMmsg& message, unsigned long window);

// Whether an error said that the guarded window is gone.
bool windowGone();

// Whether this window-system message tells that `window` was destroyed.
bool destroyedBy(const SDL_SysWMmsg& message, unsigned long window);

}  // namespace nebla::platform::sdl::x11
