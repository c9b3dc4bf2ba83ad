// Drawing into an X11 window that another program made: a screensaver's
// window, a desktop's live-wallpaper window or the root window. Parses the
// window's id, checks that the window is there, and keeps the program
// alive when the window goes away under it (Xlib would end the process on
// the first error about the vanished window).
#pragma once

#include <SDL.h>

#include <optional>
#include <string>
#include <string_view>

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
// exposures and its destruction: SDL takes a window it did not create as
// it is and asks for nothing itself. These requests do not take anything
// from the window's owner, as asking for its input would. Returns SDL's
// X11 connection (a Display), or null when the window is not X11's.
void* watchWindow(SDL_Window* window);

// Waits for the answers to every request made on the connection so far,
// with errors about `window` marking it gone as guardErrors does: the
// errors still on their way are read here, not by whatever error handler
// is in place when the connection closes.
void settleErrors(void* connection, unsigned long window);

// Whether an error said that the guarded window is gone.
bool windowGone();

// Whether this window-system message tells that `window` was destroyed.
bool destroyedBy(const SDL_SysWMmsg& message, unsigned long window);

}  // namespace nebla::platform::sdl::x11
