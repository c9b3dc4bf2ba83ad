// The hand's events joined to the inner backend's input.
#include "platform/pilot/pilot_backend.h"

#include "platform/user.h"

namespace nebla::platform::pilot {

void PilotBackend::pressAtStart(const std::vector<int>& keys) {
  for (int key : keys) {
    opening_.push_back({InputEvent::Kind::KeyDown, key, 0, 0, 0});
    opening_.push_back({InputEvent::Kind::KeyUp, key, 0, 0, 0});
  }
}

// The hand lets go once Escape is held: the program is ending, and its
// queue must run dry for the quit message to come.
void PilotBackend::takeInput(std::vector<InputEvent>& events) {
  std::size_t first = events.size();
  inner_.takeInput(events);
  if (inner_.keyDown(VK_ESCAPE)) return;
  DWORD now = inner_.now();
  pressOpening(events, first, now);
  if (textSource_) {
    if (std::optional<std::string> words = textSource_())
      events.push_back({InputEvent::Kind::Text, 0, 0, 0, now, std::move(*words)});
  }
  std::size_t hand = events.size();
  if (autopilot_) autopilot_->take(now, events);
  for (std::size_t i = hand; i < events.size(); ++i) hold(events[i]);
}

// A window reports the pointer and the focus as it opens, and keys pressed
// during the set-up arrive with them; the starting look goes before all of
// these. Each key is released at once, so none stays held.
void PilotBackend::pressOpening(std::vector<InputEvent>& events, std::size_t at, DWORD now) {
  if (opening_.empty()) return;
  DWORD time = at < events.size() ? events[at].time : now;
  for (InputEvent& e : opening_) e.time = time;
  events.insert(events.begin() + static_cast<std::ptrdiff_t>(at), opening_.begin(), opening_.end());
  opening_.clear();
}

bool PilotBackend::keyDown(int key) { return inner_.keyDown(key) || held_.contains(key); }

void PilotBackend::hold(const InputEvent& event) {
  using Kind = InputEvent::Kind;
  switch (event.kind) {
    case Kind::KeyDown: held_.insert(event.key); break;
    case Kind::KeyUp: held_.erase(event.key); break;
    case Kind::LeftDown: held_.insert(VK_LBUTTON); break;
    case Kind::LeftUp: held_.erase(VK_LBUTTON); break;
    case Kind::RightDown: held_.insert(VK_RBUTTON); break;
    case Kind::RightUp: held_.erase(VK_RBUTTON); break;
    default: break;
  }
}

}  // namespace nebla::platform::pilot
