// One whole frame step at full load: 99,998 particles, the light and the
// overlay on, the text writer at work and the spray held, on the headless
// display, as the window procedure runs it on every tick.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "diag/log.h"
#include "particles/helper_thread.h"
#include "platform/headless/headless.h"
#include "platform/user.h"
#include "state/application.h"

namespace {

using nebla::state::Application;

// The program's start as the entry function makes it, in a scratch
// directory for the log.
struct FullLoad {
  std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("nebla-bench-" + std::to_string(::getpid()));
  nebla::platform::headless::HeadlessSession session;
  std::unique_ptr<Application> app;

  FullLoad() {
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    nebla::diag::openLog("Nebla.log", 3);
    nebla::state::moduleInstance = nebla::platform::GetModuleHandleA(nullptr);
    app = std::make_unique<Application>();
    ready = app->setUpDisplay(nebla::platform::GetModuleHandleA(nullptr));
    for (int i = 0; app->particles->activeCount() < 99998; ++i) {
      app->particles->spawn(60000, static_cast<std::int16_t>(40 + i % 560),
                            static_cast<std::int16_t>(40 + (i / 560) % 400), 500, 0.0, 0.0, 0.0, -1,
                            -1, false);
    }
    app->lightOn = true;
    app->infoOn = true;
    app->textWriterOn = true;
    app->leftButton = true;
    app->mouseX = 320;
    app->mouseY = 240;
  }
  ~FullLoad() {
    app.reset();
    nebla::diag::LogStream.close();
    std::filesystem::current_path(home);
    std::filesystem::remove_all(dir);
  }
  bool ready = false;
};

void frameStep(benchmark::State& state, bool helper) {
  nebla::particles::HelperThread::setEnabled(helper);
  if (helper && nebla::particles::HelperThread::get() == nullptr) {
    state.SkipWithError("no helper thread on this machine");
    return;
  }
  FullLoad load;
  if (!load.ready) {
    state.SkipWithError("the display could not be set up");
    return;
  }
  for (auto _ : state) {
    load.app->mouseX = 160 + static_cast<std::int32_t>(state.iterations() % 320);
    load.app->frameStep();
  }
  state.counters["particles"] = load.app->particles->activeCount();
  nebla::particles::HelperThread::setEnabled(false);
}

BENCHMARK_CAPTURE(frameStep, fullLoadOneCore, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(frameStep, fullLoadTwoThreads, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
