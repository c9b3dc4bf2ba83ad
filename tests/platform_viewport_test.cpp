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
