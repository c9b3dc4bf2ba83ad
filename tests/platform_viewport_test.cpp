// Where the picture sits in windows of every shape, and pointer positions
// mapped back to picture pixels through the bars and the scaling.
#include <gtest/gtest.h>

#include "platform/viewport.h"

namespace nebla::platform {
namespace {

void expectRect(const Rect& r, int x, int y, int w, int h) {
  EXPECT_EQ(r.x, x);
  EXPECT_EQ(r.y, y);
  EXPECT_EQ(r.w, w);
  EXPECT_EQ(r.h, h);
}

TEST(Viewport, FitsWithAspectKeptAndBarsAround) {
  Viewport tall = fitImage(1280, 1024, 640, 480);  // bars top and bottom
  expectRect(tall.picture, 0, 32, 1280, 960);
  EXPECT_EQ(tall.wholeScale, 2);
  EXPECT_TRUE(tall.exact);
  Viewport wide = fitImage(1920, 1080, 640, 480);  // bars left and right
  expectRect(wide.picture, 240, 0, 1440, 1080);
  EXPECT_EQ(wide.wholeScale, 2);
  EXPECT_FALSE(wide.exact);
  Viewport small = fitImage(320, 240, 640, 480);
  expectRect(small.picture, 0, 0, 320, 240);
  EXPECT_EQ(small.wholeScale, 1);
}

TEST(Viewport, WholeMultiplesStayCentred) {
  expectRect(fitWholeMultiple(1920, 1080, 640, 480), 320, 60, 1280, 960);
  expectRect(fitWholeMultiple(640, 480, 640, 480), 0, 0, 640, 480);
  expectRect(fitWholeMultiple(1000, 700, 640, 480), 180, 110, 640, 480);
}

// A phone held upright (1170 device pixels across) gets the aspect fit, as
// one times the picture would fill only 55 % of its width; a 1280 x 1024
// page keeps its exact double, and 1400 x 1000 its double at 96 % of the fit.
TEST(Viewport, FillingPrefersWholeMultiplesThatReachTheShare) {
  expectRect(fitFilling(1170, 2000, 640, 480, 0.85), 0, 561, 1170, 878);
  expectRect(fitFilling(1280, 1024, 640, 480, 0.85), 0, 32, 1280, 960);
  expectRect(fitFilling(1400, 1000, 640, 480, 0.85), 60, 20, 1280, 960);
  expectRect(fitFilling(1500, 1125, 640, 480, 0.85), 110, 82, 1280, 960);  // 85.3 %
  expectRect(fitFilling(1600, 1200, 640, 480, 0.85), 0, 0, 1600, 1200);    // 2x is 80 %
  expectRect(fitFilling(320, 240, 640, 480, 0.85), 0, 0, 320, 240);
  expectRect(fitFilling(0, 500, 640, 480, 0.85), 0, 0, 0, 0);
}

TEST(Viewport, PointerMapsThroughScalingAndClampsOverTheBars) {
  Rect picture = fitImage(1920, 1080, 640, 480).picture;  // 2.25 times, 240 px bars
  int x = -1, y = -1;
  windowToImage(picture, 640, 480, 240, 0, x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  windowToImage(picture, 640, 480, 240 + 1439, 1079, x, y);
  EXPECT_EQ(x, 639);
  EXPECT_EQ(y, 479);
  windowToImage(picture, 640, 480, 240 + 675, 540, x, y);  // the middle
  EXPECT_EQ(x, 300);
  EXPECT_EQ(y, 240);
  windowToImage(picture, 640, 480, 10, 2000, x, y);  // left bar, below the window
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 479);
  windowToImage(picture, 640, 480, 239, -5, x, y);  // one pixel left of the picture
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
}

// A root window over an 800 x 600 monitor beside a 1280 x 960 one, and a
// third below them: each picture at its own monitor's multiple and place.
TEST(Viewport, EachMonitorGetsItsOwnPicture) {
  std::vector<Rect> pictures = picturesOnMonitors(
      {{0, 0, 800, 600}, {800, 0, 1280, 960}, {0, 960, 1920, 1080}}, 2080, 2040, 640, 480);
  ASSERT_EQ(pictures.size(), 3u);
  expectRect(pictures[0], 80, 60, 640, 480);
  expectRect(pictures[1], 800, 0, 1280, 960);
  expectRect(pictures[2], 320, 1020, 1280, 960);
}

// Mirrored monitors of different sizes share their common part; a monitor
// reaching past the root (not yet resized) is cut to it; monitors wholly
// outside count as none.
TEST(Viewport, OverlappingMonitorsShareOnePictureAndAllStayInside) {
  std::vector<Rect> mirrored = picturesOnMonitors(
      {{0, 0, 1280, 960}, {0, 0, 800, 600}, {1280, 0, 640, 480}}, 1920, 960, 640, 480);
  ASSERT_EQ(mirrored.size(), 2u);
  expectRect(mirrored[0], 80, 60, 640, 480);
  expectRect(mirrored[1], 1280, 0, 640, 480);
  std::vector<Rect> cut = picturesOnMonitors({{0, 0, 1920, 1080}}, 1280, 1024, 640, 480);
  ASSERT_EQ(cut.size(), 1u);
  expectRect(cut[0], 0, 32, 1280, 960);
  std::vector<Rect> outside = picturesOnMonitors({{2000, 0, 800, 600}}, 1000, 700, 640, 480);
  ASSERT_EQ(outside.size(), 1u);
  expectRect(outside[0], 180, 110, 640, 480);
  EXPECT_TRUE(picturesOnMonitors({}, 0, 700, 640, 480).empty());
}

TEST(Viewport, DegenerateOutputsDoNotDivideByZero) {
  Viewport none = fitImage(0, 0, 640, 480);
  EXPECT_EQ(none.wholeScale, 1);
  int x = 7, y = 7;
  windowToImage(none.picture, 640, 480, 100, 100, x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
}

}  // namespace
}  // namespace nebla::platform
