// The screensaver's settings: the colour ramp, the light, the autopilot and
// the user's own text, kept in the registry under
// HKEY_CURRENT_USER\Software\Nebla\Screensaver, and the small dialog that
// changes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace nebla::platform::win32 {

struct ScreenSaverSettings {
  int ramp = 1;              // colour scheme 0 to 9, as the digit keys choose it
  bool light = false;        // the light pass on (the space key)
  bool autopilot = true;     // a virtual hand sprays, draws, blows and changes colours
  std::string text;          // the writer's text in UTF-8; empty for Nebla's own
  bool textTooLong = false;  // a stored text over kMaxStoredTextBytes, left unread
};

// The longest text kept, in UTF-8 bytes: as much as the program lays out
// from a file (1 MiB).
constexpr std::size_t kMaxStoredTextBytes = std::size_t{1} << 20;

// The stored settings; missing or damaged values keep their defaults. The
// text is the "Text" string converted to UTF-8 (a character that is not
// UTF-16 becomes U+FFFD); one longer than kMaxStoredTextBytes stays empty
// and sets textTooLong.
ScreenSaverSettings loadSettings();
// False when the registry refused them or the text is over the limit.
bool saveSettings(const ScreenSaverSettings& settings);

// The keys that give the program these settings as it starts: the ramp's
// digit (when it is not the program's own first ramp), then space.
std::vector<int> startKeys(const ScreenSaverSettings& settings);

// Whether the program can use a text (UTF-8); false with the reason, told
// to the user as "Your text cannot be used: REASON."
using TextCheck = std::function<bool(const std::string& text, std::string& reason)>;

// Shows the settings dialog (owned by `owner`, a window handle or 0) and
// stores what the user chose with OK. A text that is not empty must pass
// `check`: one it refuses, or one over kMaxStoredTextBytes, is told in a
// message box and keeps the dialog open. Returns when the dialog closes.
void runSettingsDialog(std::uintptr_t owner, const TextCheck& check);

// Makes the user's temporary folder the working directory, where the log
// then goes; the working directory stays as it was when there is none.
void enterTemporaryFolder();

}  // namespace nebla::platform::win32
