// nebla.exe: the program in a real window on Windows, through the Win32
// backend.
#include <string>

#include "app/entry.h"
#include "diag/log.h"
#include "particles/helper_thread.h"
#include "platform/backend.h"
#include "platform/win32/win32_backend.h"

namespace {

using nebla::platform::win32::Win32Backend;

// The log sits in the working directory, so a directory that refuses the
// screenshot has usually refused the log as well: the title says it too.
void reportScreenshot(Win32Backend& backend, const std::string& fileName,
                      const std::string& failure) {
  using namespace nebla;
  if (failure.empty()) {
    diag::logInfo("saved screenshot " + fileName);
    backend.showNote("saved " + fileName);
    return;
  }
  diag::logWarning("failed to save screenshot " + fileName + ": " + failure);
  backend.showNote("screenshot not saved: " + failure);
}

}  // namespace

// The program takes nothing from its command line.
int main() {
  using namespace nebla;
  Win32Backend backend({});
  backend.setScreenshotReport([&backend](const std::string& fileName, const std::string& failure) {
    reportScreenshot(backend, fileName, failure);
  });
  platform::setBackend(&backend);
  particles::HelperThread::setEnabled(particles::HelperThread::requested());
  int status = app::WinMain(platform::GetModuleHandleA(nullptr), nullptr, nullptr, 0);
  platform::setBackend(nullptr);
  // A window program has no console to print on; the reason is in the log.
  if (status != 0)
    platform::win32::tellUser("Nebla could not start: see Nebla.log for the reason.");
  return status;
}
