// The nebla executable: the program on a real screen through SDL2.
// The program has its own entry point; SDL needs no start-up code of its own.
#define SDL_MAIN_HANDLED

#include <cstdio>
#include <string>

#include "app/entry.h"
#include "diag/log.h"
#include "particles/helper_thread.h"
#include "platform/backend.h"
#include "platform/sdl/sdl_backend.h"

namespace {

using nebla::platform::sdl::SdlBackend;

// The log sits in the working directory, so a directory that refuses the
// screenshot has usually refused the log as well: a failure is also printed
// and shown in the title, where someone at the window sees it.
void reportScreenshot(SdlBackend& backend, const std::string& fileName,
                      const std::string& failure) {
  using namespace nebla;
  if (failure.empty()) {
    diag::logInfo("saved screenshot " + fileName);
    backend.showNote("saved " + fileName);
    return;
  }
  diag::logWarning("failed to save screenshot " + fileName + ": " + failure);
  std::fprintf(stderr, "nebla: cannot save the screenshot %s: %s\n", fileName.c_str(),
               failure.c_str());
  backend.showNote("screenshot not saved: " + failure);
}

}  // namespace

int main(int /*argc*/, char** /*argv*/) {
  using namespace nebla;
  SDL_SetMainReady();
  SdlBackend backend;
  backend.setScreenshotReport([&backend](const std::string& fileName, const std::string& failure) {
    reportScreenshot(backend, fileName, failure);
  });
  platform::setBackend(&backend);
  particles::HelperThread::setEnabled(particles::HelperThread::requested());
  int status = app::WinMain(platform::GetModuleHandleA(nullptr), nullptr, nullptr, 0);
  platform::setBackend(nullptr);
  return status;
}
