// The screensaver's command line, as the system writes it: /s to run, /p
// HWND to draw into the preview of the Screen Saver Settings dialog, /c
// (or nothing) for the settings; "-s", "/S" and "/p:HWND" count the same.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nebla::platform::win32 {

struct ScreenSaverCall {
  enum class Kind {
    Run,        // /s
    Preview,    // /p HWND
    Configure,  // /c, /c:HWND or no argument
    None,       // anything else (/a, damaged or unknown): end quietly
  };
  Kind kind = Kind::None;
  std::uintptr_t window = 0;  // Preview: the preview window; Configure: the owner, or 0
};

// Reads the arguments after the program's name. A window handle must be a
// decimal number above zero that fits a handle; a preview without one is
// None, a settings call with a bad one is None too.
ScreenSaverCall parseScreenSaverArguments(const std::vector<std::string>& args);

}  // namespace nebla::platform::win32
