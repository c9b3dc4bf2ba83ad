// The frame step at full load in the browser: 99,998 particles, the light
// and the overlay on, the text writer at work and the spray held, shown in
// the page's canvas. Each step is timed with the page's clock
// (performance.now()); the page gets its turn between steps, as it does
// between ticks. Prints the median and the 99th percentile. Built with
// threads (build/web-threads), it runs with the helper thread.
#include <emscripten.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/entry.h"
#include "diag/log.h"
#include "particles/helper_thread.h"
#include "platform/user.h"
#include "platform/web/web_backend.h"
#include "state/application.h"

namespace {

using nebla::state::Application;

void fillPool(Application& app) {
  for (int i = 0; app.particles->activeCount() < 99998; ++i)
    app.particles->spawn(60000, static_cast<std::int16_t>(40 + i % 560),
                         static_cast<std::int16_t>(40 + (i / 560) % 400), 500, 0.0, 0.0, 0.0, -1,
                         -1, false);
  app.lightOn = true;
  app.infoOn = true;
  app.textWriterOn = true;
  app.leftButton = true;
  app.mouseY = 240;
}

double percentile(std::vector<double> times, double p) {
  std::sort(times.begin(), times.end());
  return times[static_cast<std::size_t>(p * static_cast<double>(times.size() - 1))];
}

}  // namespace

int main() {
  constexpr int kWarmUp = 40;
  constexpr int kSteps = 600;
#ifdef __EMSCRIPTEN_PTHREADS__
  nebla::particles::HelperThread::setEnabled(true);
  const char* mode = "helper";
#else
  const char* mode = "single";
#endif
  nebla::platform::web::WebBackend backend("#screen");
  nebla::platform::setBackend(&backend);
  nebla::diag::openLog("Nebla.log", 3);
  nebla::state::moduleInstance = nebla::platform::GetModuleHandleA(nullptr);
  auto app = std::make_unique<Application>();
  if (!app->setUpDisplay(nebla::platform::GetModuleHandleA(nullptr))) {
    std::printf("bench: the display could not be set up\n");
    return 1;
  }
  fillPool(*app);
  std::vector<double> times;
  for (int i = 0; i < kWarmUp + kSteps; ++i) {
    app->mouseX = 160 + i % 320;
    double start = emscripten_get_now();
    app->frameStep();
    if (i >= kWarmUp) times.push_back(emscripten_get_now() - start);
    emscripten_sleep(0);
  }
  std::printf(
      "frame step at full load (%u particles, %s): median %.2f ms, 99th percentile %.2f ms over "
      "%d steps\n",
      static_cast<unsigned>(app->particles->activeCount()), mode, percentile(times, 0.5),
      percentile(times, 0.99), kSteps);
  app.reset();
  nebla::platform::setBackend(nullptr);
  return 0;
}
