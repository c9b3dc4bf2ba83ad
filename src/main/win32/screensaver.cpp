// Nebla.scr: the program as a Windows screensaver. /s runs it over every
// monitor with the text writer (the user's own text, if one is stored)
// and, unless turned off, the autopilot until the user comes back; /p HWND
// draws it into the preview of the Screen Saver Settings dialog; /c, or no
// argument, shows its settings. Anything else ends it quietly.
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "app/entry.h"
#include "diag/log.h"
#include "effects/text_writer.h"
#include "effects/user_text.h"
#include "particles/helper_thread.h"
#include "platform/backend.h"
#include "platform/pilot/pilot_backend.h"
#include "platform/win32/screensaver_args.h"
#include "platform/win32/settings.h"
#include "platform/win32/win32_backend.h"

namespace {

using namespace nebla;
using platform::win32::ScreenSaverCall;
using platform::win32::ScreenSaverSettings;

static_assert(platform::win32::kMaxStoredTextBytes == effects::kMaxTextBytes,
              "the settings keep as long a text as the program lays out");

// No key reaches the program here, so the writer's own pages that teach
// the keys would only mislead: it leaves them out.
void useHostDefaultText() { effects::spellBuiltInWithoutKeys(); }

// What the settings dialog asks of a text before it keeps it.
bool textUsable(const std::string& text, std::string& reason) {
  effects::UserText laidOut;
  return effects::layOutText(text, laidOut, reason);
}

// The stored text for the writer, or the host's own text when there is
// none or it is refused; what went wrong goes to the log as it opens.
void useStoredText(const ScreenSaverSettings& settings) {
  effects::UserText laidOut;
  std::string reason;
  if (settings.textTooLong) {
    diag::logWarningAtOpen(
        "stored text refused (too long: more than 1 MiB); using Nebla's own text");
  } else if (!settings.text.empty() && !effects::layOutText(settings.text, laidOut, reason)) {
    diag::logWarningAtOpen("stored text refused (" + reason + "); using Nebla's own text");
  } else if (!settings.text.empty()) {
    if (!laidOut.unmapped.empty())
      diag::logWarningAtOpen("no glyph in the stored text for: " +
                             effects::describeUnmapped(laidOut.unmapped) + " (left empty)");
    effects::spellText(std::move(laidOut.pages));
    return;
  }
  useHostDefaultText();
}

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
  ScreenSaverSettings settings = platform::win32::loadSettings();
  useStoredText(settings);
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
    case ScreenSaverCall::Kind::Configure:
      platform::win32::runSettingsDialog(call.window, textUsable);
      break;
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
