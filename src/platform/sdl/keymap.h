// Keys of the SDL keyboard under the virtual-key codes the window
// procedure knows.
#pragma once

#include <SDL.h>

#include <optional>

namespace nebla::platform::sdl {

// The input side calls this for every key event. Letters follow the
// keyboard layout (the Q key is where the layout puts Q); digits are the
// main keyboard's digit row whatever the layout prints on it; the keypad's
// digits become the keypad codes, which the program does not use. Keys
// without a code give nothing.
std::optional<int> virtualKey(const SDL_Keysym& key);

// Whether the key with this virtual-key code is held now, after the last
// pump of events; GetAsyncKeyState asks this on every pass of the loop.
bool virtualKeyHeld(int vk);

}  // namespace nebla::platform::sdl
