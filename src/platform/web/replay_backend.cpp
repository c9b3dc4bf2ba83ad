// A replay in the page: the headless backend's run, painted and paced.
#include "platform/web/replay_backend.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>

namespace nebla::platform::web {
namespace {

// The virtual clock may run this far ahead of real time before the replay
// sleeps; busy waits move it 1 ms a reading, and sleeping for each would
// stretch the set-up's pause many times over.
constexpr double kPaceSlackMs = 8;
// A replay slower than real time still hands the browser its turn this
// often, so the page keeps drawing and answering.
constexpr double kLongestTurnMs = 50;

EM_BOOL resizeEvent(int, const EmscriptenUiEvent*, void* data) {
  static_cast<ReplayBackend*>(data)->layOut();
  return EM_FALSE;
}

EM_BOOL orientationEvent(int, const EmscriptenOrientationChangeEvent*, void* data) {
  static_cast<ReplayBackend*>(data)->layOut();
  return EM_FALSE;
}

}  // namespace

// The run's settings are nebla-capture's for a script without --frames or
// --seconds: its time limit, and an end once the script is over and the
// program idle.
ReplayBackend::ReplayBackend(std::string canvasSelector, std::vector<InputEvent> script)
    : canvas_(std::move(canvasSelector)) {
  headless_.reset();
  headless_.setScript(std::move(script));
  headless_.setTimeLimit(headless::kScriptRunLimitMs);
  headless_.setStopWhenIdle(true);
  headless_.setFrameCallback([this](const headless::PresentedFrame& f) { hash_.add(f); });
  emscripten_set_resize_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, this, EM_TRUE, resizeEvent);
  emscripten_set_orientationchange_callback(this, EM_TRUE, orientationEvent);
}

ReplayBackend::~ReplayBackend() {
  emscripten_set_resize_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, this, EM_TRUE, nullptr);
  emscripten_set_orientationchange_callback(this, EM_TRUE, nullptr);
}

// Sleeps while virtual time is ahead of the time the page was shown; gives
// the browser a short turn when it has had none for a while. A hidden page
// rests until it is shown, and the time it was hidden is not made up.
void ReplayBackend::pace() {
  double shown = clock_.shownMs();
  double ahead = headless_.now() - shown;
  if (ahead >= kPaceSlackMs) {
    emscripten_sleep(static_cast<unsigned>(ahead));
  } else if (shown - lastTurn_ >= kLongestTurnMs) {
    emscripten_sleep(0);
  } else {
    return;
  }
  // The page can only have been hidden while the browser had its turn.
  clock_.restWhileHidden();
  lastTurn_ = clock_.shownMs();
}

DWORD ReplayBackend::now() { return headless_.now(); }

void ReplayBackend::idle(std::optional<DWORD> nextTimerDue) {
  headless_.idle(nextTimerDue);
  pace();
}

void ReplayBackend::busyWait() {
  headless_.busyWait();
  pace();
}

void ReplayBackend::takeInput(std::vector<InputEvent>& events) { headless_.takeInput(events); }

bool ReplayBackend::keyDown(int key) { return headless_.keyDown(key); }

bool ReplayBackend::openDisplay() { return headless_.openDisplay() && canvas_.open(640, 480); }

bool ReplayBackend::setDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel) {
  if (!headless_.setDisplayMode(width, height, bitsPerPixel)) return false;
  return width <= 4096 && height <= 4096 &&
         canvas_.open(static_cast<int>(width), static_cast<int>(height));
}

void ReplayBackend::closeDisplay() { headless_.closeDisplay(); }

void ReplayBackend::present(const Presentation& frame) {
  headless_.present(frame);
  canvas_.show(frame);
}

void ReplayBackend::setPointerVisible(bool visible) { headless_.setPointerVisible(visible); }

void ReplayBackend::windowCreated(const WindowInfo& info) {
  headless_.windowCreated(info);
  canvas_.layOut();
}

void ReplayBackend::windowDestroyed() { headless_.windowDestroyed(); }

}  // namespace nebla::platform::web
