// The outro: the 90 rows of the slide, its own palette on the screen, and
// each failure path with its line and what it leaves behind.
#include <gtest/gtest.h>

#include "app_harness.h"
#include "display/outro.h"

namespace nebla::testing {
namespace {

TEST(DisplayOutroRows, BothPhasesInOrder) {
  const std::array<int, 90> expected = {
      0,   0,   0,   0,   0,   1,   1,   1,   2,   3,   3,   4,   5,   6,   7,   9,   10,  11,
      12,  14,  16,  17,  19,  21,  23,  25,  27,  29,  31,  33,  36,  38,  40,  43,  46,  49,
      51,  54,  57,  60,  64,  67,  70,  73,  77,  79,  82,  86,  89,  92,  96,  99,  102, 105,
      108, 111, 113, 116, 119, 121, 124, 126, 128, 130, 132, 135, 136, 138, 140, 142, 144, 145,
      147, 148, 149, 151, 152, 153, 154, 155, 156, 156, 157, 158, 158, 159, 159, 159, 159, 159};
  EXPECT_EQ(display::outroRows(), expected);
  EXPECT_EQ(display::outroRows()[10], 3);  // a multiplied step count would give 4
}

class DisplayOutro : public AppRun {
 protected:
  // Frames drawn straight onto the screen after the last flip.
  static std::vector<PresentedFrame> outroFrames(const RunResult& r) {
    std::vector<PresentedFrame> out;
    for (const auto& f : r.frames)
      if (!f.fromFlip) out.push_back(f);
    return out;
  }
};

TEST_F(DisplayOutro, SlidesThePictureUpInItsOwnColours) {
  RunResult r = run("", 5);
  ASSERT_EQ(r.status, 0);
  std::vector<PresentedFrame> slide = outroFrames(r);
  ASSERT_GE(slide.size(), 90u);
  std::vector<PresentedFrame> steps(slide.end() - 90, slide.end());
  EXPECT_NE(steps[0].palette, r.flips().back().palette);
  EXPECT_EQ(steps[0].pixels, steps[4].pixels);    // row 0 held five steps
  EXPECT_NE(steps[4].pixels, steps[5].pixels);    // then row 1
  EXPECT_EQ(steps[85].pixels, steps[89].pixels);  // row 159 held at the end
  // A step shows the picture from its row: step 9 (row 3) equals step 8
  // (row 2) moved up one row.
  const int w = 640;
  EXPECT_TRUE(std::equal(steps[9].pixels.begin(), steps[9].pixels.begin() + 479 * w,
                         steps[8].pixels.begin() + w));
  EXPECT_GE(steps[89].time - steps[0].time, 89u * 20u);
  EXPECT_EQ(r.log, "");
}

struct OutroFailure {
  const char* fault;
  const char* line;  // empty: a quiet end
};

// Occurrences count the set-up's own calls: two pictures, one palette.
const OutroFailure kOutroFailures[] = {
    {"LoadImageA#3", "    ERROR:failed to load the outro picture - err number: 8\n"},
    {"GetDC#3",
     "    ERROR:failed to get RoriZidodi surface device context - err number: -2147467259\n"},
    {"CreateCompatibleDC#3=5",
     "    ERROR:failed to create compatible device context - err number: 5\n"},
    {"SelectObject#3", ""},
    {"GetDIBColorTable=255", ""},
    {"CreatePalette#2",
     "    ERROR:failed to create RoriZidodi Palette - err number: -2147467259\n"},
    {"SetPalette#2=-2005532222",
     "    ERROR:failed to set Palette for RoriZidodi - err number: -2005532222\n"},
};

TEST_F(DisplayOutro, EveryFailureEndsTheRunCleanly) {
  for (const auto& failure : kOutroFailures) {
    SCOPED_TRACE(failure.fault);
    TearDown();
    SetUp();
    RunResult r = run("", 3, {failure.fault});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.log, failure.line);
    EXPECT_TRUE(outroFrames(r).size() <= 1u);  // no slide
    EXPECT_FALSE(backend().windowOpen());
    EXPECT_FALSE(backend().displayOpen());
    EXPECT_EQ(platform::callCount("StretchBlt"), 2u);  // only the set-up's two pictures
  }
}

}  // namespace
}  // namespace nebla::testing
