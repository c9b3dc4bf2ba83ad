// The info overlay: its texts and number formats, where it is drawn, its
// background under the inverted ramp, smoke on top of it, no trace once off.
#include <gtest/gtest.h>

#include <limits>
#include <set>

#include "app_harness.h"
#include "diag/overlay.h"

namespace nebla::testing {
namespace {

class DiagOverlay : public LiveApp {
 protected:
  void SetUp() override {
    LiveApp::SetUp();
    app->textWriterOn = false;
  }
  std::uint8_t density(int x, int y) {
    return app->memBuffer->pixels()[y * app->memBuffer->pitch() + x];
  }
  // Distinct density values in a box of the density image.
  std::set<std::uint8_t> valuesIn(int x0, int y0, int x1, int y1) {
    std::set<std::uint8_t> values;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) values.insert(density(x, y));
    return values;
  }
};

TEST_F(DiagOverlay, LinesAndNumberFormats) {
  app->fps = 20.0f;
  app->particlesPerFrame = -3;
  auto lines = diag::overlayLines(*app);
  EXPECT_EQ(lines[0], "fps: 20");
  EXPECT_EQ(lines[1], "particle count: 0");
  EXPECT_EQ(lines[2], "new particles count: -3");
  EXPECT_EQ(lines[3], "max Lifetime: 70");
  EXPECT_EQ(lines[4], "text writer turned off");
  app->fps = static_cast<float>(1000.0 / 47.0);
  EXPECT_EQ(diag::overlayLines(*app)[0], "fps: 21.2766");
  app->fps = 0.00005f;
  EXPECT_EQ(diag::overlayLines(*app)[0], "fps: 5e-05");
  app->fps = std::numeric_limits<float>::infinity();
  EXPECT_EQ(diag::overlayLines(*app)[0], "fps: inf");
  app->textWriterOn = true;
  EXPECT_EQ(diag::overlayLines(*app)[4], "text writer turned on");
}

TEST_F(DiagOverlay, FiveLinesInTheTopLeftCorner) {
  app->infoOn = true;
  app->frameStep();
  for (int line = 0; line < 5; ++line) {
    int top = line * 14;
    EXPECT_GT(valuesIn(0, top, 120, top + 14).size(), 1u) << "line " << line;
  }
  EXPECT_EQ(valuesIn(0, 72, 640, 480), (std::set<std::uint8_t>{1}));
  EXPECT_EQ(valuesIn(300, 0, 640, 70), (std::set<std::uint8_t>{1}));
}

// Index of the box behind the text, read where line 1 has no letters.
TEST_F(DiagOverlay, BackgroundIsBlackOrNearWhiteByScheme) {
  app->infoOn = true;
  app->frameStep();
  std::uint8_t box = density(0, 13);
  const auto& palette = app->frontBuffer->palette()->entries();
  EXPECT_EQ(palette[box], (platform::PALETTEENTRY{0, 0, 0, 0}));
  app->selectColourScheme(7);
  app->frameStep();
  const auto& inverted = app->frontBuffer->palette()->entries();
  box = density(0, 13);
  EXPECT_GE(inverted[box].peRed, 253);
  std::set<std::uint8_t> line = valuesIn(0, 0, 40, 14);  // within "fps: "
  line.erase(box);
  ASSERT_EQ(line.size(), 1u);
  EXPECT_NEAR(inverted[*line.begin()].peRed, 85, 2);  // the text's grey
}

TEST_F(DiagOverlay, SmokeAddsOnTopAndNothingStaysOnceOff) {
  app->infoOn = true;
  app->frameStep();
  std::uint8_t drawn = density(20, 20);
  app->particles->spawn(1, 20, 20, 500, 0, 0, 0, -1, -1, false);
  app->frameStep();
  EXPECT_EQ(density(20, 20), drawn + 1);
  app->infoOn = false;
  app->frameStep();
  EXPECT_EQ(valuesIn(0, 0, 200, 72), (std::set<std::uint8_t>{1}));
}

TEST_F(DiagOverlay, NoDeviceContextSkipsTheOverlayForThatFrame) {
  app->infoOn = true;
  platform::injectFault({"GetDC", 0, platform::DDERR_GENERIC});
  app->frameStep();
  EXPECT_EQ(valuesIn(0, 0, 200, 72), (std::set<std::uint8_t>{1}));
  EXPECT_EQ(app->particles->frameCounter, 1u);
}

}  // namespace
}  // namespace nebla::testing
