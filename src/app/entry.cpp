// Entry function and the message loop that never waits.
#include "app/entry.h"

#include "diag/log.h"
#include "platform/kernel.h"
#include "state/application.h"

namespace nebla::app {

using namespace platform;

namespace {

bool keyDownNow(int key) { return (GetAsyncKeyState(key) & 0x8000) != 0; }

bool sessionEnding() { return GetSystemMetrics(SM_SHUTTINGDOWN) != 0; }

// Escape and Q are polled on every pass; frames come from the timer ticks
// that the loop dispatches to the window procedure. True when the loop
// ended with the session rather than through the quit message.
bool runMessageLoop() {
  for (;;) {
    if (sessionEnding()) return true;
    if (keyDownNow(VK_ESCAPE) || keyDownNow('Q')) PostQuitMessage(0);
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) continue;
    if (message.message == WM_QUIT) return false;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace

int WinMain(HINSTANCE instance, HINSTANCE, char*, int) {
  state::moduleInstance = instance;
  diag::openLog("Nebla.log", 3);
  state::Application app;
  if (!app.poolReady()) {
    diag::logErrorCode("failed to allocate the particle pool - err number: ", GetLastError());
    return 1;
  }
  if (!app.setUpDisplay(instance)) return 1;
  if (!runMessageLoop()) app.showOutro(instance);
  return 0;
}

}  // namespace nebla::app
