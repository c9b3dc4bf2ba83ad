// Whole runs of the program on the headless backend: quitting, activation,
// close requests, smoke on the frames and bit-for-bit repeatable output.
#include <gtest/gtest.h>

#include "app_harness.h"

namespace nebla::testing {
namespace {

std::uint64_t hashFrames(const std::vector<PresentedFrame>& frames) {
  std::uint64_t h = 1469598103934665603ull;
  auto add = [&h](const void* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
      h = (h ^ static_cast<const unsigned char*>(p)[i]) * 1099511628211ull;
  };
  for (const auto& f : frames) {
    add(f.pixels.data(), f.pixels.size());
    add(f.palette.data(), sizeof f.palette);
  }
  return h;
}

const char* kStrokeScript =
    "0    mouse 100 100\n"
    "2100 left down\n"
    "2300 mouse 400 150\n"
    "2500 mouse 500 300\n"
    "2700 left up\n"
    "2750 mouse 340 200\n"
    "2800 right down\n"
    "3600 key down left\n"
    "3700 key up left\n"
    "4200 right up\n"
    "4300 key down 3\n"
    "4310 key up 3\n";

using AppWholeRun = AppRun;

TEST_F(AppWholeRun, EscapeHeldAtStartEndsTheRunAtOnce) {
  RunResult r = run("0 key down esc\n", std::nullopt);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.flips().empty());
  EXPECT_EQ(r.log, "");
  EXPECT_EQ(platform::callCount("DestroyWindow"), 1u);
  EXPECT_EQ(platform::callCount("CreateWindowExA"), 1u);
  EXPECT_FALSE(backend().windowOpen());
}

TEST_F(AppWholeRun, QEndsTheRunLikeEscape) {
  RunResult r = run("2500 key down q\n", std::nullopt);
  EXPECT_EQ(r.status, 0);
  EXPECT_NEAR(static_cast<double>(r.flips().size()), 10.0,
              1.0);  // 2.0 s of set-up, then 50 ms ticks
}

// The virtual clock makes the timer's period exact: a frame step every
// 50 ms, not one more or less (a period a millisecond off would land most
// scripted events on the same frames and slip past the golden hash).
TEST_F(AppWholeRun, FrameStepsComeEveryFiftyMilliseconds) {
  RunResult r = run("", 30);
  std::vector<PresentedFrame> flips = r.flips();
  ASSERT_EQ(flips.size(), 30u);
  for (std::size_t i = 1; i < flips.size(); ++i)
    ASSERT_EQ(flips[i].time - flips[i - 1].time, 50u)
        << "between frame steps " << i - 1 << " and " << i;
}

TEST_F(AppWholeRun, FramesStopWhileAnotherWindowIsActive) {
  RunResult r = run("2300 focus lost\n3300 focus gained\n", 20);
  ASSERT_EQ(r.status, 0);
  std::vector<PresentedFrame> flips = r.flips();
  ASSERT_EQ(flips.size(), 20u);
  for (const auto& f : flips) EXPECT_FALSE(f.time > 2300 && f.time < 3300) << f.time;
}

TEST_F(AppWholeRun, CloseRequestEndsTheRunThroughTheOutro) {
  RunResult r = run("2200 close\n", 12);
  EXPECT_EQ(r.status, 0);
  EXPECT_LT(r.flips().size(), 12u);
  EXPECT_EQ(r.frames.back().palette, r.frames[r.frames.size() - 2].palette);
  EXPECT_FALSE(r.frames.back().fromFlip);  // the outro drew last
}

// A session that ends (a screensaver dismissed, its window gone) ends the
// run with 0 at the loop's next pass, or at once in the set-up's pause,
// which it cuts short; no outro plays after it.
TEST_F(AppWholeRun, SessionEndInTheSetUpPauseEndsTheRunAtOnce) {
  backend().setSessionEndAt(700);
  backend().setTimeLimit(5000);
  RunResult r = run("", std::nullopt);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.flips().empty());
  EXPECT_LE(backend().now(), 701u);
  EXPECT_EQ(r.log, "");
  EXPECT_EQ(backend().stopReason(), platform::headless::StopReason::None);
  EXPECT_FALSE(backend().windowOpen());
  EXPECT_FALSE(backend().displayOpen());
}

TEST_F(AppWholeRun, SessionEndBetweenFramesEndsTheRunWithoutTheOutro) {
  backend().setSessionEndAt(2620);
  backend().setTimeLimit(5000);
  RunResult r = run("", std::nullopt);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.flips().size(), 13u);  // the ticks from 2050 to 2650
  EXPECT_TRUE(r.frames.back().fromFlip);
  EXPECT_LE(backend().now(), 2650u);
  EXPECT_EQ(backend().stopReason(), platform::headless::StopReason::None);
  EXPECT_FALSE(backend().windowOpen());
}

TEST_F(AppWholeRun, EmptyScreenShowsTheFirstRampsSecondEntry) {
  RunResult r = run("", 3);
  std::vector<PresentedFrame> flips = r.flips();
  ASSERT_EQ(flips.size(), 3u);
  const PresentedFrame& f = flips.back();
  EXPECT_EQ(at(f, 630, 470), 1);  // outside the text writer's page
  EXPECT_EQ(f.palette[1].peGreen, 1);
  EXPECT_EQ(f.palette[1].peBlue, 2);
}

// Density summed over a box of a frame.
int boxSum(const PresentedFrame& f, int x0, int y0, int x1, int y1) {
  int sum = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) sum += at(f, x, y) - 1;
  return sum;
}

const PresentedFrame& firstFlipAfter(const std::vector<PresentedFrame>& flips,
                                     platform::DWORD time) {
  for (const auto& f : flips)
    if (f.time >= time) return f;
  return flips.back();
}

TEST_F(AppWholeRun, StrokeLeavesSmokeAndThePictureForms) {
  RunResult r = run(kStrokeScript, 50);
  std::vector<PresentedFrame> flips = r.flips();
  ASSERT_EQ(flips.size(), 50u);
  // Just after the stroke, smoke lies along its last leg and not in a far
  // corner.
  const PresentedFrame& stroke = firstFlipAfter(flips, 2710);
  EXPECT_GT(boxSum(stroke, 420, 170, 500, 290), 20 * boxSum(stroke, 0, 380, 80, 480) + 2000);
  // After a second of the right button the picture's area is dense.
  const PresentedFrame& picture = firstFlipAfter(flips, 3800);
  EXPECT_GT(boxSum(picture, 300, 250, 381, 311), 20 * boxSum(picture, 100, 350, 181, 411) + 2000);
  // The digit key recoloured the screen with the grey ramp.
  EXPECT_EQ(flips.back().palette[64].peRed, 112);
  EXPECT_EQ(flips.back().palette[64].peGreen, 112);
}

TEST_F(AppWholeRun, SameScriptGivesTheSameFrames) {
  RunResult first = run(kStrokeScript, 60);
  std::uint64_t a = hashFrames(first.frames);
  TearDown();
  SetUp();
  RunResult second = run(kStrokeScript, 60);
  EXPECT_EQ(hashFrames(second.frames), a);
  EXPECT_EQ(second.frames.size(), first.frames.size());
  // Golden value: changes only when the program's behaviour does.
  EXPECT_EQ(a, 0x3f0d9a2793cfd8a2ull) << std::hex << a;
}

}  // namespace
}  // namespace nebla::testing
