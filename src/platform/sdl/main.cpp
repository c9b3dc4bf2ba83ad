// The nebla executable: the program on a real screen through SDL2.
// The program has its own entry point; SDL needs no start-up code of its own.
#define SDL_MAIN_HANDLED

#include <string>

#include "app/entry.h"
#include "diag/log.h"
#include "particles/helper_thread.h"
#include "platform/backend.h"
#include "platform/sdl/sdl_backend.h"

int main(int /*argc*/, char** /*argv*/) {
  using namespace nebla;
  SDL_SetMainReady();
  platform::sdl::SdlBackend backend;
  backend.setScreenshotReport([](const std::string& fileName, bool saved) {
    if (saved)
      diag::logInfo("saved screenshot " + fileName);
    else
      diag::logWarning("failed to save screenshot " + fileName);
  });
  platform::setBackend(&backend);
  particles::HelperThread::setEnabled(particles::HelperThread::requested());
  int status = app::WinMain(platform::GetModuleHandleA(nullptr), nullptr, nullptr, 0);
  platform::setBackend(nullptr);
  return status;
}
