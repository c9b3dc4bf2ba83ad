// The key tables between SDL and the virtual-key codes.
#include "platform/sdl/keymap.h"

#include "platform/user.h"

namespace nebla::platform::sdl {
namespace {

constexpr int kNumpad0 = 0x60;

struct NamedKey {
  int vk;
  SDL_Scancode code;
};

// Either Shift key is VK_SHIFT.
constexpr NamedKey kNamedKeys[] = {
    {VK_SPACE, SDL_SCANCODE_SPACE},  {VK_LEFT, SDL_SCANCODE_LEFT},
    {VK_UP, SDL_SCANCODE_UP},        {VK_RIGHT, SDL_SCANCODE_RIGHT},
    {VK_DOWN, SDL_SCANCODE_DOWN},    {VK_ESCAPE, SDL_SCANCODE_ESCAPE},
    {VK_SHIFT, SDL_SCANCODE_LSHIFT}, {VK_SHIFT, SDL_SCANCODE_RSHIFT},
};

// Digit row scan codes run 1..9 then 0; the keypad's likewise.
SDL_Scancode digitRowCode(int digit) {
  return digit == 0 ? SDL_SCANCODE_0 : static_cast<SDL_Scancode>(SDL_SCANCODE_1 + digit - 1);
}

SDL_Scancode keypadCode(int digit) {
  return digit == 0 ? SDL_SCANCODE_KP_0 : static_cast<SDL_Scancode>(SDL_SCANCODE_KP_1 + digit - 1);
}

std::optional<int> digitKey(SDL_Scancode code) {
  for (int digit = 0; digit <= 9; ++digit) {
    if (code == digitRowCode(digit)) return '0' + digit;
    if (code == keypadCode(digit)) return kNumpad0 + digit;
  }
  return std::nullopt;
}

// The scan code that carries a virtual-key code, for the codes the
// program polls or receives.
SDL_Scancode scancodeOf(int vk) {
  if (vk >= 'A' && vk <= 'Z')
    return SDL_GetScancodeFromKey(static_cast<SDL_Keycode>(SDLK_a + (vk - 'A')));
  if (vk >= '0' && vk <= '9') return digitRowCode(vk - '0');
  if (vk >= kNumpad0 && vk <= kNumpad0 + 9) return keypadCode(vk - kNumpad0);
  for (const NamedKey& k : kNamedKeys)
    if (k.vk == vk) return k.code;
  return SDL_SCANCODE_UNKNOWN;
}

}  // namespace

std::optional<int> virtualKey(const SDL_Keysym& key) {
  if (auto digit = digitKey(key.scancode)) return digit;
  if (key.sym >= SDLK_a && key.sym <= SDLK_z) return static_cast<int>('A' + (key.sym - SDLK_a));
  for (const NamedKey& k : kNamedKeys)
    if (k.code == key.scancode) return k.vk;
  return std::nullopt;
}

bool virtualKeyHeld(int vk) {
  if (vk == VK_LBUTTON || vk == VK_RBUTTON) {
    Uint32 buttons = SDL_GetMouseState(nullptr, nullptr);
    return (buttons & (vk == VK_LBUTTON ? SDL_BUTTON_LMASK : SDL_BUTTON_RMASK)) != 0;
  }
  const Uint8* state = SDL_GetKeyboardState(nullptr);
  if (vk == VK_SHIFT) return state[SDL_SCANCODE_LSHIFT] != 0 || state[SDL_SCANCODE_RSHIFT] != 0;
  SDL_Scancode code = scancodeOf(vk);
  return code != SDL_SCANCODE_UNKNOWN && state[code] != 0;
}

}  // namespace nebla::platform::sdl
