// Nebla.scr: the program as a Windows screensaver. /s runs it full screen
// with the text writer and, unless turned off, the autopilot until the user
// comes back; /p HWND draws it into the
// preview of the Screen Saver Settings dialog; /c, or no argument, shows its
// settings. Anything else ends it quietly.
#include <random>
#include <string>
#include <vector>

#include "app/entry.h"
#include "particles/helper_thread.h"
#include "platform/backend.h"
#include "platform/pilot/pilot_backend.h"
#include "platform/win32/screensaver_args.h"
#include "platform/win32/settings.h"
#include "platform/win32/win32_backend.h"

namespace {

using namespace nebla;
using platform::win32::ScreenSaverCall;

// The program with the stored settings pressed in as it starts. A
// screensaver says nothing about its failures: the status is 0 whatever
// happened (the reason is in the log).
void runProgram(const ScreenSaverCall& call) {
  platform::win32::Options options;
  options.mode = call.kind == ScreenSaverCall::Kind::Preview ? platform::win32::Mode::Preview
                                                             : platform::win32::Mode::ScreenSaver;
  options.parent = call.window;
  platform::win32::Win32Backend backend(std::move(options));
  // The hand's input joins the window's (the user's own still ends the
  // run): the stored look's keys first, then the autopilot if it is on.
  platform::win32::ScreenSaverSettings settings = platform::win32::loadSettings();
  platform::pilot::PilotBackend hand(backend);
  hand.pressAtStart(platform::win32::startKeys(settings));
  if (settings.autopilot) hand.fly(std::random_device{}());
  platform::setBackend(&hand);
  particles::HelperThread::setEnabled(particles::HelperThread::requested());
  app::WinMain(platform::GetModuleHandleA(nullptr), nullptr, nullptr, 0);
  platform::setBackend(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  ScreenSaverCall call =
      platform::win32::parseScreenSaverArguments(std::vector<std::string>(argv + 1, argv + argc));
  switch (call.kind) {
    case ScreenSaverCall::Kind::Configure: platform::win32::runSettingsDialog(call.window); break;
    case ScreenSaverCall::Kind::Run:
    case ScreenSaverCall::Kind::Preview:
      // The system starts a screensaver in its own folder; the log goes to
      // the user's temporary folder instead.
      platform::win32::enterTemporaryFolder();
      runProgram(call);
      break;
    case ScreenSaverCall::Kind::None: break;
  }
  return 0;
}
