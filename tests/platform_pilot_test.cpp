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

// What the hand plays from `from` to `to`, looked at every `step` ms, as a
// running program looks at its input.
std::vector<InputEvent> play(Autopilot& hand, DWORD from, DWORD to, DWORD step) {
  std::vector<InputEvent> events;
  for (DWORD t = from; t != to; t += step) hand.take(t, events);
  hand.take(to, events);
  return events;
}

std::vector<InputEvent> firstMinute(std::uint32_t seed) {
  Autopilot hand(seed);
  return play(hand, 0, 60000, 50);
}

bool same(const InputEvent& a, const InputEvent& b) {
  return a.kind == b.kind && a.key == b.key && a.x == b.x && a.y == b.y && a.time == b.time;
}

// Gaps up to a second are a running program's, however they fall.
TEST(PlatformPilot, TheSameSeedPlansTheSameEventsInAnyPortions) {
  std::vector<InputEvent> whole = firstMinute(7);
  Autopilot hand(7);
  std::vector<InputEvent> pieces = play(hand, 0, 60000, 1000);
  ASSERT_EQ(pieces.size(), whole.size());
  for (std::size_t i = 0; i < whole.size(); ++i) EXPECT_TRUE(same(pieces[i], whole[i])) << i;
  std::vector<InputEvent> other = firstMinute(8);
  EXPECT_FALSE(other.size() == whole.size() &&
               std::equal(other.begin(), other.end(), whole.begin(), same));
}

// A wallpaper runs for weeks: the clock passes 2^32 ms under the hand,
// which plays on as from any other start, each event once and on time.
TEST(PlatformPilot, TheClockWrappingPast32BitsChangesNothing) {
  std::vector<InputEvent> fromZero = firstMinute(3);
  const DWORD start = 0xFFFFFFFFu - 30000;
  Autopilot hand(3);
  std::vector<InputEvent> events;
  for (DWORD t = start; t != start + 60000; t += 50) {
    std::size_t before = events.size();
    hand.take(t, events);
    for (std::size_t i = before; i < events.size(); ++i)
      ASSERT_LT(t - events[i].time, 50u) << "an event played late or early at " << t;
  }
  hand.take(start + 60000, events);
  ASSERT_EQ(events.size(), fromZero.size());
  for (std::size_t i = 0; i < events.size(); ++i) {
    InputEvent shifted = fromZero[i];
    shifted.time += start;
    EXPECT_TRUE(same(events[i], shifted)) << i;
  }
}

// Ten minutes asleep in the middle of a stroke: the hand plays nothing it
// missed and goes on with its plan where the stall found it.
TEST(PlatformPilot, AStallMovesThePlanUpByItsLength) {
  const DWORD stall = 600000;
  Autopilot steady(5);
  std::vector<InputEvent> expected = play(steady, 0, 20000, 50);
  Autopilot stalled(5);
  std::vector<InputEvent> events = play(stalled, 0, 10000, 50);
  std::size_t beforeStall = events.size();
  stalled.take(10000 + stall, events);
  EXPECT_EQ(events.size(), beforeStall) << "the stall's gestures were played at once";
  for (DWORD t = 10050 + stall; t <= 20000 + stall; t += 50) stalled.take(t, events);
  ASSERT_EQ(events.size(), expected.size());
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (expected[i].time > 10000) expected[i].time += stall;
    EXPECT_TRUE(same(events[i], expected[i])) << i;
  }
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

// The starting keys come before any other input, the inner backend's
// first events included, at the time of the earliest, so that a recording
// keeps its times in order; a held button reads as down.
TEST(PlatformPilot, StartingKeysComeFirstAndHeldButtonsReadDown) {
  headless::HeadlessSession session;
  session.backend().setTime(5000);
  session.backend().setScript(
      {{Kind::MouseMove, 0, 10, 20, 4000}, {Kind::KeyDown, 'D', 0, 0, 4500}});
  PilotBackend hand(session.backend());
  hand.pressAtStart({'3', VK_SPACE});
  hand.fly(1);
  std::vector<InputEvent> events;
  hand.takeInput(events);
  hand.idle(std::nullopt);
  ASSERT_GE(events.size(), 6u);
  EXPECT_TRUE(events[0].kind == Kind::KeyDown && events[0].key == '3');
  EXPECT_TRUE(events[1].kind == Kind::KeyUp && events[1].key == '3');
  EXPECT_TRUE(events[2].kind == Kind::KeyDown && events[2].key == VK_SPACE);
  EXPECT_TRUE(events[3].kind == Kind::KeyUp && events[3].key == VK_SPACE);
  EXPECT_EQ(events[4].kind, Kind::MouseMove);
  EXPECT_EQ(events[5].key, 'D');
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(events[i].time, 4000u) << i;
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
