// Colour ramps and the scheme switch.
#include "display/colour_schemes.h"

#include "state/application.h"
#include "diag/log.h"
#include "platform/ddraw.h"

namespace nebla::display {
namespace {

int square(int i) { return i * i / 255; }
int rise(int i) { return 2 * i - square(i); }
int upperHalf(int i) { return i < 128 ? 0 : 2 * i - 256; }

struct Rgb {
  int r, g, b;
};

Rgb rampColour(std::uint32_t scheme, int i) {
  switch (scheme) {
    case 0: return {rise(i), upperHalf(i), upperHalf(i)};
    case 1: return {square(i), i, rise(i)};
    case 2: return {i, rise(i), i};
    case 3: return {rise(i), rise(i), rise(i)};
    case 4: return {rise(i), i, square(i)};
    case 5: return {i, i, rise(i)};
    case 6: return {rise(i), square(i), square(i)};
    case 7: return {255 - rise(i), 255 - rise(i), 255 - rise(i)};
    case 8: return {upperHalf(i), rise(i), upperHalf(i)};
    default: return {upperHalf(i), upperHalf(i), rise(i)};
  }
}

}  // namespace

void buildRamp(std::uint32_t scheme, platform::PALETTEENTRY entries[256]) {
  for (int i = 0; i < 256; ++i) {
    Rgb c = rampColour(scheme, i);
    entries[i] = {static_cast<platform::BYTE>(c.r), static_cast<platform::BYTE>(c.g),
                  static_cast<platform::BYTE>(c.b), 0};
  }
}

}  // namespace nebla::display

namespace nebla::state {

using namespace platform;

// A new palette every call, also for the scheme already shown; the front
// buffer keeps the one attached last, so our reference is dropped at once.
void Application::selectColourScheme(std::uint32_t scheme) {
  colourScheme = static_cast<std::int32_t>(scheme);
  PALETTEENTRY entries[256];
  display::buildRamp(scheme, entries);
  IDirectDrawPalette* palette = nullptr;
  HRESULT result = directDraw->CreatePalette(DDPCAPS_8BIT, entries, &palette, nullptr);
  if (result != DD_OK) {
    diag::logWarning("failed to create Palette - err number: ", result);
    return;
  }
  result = frontBuffer->SetPalette(palette);
  if (result != DD_OK)
    diag::logWarning("failed to set Palette for FrontBuffer - err number: ", result);
  palette->Release();
}

}  // namespace nebla::state
