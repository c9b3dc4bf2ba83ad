// The installed backend and the reset of the whole platform.
#include "platform/backend.h"

#include <chrono>
#include <thread>

#include "platform/internal.h"
#include "platform/kernel.h"

namespace nebla::platform {
namespace {

// Until a program or test installs its own backend, calls reach a machine
// with a clock and nothing else: no input, and no display, so a program
// started without a backend takes its own failure path instead of touching
// a null one.
class NoMachine final : public Backend {
 public:
  DWORD now() override {
    auto elapsed = std::chrono::steady_clock::now() - start_;
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
  }
  void idle(std::optional<DWORD>) override { busyWait(); }
  void busyWait() override { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }
  void takeInput(std::vector<InputEvent>&) override {}
  bool keyDown(int) override { return false; }
  bool openDisplay() override { return false; }
  bool setDisplayMode(DWORD, DWORD, DWORD) override { return false; }
  void closeDisplay() override {}
  void present(const Presentation&) override {}
  void setPointerVisible(bool) override {}
  void windowCreated(const WindowInfo&) override {}
  void windowDestroyed() override {}

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

Backend* installed = nullptr;

Backend& builtIn() {
  static NoMachine fallback;
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
