// The page's program: the same entry function as in the window, either live
// on the web backend (with the user's words, if any), recording the
// session's input as a capture script, or
// replaying a script the page was handed (a file or a shared link) exactly
// as the capture tool plays it. As a wallpaper it runs live with the
// autopilot and takes only the pointer. When it ends the page offers what
// comes next.
#include <emscripten.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/entry.h"
#include "effects/user_text.h"
#include "particles/helper_thread.h"
#include "platform/backend.h"
#include "platform/headless/script.h"
#include "platform/headless/session_recorder.h"
#include "platform/pilot/pilot_backend.h"
#include "platform/user.h"
#include "platform/web/replay_backend.h"
#include "platform/web/web_backend.h"

// The page side (index.html): the script to replay, if any, as a string on
// the heap the program frees, with its length in bytes (a NUL in it must
// reach the parser), and its name for messages.
EM_JS(char*, jsTakeReplay, (int* length), {
  const replay = Module.replay;
  Module.replay = null;
  if (!replay) return 0;
  const size = lengthBytesUTF8(replay.text) + 1;
  const text = _malloc(size);
  if (!text) return 0;
  stringToUTF8(replay.text, text, size);
  HEAP32[length >> 2] = size - 1;
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
EM_JS(void, jsSessionFull, (int limit), { Module.sessionFull(limit); });
// The user's words for the writer (Your text), on the heap the program
// frees; null when there are none.
EM_JS(char*, jsTakeWords, (int* length), {
  const words = Module.words;
  Module.words = null;
  if (!words) return 0;
  const size = lengthBytesUTF8(words) + 1;
  const text = _malloc(size);
  if (!text) return 0;
  stringToUTF8(words, text, size);
  HEAP32[length >> 2] = size - 1;
  return text;
});
EM_JS(void, jsWordsRefused, (const char* reason), { Module.wordsRefused(UTF8ToString(reason)); });
EM_JS(void, jsWordsUnmapped, (const char* characters),
      { Module.wordsUnmapped(UTF8ToString(characters)); });
EM_JS(int, jsWallpaper, (), { return Module.wallpaper ? 1 : 0; });

namespace {

using namespace nebla;

constexpr const char* kCanvas = "#screen";

// The longest recording, 3.5 MB: with its closing lines it stays under
// the 4 MB the page opens as a file or a link, and the threaded build's
// fixed heap holds it and the copies made to save or share it with room.
constexpr std::size_t kSessionLimit = 7 * 512 * 1024;
// Room kept below the limit for the lines that end a full session.
constexpr std::size_t kClosingRoom = 256;

// The live session's input as a script, whether the program still runs,
// and whether the recording stopped at the limit (it then ends with Escape).
std::string sessionText;
bool sessionRunning = false;
bool sessionFull = false;
platform::web::WebBackend* liveBackend = nullptr;

std::string takeString(char* text, std::size_t length) {
  std::string out = text != nullptr ? std::string(text, length) : "";
  std::free(text);
  return out;
}

std::string takeString(char* text) {
  return takeString(text, text != nullptr ? std::strlen(text) : 0);
}

// Escape held at this moment, so that a replay ends where the recording did
// rather than playing on without input to the replay's time limit.
std::string escapeNow(const char* why) {
  platform::InputEvent escape{platform::InputEvent::Kind::KeyDown, platform::VK_ESCAPE, 0, 0,
                              liveBackend->now()};
  return std::string("# ") + why + ": Escape ends the replay\n" +
         platform::headless::formatScriptEvent(escape) + "\n";
}

// Takes the recorder's text until the session reaches its limit; there it
// closes the script, tells the page and refuses everything after.
bool keepSessionText(const std::string& text) {
  if (sessionFull) return false;
  if (sessionText.size() + text.size() + kClosingRoom <= kSessionLimit) {
    sessionText += text;
    return true;
  }
  sessionFull = true;
  sessionText += escapeNow("the session reached its limit here, so its recording stopped");
  jsSessionFull(static_cast<int>(kSessionLimit));
  return false;
}

// The text the session starts with, as its first event, which the
// recording keeps, so a replay and a shared link write it too: the user's
// words, once laid out to see that the writer takes them; else, on a
// wallpaper, where nobody can press a key, the writer's own text without
// the pages that teach keys.
std::optional<platform::InputEvent> startingText(bool wallpaper) {
  int length = 0;
  if (char* given = jsTakeWords(&length)) {
    platform::InputEvent words{platform::InputEvent::Kind::Text};
    words.text = takeString(given, static_cast<std::size_t>(length));
    effects::UserText laidOut;
    std::string reason;
    if (effects::layOutText(words.text, laidOut, reason)) {
      if (!laidOut.unmapped.empty())
        jsWordsUnmapped(effects::describeUnmapped(laidOut.unmapped).c_str());
      return words;
    }
    jsWordsRefused(reason.c_str());
  }
  if (wallpaper) return platform::InputEvent{platform::InputEvent::Kind::KeylessText};
  return std::nullopt;
}

// A wallpaper takes only the pointer, and the autopilot's hand plays beside
// it; both are recorded like a user's input.
int runLive(bool wallpaper) {
  using platform::web::Inputs;
  platform::web::WebBackend backend(kCanvas,
                                    wallpaper ? Inputs::PointerOnly : Inputs::KeysAndPointer);
  platform::pilot::PilotBackend hand(backend);
  if (wallpaper) hand.fly(std::random_device{}());
  platform::headless::SessionRecorder recorder;
  liveBackend = &backend;
  if (auto text = startingText(wallpaper)) hand.writeAtStart(std::move(*text));
  recorder.start(keepSessionText);
  platform::setInputObserver([&recorder](const platform::InputEvent& e) { recorder.record(e); });
  platform::setBackend(&hand);
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
// ends with Escape held at this moment (a full session already ends so).
extern "C" EMSCRIPTEN_KEEPALIVE const char* nebla_session_script() {
  static std::string script;
  script = sessionText;
  if (sessionRunning && !sessionFull && liveBackend != nullptr)
    script += escapeNow("saved here while the session ran");
  return script.c_str();
}

// Checks length bytes of script text (a NUL among them included) with the
// program's own parser: an empty string when it can be replayed, else
// "NAME:LINE: reason".
extern "C" EMSCRIPTEN_KEEPALIVE const char* nebla_check_script(const char* text, int length,
                                                               const char* name) {
  static std::string error;
  std::vector<platform::InputEvent> events;
  error.clear();
  platform::headless::parseScript(std::string_view(text, static_cast<std::size_t>(length)), name,
                                  events, error);
  return error.c_str();
}

// Whether the writer takes length bytes of words: an empty string, or why
// not.
extern "C" EMSCRIPTEN_KEEPALIVE const char* nebla_check_words(const char* text, int length) {
  static std::string reason;
  effects::UserText laidOut;
  reason.clear();
  effects::layOutText(std::string_view(text, static_cast<std::size_t>(length)), laidOut, reason);
  return reason.c_str();
}

int main() {
#ifdef __EMSCRIPTEN_PTHREADS__
  // With threads (a cross-origin isolated page) the helper takes part of
  // every frame step, as in the capture tool; the frames stay the same.
  particles::HelperThread::setEnabled(true);
#endif
  int status = 0;
  int length = 0;
  bool wallpaper = jsWallpaper() != 0;
  if (char* replay = wallpaper ? nullptr : jsTakeReplay(&length)) {
    std::string text = takeString(replay, static_cast<std::size_t>(length));
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
  status = runLive(wallpaper);
  jsProgramEnded(status);
  return status;
}
