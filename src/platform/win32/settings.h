// The screensaver's settings: the colour ramp, the light and the autopilot,
// kept in the
// registry under HKEY_CURRENT_USER\Software\Nebla\Screensaver, and the
// small dialog that changes them.
#pragma once

#include <cstdint>
#include <vector>

namespace nebla::platform::win32 {

struct ScreenSaverSettings {
  int ramp = 1;           // colour scheme 0 to 9, as the digit keys choose it
  bool light = false;     // the light pass on (the space key)
  bool autopilot = true;  // a virtual hand sprays, draws, blows and changes colours
};

// The stored settings; missing or damaged values keep their defaults.
ScreenSaverSettings loadSettings();
// False when the registry refused them.
bool saveSettings(const ScreenSaverSettings& settings);

// The keys that give the program these settings as it starts: the ramp's
// digit (when it is not the program's own first ramp), then space.
std::vector<int> startKeys(const ScreenSaverSettings& settings);

// Shows the settings dialog (owned by `owner`, a window handle or 0) and
// stores what the user chose with OK. Returns when the dialog closes.
void runSettingsDialog(std::uintptr_t owner);

// Makes the user's temporary folder the working directory, where the log
// then goes; the working directory stays as it was when there is none.
void enterTemporaryFolder();

}  // namespace nebla::platform::win32
