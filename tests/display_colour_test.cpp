// The colour ramps and the digit keys' switch: sample entries of every
// ramp, the set-up's first palette, and the switch's failure paths.
#include <gtest/gtest.h>

#include "app_harness.h"
#include "display/colour_schemes.h"

namespace nebla::testing {
namespace {

using platform::PALETTEENTRY;

struct Sample {
  int i, r, g, b;
};

// Six samples of each of the ten ramps, by scheme.
const Sample kSamples[10][6] = {
    {{0, 0, 0, 0},
     {1, 2, 0, 0},
     {64, 112, 0, 0},
     {128, 192, 0, 0},
     {200, 244, 144, 144},
     {255, 255, 254, 254}},
    {{0, 0, 0, 0},
     {1, 0, 1, 2},
     {64, 16, 64, 112},
     {128, 64, 128, 192},
     {200, 156, 200, 244},
     {255, 255, 255, 255}},
    {{0, 0, 0, 0},
     {1, 1, 2, 1},
     {64, 64, 112, 64},
     {128, 128, 192, 128},
     {200, 200, 244, 200},
     {255, 255, 255, 255}},
    {{0, 0, 0, 0},
     {1, 2, 2, 2},
     {64, 112, 112, 112},
     {128, 192, 192, 192},
     {200, 244, 244, 244},
     {255, 255, 255, 255}},
    {{0, 0, 0, 0},
     {1, 2, 1, 0},
     {64, 112, 64, 16},
     {128, 192, 128, 64},
     {200, 244, 200, 156},
     {255, 255, 255, 255}},
    {{0, 0, 0, 0},
     {1, 1, 1, 2},
     {64, 64, 64, 112},
     {128, 128, 128, 192},
     {200, 200, 200, 244},
     {255, 255, 255, 255}},
    {{0, 0, 0, 0},
     {1, 2, 0, 0},
     {64, 112, 16, 16},
     {128, 192, 64, 64},
     {200, 244, 156, 156},
     {255, 255, 255, 255}},
    {{0, 255, 255, 255},
     {1, 253, 253, 253},
     {64, 143, 143, 143},
     {128, 63, 63, 63},
     {200, 11, 11, 11},
     {255, 0, 0, 0}},
    {{0, 0, 0, 0},
     {1, 0, 2, 0},
     {64, 0, 112, 0},
     {128, 0, 192, 0},
     {200, 144, 244, 144},
     {255, 254, 255, 254}},
    {{0, 0, 0, 0},
     {1, 0, 0, 2},
     {64, 0, 0, 112},
     {128, 0, 0, 192},
     {200, 144, 144, 244},
     {255, 254, 254, 255}},
};

TEST(DisplayColour, EveryRampMatchesItsSamples) {
  for (std::uint32_t scheme = 0; scheme < 10; ++scheme) {
    PALETTEENTRY ramp[256];
    display::buildRamp(scheme, ramp);
    for (const Sample& s : kSamples[scheme]) {
      SCOPED_TRACE(::testing::Message() << "scheme " << scheme << " entry " << s.i);
      EXPECT_EQ(ramp[s.i].peRed, s.r);
      EXPECT_EQ(ramp[s.i].peGreen, s.g);
      EXPECT_EQ(ramp[s.i].peBlue, s.b);
      EXPECT_EQ(ramp[s.i].peFlags, 0);
    }
  }
}

TEST(DisplayColour, OnlySchemeSevenIsInverted) {
  for (std::uint32_t scheme = 0; scheme < 10; ++scheme) {
    PALETTEENTRY ramp[256];
    display::buildRamp(scheme, ramp);
    int first = ramp[0].peRed + ramp[0].peGreen + ramp[0].peBlue;
    int last = ramp[255].peRed + ramp[255].peGreen + ramp[255].peBlue;
    EXPECT_EQ(first > last, scheme == 7) << scheme;
  }
}

using DisplayColourSwitch = LiveApp;

TEST_F(DisplayColourSwitch, StartsWithSchemeOneAndRebuildsOnEverySwitch) {
  PALETTEENTRY ramp[256];
  display::buildRamp(1, ramp);
  const auto& shown = app->frontBuffer->palette()->entries();
  for (int i = 0; i < 256; ++i) ASSERT_EQ(shown[i], ramp[i]) << i;
  std::uint32_t created = platform::callCount("CreatePalette");
  app->selectColourScheme(1);
  app->selectColourScheme(1);
  EXPECT_EQ(platform::callCount("CreatePalette"), created + 2);
  app->selectColourScheme(7);
  EXPECT_EQ(app->frontBuffer->palette()->entries()[1], (PALETTEENTRY{253, 253, 253, 0}));
  EXPECT_EQ(readLog(), "");
}

TEST_F(DisplayColourSwitch, FailuresWarnAndKeepThePaletteOnScreen) {
  platform::IDirectDrawPalette* before = app->frontBuffer->palette();
  platform::injectFault({"CreatePalette", 0, -7});
  app->selectColourScheme(3);
  EXPECT_EQ(app->colourScheme, 3);  // the number is stored first
  EXPECT_EQ(app->frontBuffer->palette(), before);
  EXPECT_EQ(platform::callCount("SetPalette"),
            1u);  // the set-up's only: nothing uncreated attached
  platform::clearFaults();
  platform::injectFault({"SetPalette", 0, platform::DDERR_SURFACELOST});
  app->selectColourScheme(4);
  EXPECT_EQ(app->frontBuffer->palette(), before);
  EXPECT_EQ(readLog(),
            "  WARNING:failed to create Palette - err number: -7\n"
            "  WARNING:failed to set Palette for FrontBuffer - err number: -2005532222\n");
}

}  // namespace
}  // namespace nebla::testing
