// Taking and giving back the display: every fatal step's log line and what
// it leaves behind, the warning and information paths, and the exit status
// of a run whose set-up fails.
#include <gtest/gtest.h>

#include "state/application.h"
#include "app_harness.h"
#include "platform/kernel.h"

namespace nebla::testing {
namespace {

using state::Application;

struct SetUpFailure {
  const char* fault;
  const char* line;
};

// In the order of the set-up's steps.
const SetUpFailure kFailures[] = {
    {"CreateWindowExA=1400", "    ERROR:failed to CreateWindow() - err number: 1400\n"},
    {"SetTimer=2", "    ERROR:failed to create a timer\n"},
    {"SetTimer", "    ERROR:failed to create a timer\n"},
    {"DirectDrawCreate", "    ERROR:failed to create ddraw object - err number: -2147467259\n"},
    {"SetDisplayMode=0x8876024E",
     "    ERROR:failed to set Displaymode - err number: -2005532082\n"},
    {"CreateSurface#1", "    ERROR:failed to create primary surface - err number: -2147467259\n"},
    {"GetAttachedSurface", "    ERROR:failed to create back surface - err number: -2147467259\n"},
    {"CreateSurface#2", "    ERROR:failed to create offscreen surface - err number: -2147467259\n"},
    {"CreateSurface#3=-5", "    ERROR:failed to create offscreen surface 2 - err number: -5\n"},
    {"CreateSurface#4", "    ERROR:failed to create Text surface - err number: -2147467259\n"},
    {"CreateSurface#5", "    ERROR:failed to create Font surface - err number: -2147467259\n"},
    {"CreateSurface#6", "    ERROR:failed to create Trible surface - err number: -2147467259\n"},
    {"CreatePalette", "    ERROR:failed to create Palette - err number: -2147467259\n"},
    {"SetPalette", "    ERROR:failed to set Palette for FrontBuffer - err number: -2147467259\n"},
    {"LoadImageA#1=1813", "    ERROR:failed to load Trible - err number: 1813\n"},
    {"GetDC#1",
     "    ERROR:failed to get Trible surface device context - err number: -2147467259\n"},
    {"CreateCompatibleDC#1=4294967295",
     "    ERROR:failed to create compatible device context - err number: 4294967295\n"},
    {"LoadImageA#2", "    ERROR:failed to load Font - err number: 8\n"},
    {"GetDC#2", "    ERROR:failed to get Font surface device context - err number: -2147467259\n"},
    {"CreateCompatibleDC#2",
     "    ERROR:failed to create compatible device context - err number: 8\n"},
};

void expectEmpty(const Application& app) {
  EXPECT_EQ(app.directDraw, nullptr);
  for (auto* s : {app.frontBuffer, app.backBuffer, app.memBuffer, app.lightBuffer, app.textBuffer,
                  app.fontBuffer, app.tribleBuffer}) {
    EXPECT_EQ(s, nullptr);
  }
  EXPECT_EQ(app.window, nullptr);
}

class AppSetUp : public AppRun {
 protected:
  void inject(const char* text) {
    platform::FaultRule rule;
    ASSERT_TRUE(platform::parseFaultRule(text, rule)) << text;
    platform::injectFault(rule);
  }
};

TEST_F(AppSetUp, EveryFatalStepLogsItsLineAndLeavesNothingBehind) {
  for (const auto& failure : kFailures) {
    SCOPED_TRACE(failure.fault);
    session.reset();
    session.emplace();
    resetProcessState();
    diag::openLog("Nebla.log", 3);
    Application app;
    inject(failure.fault);
    EXPECT_FALSE(app.setUpDisplay(platform::GetModuleHandleA(nullptr)));
    EXPECT_EQ(readLog(), failure.line);
    expectEmpty(app);
    EXPECT_FALSE(backend().windowOpen());
    EXPECT_FALSE(backend().displayOpen());
    app.tearDownDisplay();  // a second teardown finds nothing to release
    expectEmpty(app);
  }
}

TEST_F(AppSetUp, FailedClassRegistrationHasNothingToUndo) {
  diag::openLog("Nebla.log", 3);
  Application app;
  inject("RegisterClassA=1410");
  EXPECT_FALSE(app.setUpDisplay(platform::GetModuleHandleA(nullptr)));
  EXPECT_EQ(readLog(), "    ERROR:failed to RegisterWindow() class err number: 1410\n");
  EXPECT_EQ(app.instance, platform::GetModuleHandleA(nullptr));
  EXPECT_EQ(platform::callCount("CreateWindowExA"), 0u);
  EXPECT_EQ(platform::callCount("DestroyWindow"), 0u);
  expectEmpty(app);
}

TEST_F(AppSetUp, SuccessfulSetUpFillsEverySurface) {
  diag::openLog("Nebla.log", 3);
  Application app;
  ASSERT_TRUE(app.setUpDisplay(platform::GetModuleHandleA(nullptr)));
  EXPECT_EQ(readLog(), "");
  EXPECT_GE(platform::GetTickCount(), 2000u);  // the busy pause of two seconds
  platform::DDSURFACEDESC desc{};
  desc.dwSize = platform::kSurfaceDescSize;
  ASSERT_EQ(app.textBuffer->Lock(nullptr, &desc, 0, nullptr), platform::DD_OK);
  auto* bytes = static_cast<std::uint8_t*>(desc.lpSurface);
  for (std::uint32_t y = 0; y < 480; ++y)
    for (std::uint32_t x = 0; x < 640; ++x) ASSERT_EQ(bytes[y * desc.lPitch + x], 1);
  app.textBuffer->Unlock(nullptr);
  desc = {};
  desc.dwSize = platform::kSurfaceDescSize;
  ASSERT_EQ(app.fontBuffer->Lock(nullptr, &desc, 0, nullptr), platform::DD_OK);
  bytes = static_cast<std::uint8_t*>(desc.lpSurface);
  int ink = 0;
  for (std::uint32_t y = 0; y < 27; ++y) {
    for (std::uint32_t x = 0; x < 750; ++x) {
      std::uint8_t b = bytes[y * desc.lPitch + x];
      ASSERT_TRUE(b == 2 || b == 187) << x << "," << y << " = " << int{b};
      ink += b == 187;
    }
  }
  EXPECT_GT(ink, 1000);
  app.fontBuffer->Unlock(nullptr);
  app.tearDownDisplay();
  expectEmpty(app);
  EXPECT_FALSE(backend().windowOpen());
}

TEST_F(AppSetUp, RefusedCooperativeLevelOnlyWarns) {
  diag::openLog("Nebla.log", 3);
  Application app;
  inject("SetCooperativeLevel");
  EXPECT_TRUE(app.setUpDisplay(platform::GetModuleHandleA(nullptr)));
  EXPECT_EQ(readLog(), "  WARNING:failed to set Cooperative Level\n");
}

TEST_F(AppSetUp, FailedTextClearIsInformationOnly) {
  diag::openLog("Nebla.log", 2);
  Application app;
  inject("Blt");
  EXPECT_TRUE(app.setUpDisplay(platform::GetModuleHandleA(nullptr)));
  EXPECT_EQ(readLog(), "");  // written only at level 3
  diag::openLog("Nebla.log", 3);
  Application again;
  app.tearDownDisplay();
  EXPECT_TRUE(again.setUpDisplay(platform::GetModuleHandleA(nullptr)));
  EXPECT_EQ(readLog(), "failed to initially clear Text surface\n");
}

TEST_F(AppSetUp, PauseEndsAtOnceWhenTheTickCountIsAboutToWrap) {
  diag::openLog("Nebla.log", 3);
  Application app;
  backend().setTime(0xFFFFFFFFu - 1000u);
  ASSERT_TRUE(app.setUpDisplay(platform::GetModuleHandleA(nullptr)));
  EXPECT_LT(platform::GetTickCount(), 0xFFFFFFFFu - 900u);
}

TEST_F(AppSetUp, FailedStartExitsWithStatusOneAndExplainsOnStderr) {
  ::testing::internal::CaptureStderr();
  RunResult r = run("", std::nullopt, {"SetDisplayMode"});
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.log, "    ERROR:failed to set Displaymode - err number: -2147467259\n");
  EXPECT_NE(err.find("failed to set Displaymode - err number: -2147467259"), std::string::npos);
  EXPECT_TRUE(r.frames.empty());
}

TEST_F(AppSetUp, RefusedParticlePoolEndsTheRunCleanly) {
  ::testing::internal::CaptureStderr();
  RunResult r = run("", std::nullopt, {"HeapAlloc"});
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.log, "    ERROR:failed to allocate the particle pool - err number: 8\n");
  EXPECT_EQ(platform::callCount("RegisterClassA"), 0u);
  EXPECT_NE(err.find("particle pool"), std::string::npos);
}

// A program started before any backend is installed reaches the seam's
// built-in machine, which has no display: it takes the ordinary failure
// path instead of touching a null backend.
TEST_F(AppSetUp, WithoutABackendTheProgramFailsToTakeTheDisplay) {
  platform::setBackend(nullptr);
  ::testing::internal::CaptureStderr();
  int status = app::WinMain(platform::GetModuleHandleA(nullptr), nullptr, nullptr, 0);
  std::string err = ::testing::internal::GetCapturedStderr();
  platform::setBackend(&backend());
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("failed to create ddraw object"), std::string::npos) << err;
}

}  // namespace
}  // namespace nebla::testing
