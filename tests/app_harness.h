// Runs the whole program headless inside a test: a clean process state, a
// private working directory for Nebla.log, a script, and every presented
// frame kept for inspection.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "state/application.h"
#include "app/entry.h"
#include "app/window_proc.h"
#include "diag/log.h"
#include "effects/text_writer.h"
#include "particles/flow.h"
#include "particles/random.h"
#include "platform/fault.h"
#include "platform/headless/headless.h"
#include "platform/headless/script.h"

namespace nebla::testing {

using platform::headless::PresentedFrame;

// Process-wide values that a real run starts with once per process.
inline void resetProcessState() {
  particles::resetRandomForTest();
  particles::sweepPhase = 1.1;
  particles::phases = particles::FlowPhases{};
  app::resetWindowProcForTest();
  effects::resetTextWriterForTest();
  diag::LogStream.close();
  diag::LogStream.clear();
  diag::LogLevel = 3;
}

struct RunResult {
  int status = -1;
  std::string log;
  std::vector<PresentedFrame> frames;  // every presented frame, in order
  std::vector<PresentedFrame> flips() const {
    std::vector<PresentedFrame> out;
    for (const auto& f : frames)
      if (f.fromFlip) out.push_back(f);
    return out;
  }
};

class AppRun : public ::testing::Test {
 protected:
  std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::path dir;
  std::optional<platform::headless::HeadlessSession> session;

  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("nebla-app-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    resetProcessState();
    session.emplace();
    // What the entry function stores first; tests that set up the display
    // without it need the same.
    state::moduleInstance = platform::GetModuleHandleA(nullptr);
  }
  void TearDown() override {
    session.reset();
    resetProcessState();
    std::filesystem::current_path(home);
    std::filesystem::remove_all(dir);
  }
  platform::headless::HeadlessBackend& backend() { return session->backend(); }

  std::string readLog() const {
    std::ifstream in(dir / "Nebla.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // Runs the entry function with a script; Escape is held after `flips`
  // frame steps when given.
  RunResult run(const std::string& script, std::optional<std::uint32_t> flips,
                const std::vector<std::string>& faults = {}) {
    std::vector<platform::InputEvent> events;
    std::string error;
    EXPECT_TRUE(platform::headless::parseScript(script, "test", events, error)) << error;
    RunResult result;
    backend().setScript(std::move(events));
    backend().setEscapeAfterFlips(flips);
    backend().setFrameCallback([&result](const PresentedFrame& f) { result.frames.push_back(f); });
    for (const auto& text : faults) {
      platform::FaultRule rule;
      EXPECT_TRUE(platform::parseFaultRule(text, rule)) << text;
      platform::injectFault(rule);
    }
    result.status = app::WinMain(platform::GetModuleHandleA(nullptr), nullptr, nullptr, 0);
    diag::LogStream.flush();
    result.log = readLog();
    return result;
  }
};

// A program that has taken the display, for tests that drive the window
// procedure, the frame step or the effects directly.
class LiveApp : public AppRun {
 protected:
  std::unique_ptr<state::Application> app;

  void SetUp() override {
    AppRun::SetUp();
    diag::openLog("Nebla.log", 3);
    app = std::make_unique<state::Application>();
    ASSERT_TRUE(app->setUpDisplay(platform::GetModuleHandleA(nullptr)));
  }
  void TearDown() override {
    app.reset();
    AppRun::TearDown();
  }
};

// Pixel of a presented frame (tightly packed).
inline std::uint8_t at(const PresentedFrame& f, int x, int y) { return f.pixels[y * f.width + x]; }

}  // namespace nebla::testing
