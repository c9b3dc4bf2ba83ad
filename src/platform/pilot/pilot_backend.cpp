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
  inner_.takeInput(events);
  if (inner_.keyDown(VK_ESCAPE)) return;
  DWORD now = inner_.now();
  if (!start_) start_ = now;
  std::size_t first = events.size();
  for (InputEvent e : opening_) events.push_back(e);
  opening_.clear();
  if (autopilot_) autopilot_->take(now - *start_, events);
  for (std::size_t i = first; i < events.size(); ++i) {
    events[i].time += *start_;
    hold(events[i]);
  }
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
