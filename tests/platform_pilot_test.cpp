// The virtual hand: its plan from a seed, and how its events join the
// input of the backend it decorates.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "platform/headless/headless.h"
#include "platform/pilot/autopilot.h"
#include "platform/pilot/pilot_backend.h"
#include "platform/user.h"

namespace nebla::platform::testing {
namespace {

using pilot::Autopilot;
using pilot::PilotBackend;
using Kind = InputEvent::Kind;

std::vector<InputEvent> firstMinute(std::uint32_t seed) {
  Autopilot hand(seed);
  std::vector<InputEvent> events;
  hand.take(60000, events);
  return events;
}

bool same(const InputEvent& a, const InputEvent& b) {
  return a.kind == b.kind && a.key == b.key && a.x == b.x && a.y == b.y && a.time == b.time;
}

TEST(PlatformPilot, TheSameSeedPlansTheSameEventsInAnyPortions) {
  std::vector<InputEvent> whole = firstMinute(7);
  Autopilot hand(7);
  std::vector<InputEvent> pieces;
  for (DWORD t = 0; t < 60000; t += 37) hand.take(t, pieces);
  hand.take(60000, pieces);
  ASSERT_EQ(pieces.size(), whole.size());
  for (std::size_t i = 0; i < whole.size(); ++i) EXPECT_TRUE(same(pieces[i], whole[i])) << i;
  std::vector<InputEvent> other = firstMinute(8);
  EXPECT_FALSE(other.size() == whole.size() &&
               std::equal(other.begin(), other.end(), whole.begin(), same));
}

// Strokes start all over the picture, buttons are released before they are
// pressed again, and the hand also draws the picture, changes the ramp and
// blows wind within its first minute.
TEST(PlatformPilot, AMinuteHoldsStrokesInSeveralPlacesAndEveryGesture) {
  std::vector<InputEvent> events = firstMinute(1);
  std::set<std::pair<int, int>> strokeCells;
  std::set<Kind> kinds;
  std::set<int> keys;
  int leftHeld = 0;
  DWORD last = 0;
  for (const InputEvent& e : events) {
    EXPECT_GE(e.time, last);
    last = e.time;
    kinds.insert(e.kind);
    if (e.kind == Kind::KeyDown) keys.insert(e.key);
    EXPECT_TRUE(e.x >= 0 && e.x < 640 && e.y >= 0 && e.y < 480) << e.x << "," << e.y;
    if (e.kind == Kind::LeftDown) strokeCells.insert({e.x / 160, e.y / 160});
    leftHeld += e.kind == Kind::LeftDown ? 1 : e.kind == Kind::LeftUp ? -1 : 0;
    EXPECT_TRUE(leftHeld == 0 || leftHeld == 1);
  }
  EXPECT_GE(strokeCells.size(), 5u);
  EXPECT_TRUE(kinds.contains(Kind::RightDown) && kinds.contains(Kind::RightUp));
  bool digit = false, arrow = false;
  for (int key : keys) {
    digit = digit || (key >= '0' && key <= '9');
    arrow = arrow || (key >= VK_LEFT && key <= VK_DOWN);
  }
  EXPECT_TRUE(digit && arrow);
}

// The starting keys come first, after the inner backend's own input, at the
// time of the first hand-over; a held button reads as down.
TEST(PlatformPilot, StartingKeysComeFirstAndHeldButtonsReadDown) {
  headless::HeadlessSession session;
  session.backend().setTime(5000);
  session.backend().setScript({{Kind::KeyDown, 'D', 0, 0, 5000}});
  PilotBackend hand(session.backend());
  hand.pressAtStart({'3', VK_SPACE});
  hand.fly(1);
  std::vector<InputEvent> events;
  hand.takeInput(events);
  hand.idle(std::nullopt);
  ASSERT_GE(events.size(), 5u);
  EXPECT_EQ(events[0].key, 'D');
  EXPECT_TRUE(events[1].kind == Kind::KeyDown && events[1].key == '3' && events[1].time == 5000);
  EXPECT_TRUE(events[2].kind == Kind::KeyUp && events[2].key == '3');
  EXPECT_TRUE(events[3].kind == Kind::KeyDown && events[3].key == VK_SPACE);
  EXPECT_FALSE(hand.keyDown(VK_SPACE));
  bool leftDown = false;
  for (DWORD t = 5000; t < 20000 && !leftDown; t += 10) {
    session.backend().setTime(t);
    events.clear();
    hand.takeInput(events);
    for (const InputEvent& e : events) {
      EXPECT_GE(e.time, 5000u);
      leftDown = leftDown || e.kind == Kind::LeftDown;
    }
  }
  ASSERT_TRUE(leftDown);
  EXPECT_TRUE(hand.keyDown(VK_LBUTTON));
}

}  // namespace
}  // namespace nebla::platform::testing
