// A backend that adds a virtual hand's input to another backend's: key
// presses for the starting look (a colour ramp, the light) and, when asked,
// the autopilot. Its events go through the same input queue as the real
// mouse and keys, so the program cannot tell them apart and a session
// recorder writes them down like any other input.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/backend.h"
#include "platform/pilot/autopilot.h"

namespace nebla::platform::pilot {

class PilotBackend final : public Backend {
 public:
  // Everything but the input is the inner backend's; the caller keeps it
  // alive while this one is installed.
  explicit PilotBackend(Backend& inner) : inner_(inner) {}

  // Keys pressed and released, in this order, before any other input the
  // program gets, the inner backend's first events included, and at the
  // time of the earliest of those, so that a recording keeps its times in
  // order. Call before the program starts.
  void pressAtStart(const std::vector<int>& keys);
  // A text event (the user's words, or the writer's own text without keys)
  // handed over first of all, with the starting keys' time. Call before the
  // program starts.
  void writeAtStart(InputEvent text) { opening_.insert(opening_.begin(), std::move(text)); }
  // Asked at every takeInput: words that came since (a text program's
  // output) go to the program as a text event at the current time.
  void setTextSource(std::function<std::optional<std::string>()> source) {
    textSource_ = std::move(source);
  }
  // Turns the autopilot on with this seed. Call before the program starts.
  void fly(std::uint32_t seed) { autopilot_.emplace(seed); }

  // The starting keys (on the first call), the inner backend's input, then
  // the hand's events that are due. The hand's clock starts at the first
  // call (after the program's set-up), and its events carry times on the
  // inner backend's clock (see Autopilot::take for a clock that wraps or
  // stalls). Once the inner backend holds Escape, the hand adds nothing
  // more.
  void takeInput(std::vector<InputEvent>& events) override;
  // Held by the inner backend's user or by the hand (keys and buttons).
  bool keyDown(int key) override;

  DWORD now() override { return inner_.now(); }
  void idle(std::optional<DWORD> nextTimerDue) override { inner_.idle(nextTimerDue); }
  void busyWait() override { inner_.busyWait(); }
  bool openDisplay() override { return inner_.openDisplay(); }
  bool setDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel) override {
    return inner_.setDisplayMode(width, height, bitsPerPixel);
  }
  void closeDisplay() override { inner_.closeDisplay(); }
  void present(const Presentation& frame) override { inner_.present(frame); }
  void setPointerVisible(bool visible) override { inner_.setPointerVisible(visible); }
  void windowCreated(const WindowInfo& info) override { inner_.windowCreated(info); }
  void windowDestroyed() override { inner_.windowDestroyed(); }
  bool sessionEnding() override { return inner_.sessionEnding(); }

 private:
  void pressOpening(std::vector<InputEvent>& events, std::size_t at, DWORD now);
  void hold(const InputEvent& event);

  Backend& inner_;
  std::vector<InputEvent> opening_;
  std::optional<Autopilot> autopilot_;
  std::set<int> held_;
  std::function<std::optional<std::string>()> textSource_;
};

}  // namespace nebla::platform::pilot
