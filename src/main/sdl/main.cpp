// The nebla executable: the program on a real screen through SDL2.
// The program has its own entry point; SDL needs no start-up code of its own.
#define SDL_MAIN_HANDLED

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "app/entry.h"
#include "diag/log.h"
#include "particles/helper_thread.h"
#include "platform/backend.h"
#include "platform/headless/script.h"
#include "platform/headless/session_recorder.h"
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

constexpr const char* kUsage =
    "usage: nebla [--record FILE]\n"
    "Plays Nebla full screen (Alt+Enter for a window, Escape or Q to end).\n"
    "  --record FILE  also write the session's input to FILE as a script for\n"
    "                 nebla-capture --script FILE (one line an event, as it happens)\n"
    "  --help         this text\n";

// The record file, or no value after --help or a bad command line, with
// the exit status in `status`.
std::optional<std::string> parseOptions(int argc, char** argv, int& status) {
  std::string record;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      status = 0;
      return std::nullopt;
    }
    if (arg == "--record" && i + 1 < argc && argv[i + 1][0] != '\0') {
      record = argv[++i];
      continue;
    }
    if (arg == "--record")
      std::fprintf(stderr, "nebla: --record needs a file name\n%s", kUsage);
    else
      std::fprintf(stderr, "nebla: unknown option: %s\n%s",
                   nebla::platform::headless::quoted(arg).c_str(), kUsage);
    status = 2;
    return std::nullopt;
  }
  return record;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace nebla;
  int status = 0;
  std::optional<std::string> recordPath = parseOptions(argc, argv, status);
  if (!recordPath) return status;
  // The record file is made before anything else, so that a bad name is
  // told at once and no window opens for a session that would be lost.
  platform::headless::SessionRecorder recorder;
  std::string error;
  if (!recordPath->empty() && !recorder.open(*recordPath, error)) {
    std::fprintf(stderr, "nebla: cannot record to %s: %s\n", recordPath->c_str(), error.c_str());
    return 2;
  }
  SDL_SetMainReady();
  SdlBackend backend;
  backend.setScreenshotReport([&backend](const std::string& fileName, const std::string& failure) {
    reportScreenshot(backend, fileName, failure);
  });
  if (!recordPath->empty()) {
    recorder.setFailureReport([&](const std::string& reason) {
      std::fprintf(stderr, "nebla: recording stopped: cannot write %s: %s\n", recordPath->c_str(),
                   reason.c_str());
      backend.showNote("recording stopped: " + reason);
    });
    platform::setInputObserver([&recorder](const platform::InputEvent& e) { recorder.record(e); });
  }
  platform::setBackend(&backend);
  particles::HelperThread::setEnabled(particles::HelperThread::requested());
  status = app::WinMain(platform::GetModuleHandleA(nullptr), nullptr, nullptr, 0);
  platform::setInputObserver(nullptr);
  platform::setBackend(nullptr);
  return status;
}
