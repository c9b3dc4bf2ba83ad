// The installed backend and the reset of the whole platform.
#include "platform/backend.h"

#include "platform/headless/headless.h"
#include "platform/internal.h"
#include "platform/kernel.h"

namespace nebla::platform {
namespace {

Backend* installed = nullptr;

// Until a program or test installs its own, calls reach a headless machine
// with a display, so nothing ever touches a null backend.
Backend& builtIn() {
  static headless::HeadlessBackend fallback;
  return fallback;
}

}  // namespace

void setBackend(Backend* backend) { installed = backend; }

Backend& backend() { return installed != nullptr ? *installed : builtIn(); }

void resetPlatform() {
  resetClockReadings();
  resetDirectDraw();
  resetGdi();
  resetWindows();
  SetLastError(ERROR_SUCCESS);
}

}  // namespace nebla::platform
