// The window procedure and the frame step on a set-up program: keys and
// their clamps and log lines, wind decay, the frame-rate measurement,
// activation, lost surfaces and failed locks.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "state/application.h"
#include "app/window_proc.h"
#include "app_harness.h"
#include "platform/kernel.h"

namespace nebla::testing {
namespace {

using namespace platform;

class AppLive : public LiveApp {
 protected:
  LRESULT send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return app::windowProc(app->window, message, wParam, lParam);
  }
  void key(WPARAM code) { send(WM_KEYDOWN, code); }
  // Feeds script events through the real queue up to time `until`.
  void pump(const std::string& script, DWORD until) {
    std::vector<InputEvent> events;
    std::string error;
    ASSERT_TRUE(headless::parseScript(script, "test", events, error)) << error;
    backend().setScript(std::move(events));
    MSG msg;
    while (GetTickCount() < until) {
      if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message != WM_TIMER)
        DispatchMessageA(&msg);
    }
  }
  std::uint32_t passes() const { return app->particles->frameCounter; }
};

TEST_F(AppLive, ParticleCountStepsDownToOneAndNeverFive) {
  std::string expected;
  for (int i = 0; i < 80; ++i) key('C');
  for (int v = 395; v >= 10; v -= 5) expected += "new particlecount : " + std::to_string(v) + "\n";
  expected += "new particlecount : 1\nnew particlecount : 1\n";
  EXPECT_EQ(readLog(), expected);
  EXPECT_EQ(app->particlesPerFrame, 1);
  app->particlesPerFrame = 6;
  key('C');
  EXPECT_EQ(app->particlesPerFrame, 1);
}

TEST_F(AppLive, ShiftRaisesCountAndLifetimeThroughTheQueue) {
  app->particlesPerFrame = 1;
  pump(
      "2100 key down shift\n2110 key down c\n2120 key down c\n2130 key down l\n2140 key up shift\n"
      "2150 key down l\n",
      2200);
  EXPECT_EQ(readLog(),
            "new particlecount : 6\nnew particlecount : 11\nlifetime : 71\nlifetime : 70\n");
}

TEST_F(AppLive, LifetimeStaysAtLeastOne) {
  app->lifetime = 2;
  key('L');
  key('L');
  EXPECT_EQ(app->lifetime, 1);
  EXPECT_EQ(readLog(), "lifetime : 1\nlifetime : 1\n");
}

TEST_F(AppLive, WindBuildsByKeysAndDecaysByTicks) {
  key(VK_LEFT);
  EXPECT_DOUBLE_EQ(app::keyWindX, -0.25);
  EXPECT_EQ(app->particles->windX, static_cast<double>(-0.25f));
  send(WM_TIMER, 7);  // not timer 1: no frame, but the wind still decays
  EXPECT_DOUBLE_EQ(app::keyWindX, -0.23);
  send(WM_TIMER, 7);
  EXPECT_DOUBLE_EQ(app::keyWindX, -0.2116);
  EXPECT_EQ(app->particles->windX, static_cast<double>(static_cast<float>(-0.2116)));
  key(VK_DOWN);
  key(VK_DOWN);
  EXPECT_DOUBLE_EQ(app::keyWindY, 0.5);
  EXPECT_EQ(passes(), 0u);
}

TEST_F(AppLive, FrameRateIsMeasuredBetweenTicks) {
  send(WM_TIMER, 1);
  EXPECT_GT(app->fps, 0.0f);
  EXPECT_LT(app->fps, 1.0f);  // first tick measures from tick count 0
  backend().setTime(GetTickCount() + 47);
  send(WM_TIMER, 1);
  EXPECT_FLOAT_EQ(app->fps, static_cast<float>(1000.0 / 47.0));
  send(WM_TIMER, 1);  // same millisecond: infinite rate
  EXPECT_TRUE(std::isinf(app->fps));
}

TEST_F(AppLive, ActivationGatesFrames) {
  send(WM_ACTIVATEAPP, 0);
  send(WM_TIMER, 1);
  EXPECT_EQ(passes(), 0u);
  send(WM_ACTIVATEAPP, 2);
  send(WM_TIMER, 1);
  EXPECT_EQ(passes(), 1u);
  send(WM_TIMER, 2);  // only timer 1 drives frames
  EXPECT_EQ(passes(), 1u);
}

TEST_F(AppLive, ToggleKeysAndIgnoredCodes) {
  key(VK_SPACE);
  key('D');
  key('T');
  EXPECT_TRUE(app->lightOn);
  EXPECT_TRUE(app->infoOn);
  EXPECT_FALSE(app->textWriterOn);
  EXPECT_FALSE(backend().pointerVisible());
  key('M');
  EXPECT_TRUE(backend().pointerVisible());
  key('M');
  EXPECT_FALSE(backend().pointerVisible());
  key(0x63);         // keypad 3 does nothing
  key(0x100 | '3');  // only the low byte counts
  EXPECT_EQ(app->colourScheme, 3);
  key(0xB3);  // codes from 0x80 up are ignored
  EXPECT_EQ(app->colourScheme, 3);
  EXPECT_EQ(app->frontBuffer->palette()->entries()[64].peRed, 112);
  EXPECT_EQ(app->frontBuffer->palette()->entries()[64].peBlue, 112);
}

TEST_F(AppLive, CloseRequestShowsThePointerAndAsksToQuit) {
  EXPECT_EQ(send(WM_CLOSE), 1);
  EXPECT_TRUE(backend().pointerVisible());
  EXPECT_FALSE(app::pointerVisible);
  EXPECT_TRUE(backend().windowOpen());
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_QUIT);
}

TEST_F(AppLive, MouseMovesTheLightEvenWhenItIsOff) {
  EXPECT_EQ(app->light.x, 320);
  send(WM_MOUSEMOVE, 0, static_cast<LPARAM>((479u << 16) | 639u));
  EXPECT_EQ(app->mouseX, 639);
  EXPECT_EQ(app->mouseY, 479);
  EXPECT_EQ(app->light.x, 639);
  EXPECT_EQ(app->light.y, 479);
}

TEST_F(AppLive, FrameStepKeepsMouseHistoryAndSetsTheLight) {
  app->mouseX = 100;
  app->mouseY = 50;
  app->frameStep();
  EXPECT_EQ(app->prevMouseX, 100);
  EXPECT_EQ(app->prevMouseY, 50);
  EXPECT_EQ(app->light.intensity, 0.8);
  EXPECT_EQ(app->light.reach, 0.9);
  EXPECT_EQ(passes(), 1u);
}

TEST_F(AppLive, BothButtonsSprayOnly) {
  app->textWriterOn = false;
  app->leftButton = app->rightButton = true;
  app->lifetime = 100;
  app->particlesPerFrame = 50;
  app->frameStep();
  EXPECT_EQ(app->particles->activeCount(), 50);
  for (std::int32_t i = app->particles->records[0].next; i != 0;
       i = app->particles->records[i].next) {
    ASSERT_EQ(app->particles->records[i].travelTime, 0);
  }
  app->leftButton = false;
  app->frameStep();
  int targeted = 0;
  for (std::int32_t i = app->particles->records[0].next; i != 0;
       i = app->particles->records[i].next) {
    targeted += app->particles->records[i].travelTime != 0;
  }
  EXPECT_EQ(targeted, 50);  // with the left button up, the picture runs
}

TEST_F(AppLive, LostSurfacesAreRestored) {
  injectFault({"BltFast", 2, DDERR_SURFACELOST});  // the presenting blit
  app->frameStep();
  EXPECT_EQ(callCount("Restore"), 2u);  // front, then the density image
  injectFault({"BltFast", 4, DDERR_SURFACELOST});
  injectFault({"Flip", 2, DDERR_SURFACELOST});
  app->frameStep();
  EXPECT_EQ(callCount("Restore"), 6u);
  injectFault({"Restore", 7, DDERR_GENERIC});  // a failed front restore skips the second
  injectFault({"Flip", 3, DDERR_SURFACELOST});
  app->frameStep();
  EXPECT_EQ(callCount("Restore"), 7u);
  EXPECT_EQ(readLog(), "");
}

TEST_F(AppLive, LostTextCopyWarnsAndOtherFailuresAreSilent) {
  injectFault({"BltFast", 1, DDERR_SURFACELOST});
  injectFault({"BltFast", 3, DDERR_GENERIC});
  app->frameStep();
  app->frameStep();
  EXPECT_EQ(readLog(), "  WARNING:failed to copy TextBuffer into MemBuffer\n");
}

TEST_F(AppLive, FailedLockSkipsThePass) {
  app->textWriterOn = false;
  app->leftButton = true;
  injectFault({"Lock", 2, DDERR_SURFACEBUSY});  // the density image, after the text layer
  app->frameStep();
  EXPECT_EQ(passes(), 0u);
  EXPECT_EQ(app->particles->activeCount(), 400);  // spawned, waiting for the next pass
  EXPECT_FALSE(app->textBuffer->isLocked());
  app->frameStep();
  EXPECT_EQ(passes(), 1u);
}

}  // namespace
}  // namespace nebla::testing
