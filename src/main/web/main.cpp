// The page's program: the same entry function as in the window, either live
// on the web backend, recording the session's input as a capture script, or
// replaying a script the page was handed (a file or a shared link) exactly
// as the capture tool plays it. When it ends the page offers what comes next.
#include <emscripten.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/entry.h"
#include "particles/helper_thread.h"
#include "platform/backend.h"
#include "platform/headless/script.h"
#include "platform/headless/session_recorder.h"
#include "platform/user.h"
#include "platform/web/replay_backend.h"
#include "platform/web/web_backend.h"

// The page side (index.html): the script to replay, if any, as a string on
// the heap the program frees, and its name for messages.
EM_JS(char*, jsTakeReplay, (), {
  const replay = Module.replay;
  Module.replay = null;
  if (!replay) return 0;
  const size = lengthBytesUTF8(replay.text) + 1;
  const text = _malloc(size);
  if (text) stringToUTF8(replay.text, text, size);
  return text;
});
EM_JS(char*, jsReplayName, (), {
  const name = Module.replayName || "session";
  const size = lengthBytesUTF8(name) + 1;
  const text = _malloc(size);
  if (text) stringToUTF8(name, text, size);
  return text;
});
EM_JS(void, jsReplayRefused, (const char* reason), { Module.replayRefused(UTF8ToString(reason)); });
EM_JS(void, jsReplayStarted, (), { Module.replayStarted(); });
EM_JS(void, jsReplayEnded, (int frames, const char* hash),
      { Module.replayEnded(frames, UTF8ToString(hash)); });
EM_JS(void, jsProgramEnded, (int status), { Module.programEnded(status); });

namespace {

using namespace nebla;

constexpr const char* kCanvas = "#screen";

// The live session's input as a script, and whether the program still runs.
std::string sessionText;
bool sessionRunning = false;
platform::web::WebBackend* liveBackend = nullptr;

std::string takeString(char* text) {
  std::string out = text != nullptr ? text : "";
  std::free(text);
  return out;
}

int runLive() {
  platform::web::WebBackend backend(kCanvas);
  platform::headless::SessionRecorder recorder;
  recorder.start([](const std::string& text) {
    sessionText += text;
    return true;
  });
  platform::setInputObserver([&recorder](const platform::InputEvent& e) { recorder.record(e); });
  platform::setBackend(&backend);
  liveBackend = &backend;
  sessionRunning = true;
  int status = app::WinMain(platform::GetModuleHandleA(nullptr), nullptr, nullptr, 0);
  sessionRunning = false;
  liveBackend = nullptr;
  platform::setBackend(nullptr);
  platform::setInputObserver(nullptr);
  return status;
}

int runReplay(std::vector<platform::InputEvent> events) {
  platform::web::ReplayBackend backend(kCanvas, std::move(events));
  platform::setBackend(&backend);
  jsReplayStarted();
  int status = app::WinMain(platform::GetModuleHandleA(nullptr), nullptr, nullptr, 0);
  platform::setBackend(nullptr);
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016" PRIx64, backend.hash().value);
  std::printf("replay: frames %u hash %s\n", backend.hash().frames, hash);
  std::fflush(stdout);
  jsReplayEnded(static_cast<int>(backend.hash().frames), hash);
  return status;
}

}  // namespace

// The recorded session so far. While the program still runs, the script
// ends with Escape held at this moment, so that its replay ends where it
// was saved rather than playing on to the replay's time limit.
extern "C" EMSCRIPTEN_KEEPALIVE const char* nebla_session_script() {
  static std::string script;
  script = sessionText;
  if (sessionRunning && liveBackend != nullptr) {
    platform::InputEvent escape{platform::InputEvent::Kind::KeyDown, platform::VK_ESCAPE, 0, 0,
                                liveBackend->now()};
    script += "# saved here while the session ran: Escape ends the replay\n";
    script += platform::headless::formatScriptEvent(escape) + "\n";
  }
  return script.c_str();
}

// Checks a script with the program's own parser: an empty string when it
// can be replayed, else "NAME:LINE: reason".
extern "C" EMSCRIPTEN_KEEPALIVE const char* nebla_check_script(const char* text, const char* name) {
  static std::string error;
  std::vector<platform::InputEvent> events;
  error.clear();
  platform::headless::parseScript(text, name, events, error);
  return error.c_str();
}

int main() {
#ifdef __EMSCRIPTEN_PTHREADS__
  // With threads (a cross-origin isolated page) the helper takes part of
  // every frame step, as in the capture tool; the frames stay the same.
  particles::HelperThread::setEnabled(true);
#endif
  int status = 0;
  if (char* replay = jsTakeReplay()) {
    std::string text = takeString(replay);
    std::string name = takeString(jsReplayName());
    std::vector<platform::InputEvent> events;
    std::string error;
    if (platform::headless::parseScript(text, name, events, error)) {
      status = runReplay(std::move(events));
      jsProgramEnded(status);
      return status;
    }
    jsReplayRefused(error.c_str());
  }
  status = runLive();
  jsProgramEnded(status);
  return status;
}
