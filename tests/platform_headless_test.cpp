// The headless backend (clock, scripted input, escape after flips, frame
// hand-over) and the input script format.
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <utility>

#include "platform/headless/script.h"
#include "platform/headless/session_recorder.h"
#include "platform/kernel.h"
#include "platform_support.h"

namespace nebla::platform::testing {
namespace {

using headless::parseScript;
using Kind = InputEvent::Kind;
using PlatformHeadless = PlatformTest;

TEST_F(PlatformHeadless, EscapeReadsDownAfterTheChosenNumberOfFlips) {
  backend().setEscapeAfterFlips(2);
  IDirectDraw* dd = openDisplay(4, 4);
  IDirectDrawSurface* front = primary(dd);
  ASSERT_EQ(front->SetPalette(palette(dd, blueRamp())), DD_OK);
  EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0) << "a palette change is not a flip";
  ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0);
  ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  EXPECT_NE(GetAsyncKeyState(VK_ESCAPE) & 0x8000, 0);
  EXPECT_EQ(backend().flipCount(), 2u);
  EXPECT_EQ(backend().presentCount(), 3u);
  dd->Release();
}

TEST_F(PlatformHeadless, ResetStartsTheClockAndInputAfresh) {
  backend().setScript({{Kind::KeyDown, 'Q', 0, 0, 0}, {Kind::KeyDown, 'C', 0, 0, 100}});
  EXPECT_NE(GetAsyncKeyState('Q') & 0x8000, 0) << "events at time 0 are due at once";
  backend().setTime(1000);
  EXPECT_NE(GetAsyncKeyState('C') & 0x8000, 0);
  backend().reset();
  EXPECT_EQ(GetTickCount(), 0u);
  EXPECT_EQ(GetAsyncKeyState('Q'), 0);
  std::vector<InputEvent> pending;
  backend().takeInput(pending);
  EXPECT_TRUE(pending.empty());
}

TEST_F(PlatformHeadless, IdleJumpsAcrossTheClockWrap) {
  backend().setTime(0xFFFFFFF0u);
  backend().idle(0x00000010u);
  EXPECT_EQ(backend().now(), 0x10u);
  backend().idle(std::nullopt);
  EXPECT_EQ(backend().now(), 0x11u) << "with nothing ahead time still moves";
}

// What the capture tool relies on so that no run can go on for ever.
TEST_F(PlatformHeadless, EscapeIsHeldAtTheVirtualTimeLimitNotBefore) {
  backend().setTime(0xFFFFFF00u);
  backend().setTimeLimit(1000);
  backend().idle(0xFFFFFF00u + 999u);
  EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0) << "setting the clock is not time passing";
  backend().idle(std::nullopt);
  EXPECT_NE(GetAsyncKeyState(VK_ESCAPE) & 0x8000, 0) << "the limit counts across the clock wrap";
  EXPECT_EQ(backend().stopReason(), headless::StopReason::TimeLimit);
}

TEST_F(PlatformHeadless, AScriptThatEndsInactiveStopsTheRunOnceTheProgramHasTheEvent) {
  backend().setStopWhenIdle(true);
  backend().setScript({{Kind::FocusLost, 0, 0, 0, 100},
                       {Kind::FocusGained, 0, 0, 0, 200},
                       {Kind::FocusLost, 0, 0, 0, 300}});
  backend().idle(std::nullopt);
  backend().setTime(250);
  std::vector<InputEvent> taken;
  backend().takeInput(taken);
  EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0) << "focus came back; more events are ahead";
  backend().setTime(300);
  EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0) << "due, but not yet handed to the program";
  backend().takeInput(taken);
  EXPECT_NE(GetAsyncKeyState(VK_ESCAPE) & 0x8000, 0);
  EXPECT_EQ(backend().stopReason(), headless::StopReason::Inactive);
}

TEST_F(PlatformHeadless, AnActiveRunStopsOnlyAfterThirtySecondsWithoutAFrameStep) {
  backend().setStopWhenIdle(true);
  IDirectDraw* dd = openDisplay(4, 4);
  IDirectDrawSurface* front = primary(dd);
  backend().idle(5000);
  ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  backend().idle(5000 + headless::kStallMs - 1);
  EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0) << "the stall counts from the last flip";
  backend().idle(std::nullopt);
  EXPECT_NE(GetAsyncKeyState(VK_ESCAPE) & 0x8000, 0);
  EXPECT_EQ(backend().stopReason(), headless::StopReason::Stalled);
  dd->Release();
}

TEST_F(PlatformHeadless, WithoutStopWhenIdleTheRunGoesOnAfterTheScript) {
  backend().setScript({{Kind::FocusLost, 0, 0, 0, 0}});
  std::vector<InputEvent> taken;
  backend().takeInput(taken);
  backend().idle(headless::kStallMs * 2);
  EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0);
  backend().stopNow();
  EXPECT_NE(GetAsyncKeyState(VK_ESCAPE) & 0x8000, 0);
  EXPECT_EQ(backend().stopReason(), headless::StopReason::Requested);
}

TEST(PlatformScript, ReadsEveryEventKind) {
  const char* text =
      "# a comment line\n"
      "\n"
      "0 key down esc\n"
      "5 key up q   # trailing comment\n"
      "5 key down space\r\n"
      "6 key down left\n7 key down up\n8 key down right\n9 key down down\n"
      "10 key down 0\n11 key down 9\n12 key down c\n13 key down d\n14 key down l\n"
      "15 key down m\n16 key down t\n17 key down shift\n"
      "20 mouse 639 479\n"
      "\t21   left down\n22 left up\n23 right down\n24 right up\n"
      "25 focus lost\n26 focus gained\n27 close\n";
  std::vector<InputEvent> e;
  std::string error;
  ASSERT_TRUE(parseScript(text, "in.script", e, error)) << error;
  ASSERT_EQ(e.size(), 23u);
  EXPECT_EQ(e[0].kind, Kind::KeyDown);
  EXPECT_EQ(e[0].key, VK_ESCAPE);
  EXPECT_EQ(e[1].kind, Kind::KeyUp);
  EXPECT_EQ(e[1].key, 'Q');
  EXPECT_EQ(e[1].time, 5u);
  const int keys[] = {VK_SPACE, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN, '0',     '9',
                      'C',      'D',     'L',   'M',      'T',     VK_SHIFT};
  for (int i = 0; i < 13; ++i) EXPECT_EQ(e[2 + i].key, keys[i]) << i;
  EXPECT_EQ(e[15].kind, Kind::MouseMove);
  EXPECT_EQ(e[15].x, 639);
  EXPECT_EQ(e[15].y, 479);
  const Kind rest[] = {Kind::LeftDown,  Kind::LeftUp,      Kind::RightDown, Kind::RightUp,
                       Kind::FocusLost, Kind::FocusGained, Kind::Close};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(e[16 + i].kind, rest[i]) << i;
  EXPECT_EQ(e[22].time, 27u);
}

TEST(PlatformScript, ErrorsNameTheFileAndLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"10 close\n5 close\n", "s:2: time 5 is before the previous event's 10"},
      {"\n# c\nx close\n", "s:3: bad time 'x'"},
      {"-1 close\n", "s:1: bad time '-1'"},
      {"1 key down f1\n", "s:1: unknown key 'f1'"},
      {"1 key down\n", "s:1: expected 'key down|up NAME'"},
      {"1 key press q\n", "s:1: unknown event 'key'"},
      {"1 key down q q\n", "s:1: expected 'key down|up NAME'"},
      {"1 mouse 3\n", "s:1: expected 'mouse X Y'"},
      {"1 mouse 3 y\n", "s:1: expected 'mouse X Y'"},
      {"1 mouse 3 99999\n", "s:1: mouse position out of range"},
      {"1 left down now\n", "s:1: unexpected text after the event"},
      {"1 close 2\n", "s:1: unexpected text after 'close'"},
      {"1 jump\n", "s:1: unknown event 'jump'"},
      {"1\n", "s:1: missing event after the time"},
      // Terminal escapes and other bytes from a damaged file stay inert.
      {"1 key down \x1b[2J\n", "s:1: unknown key '\\x1B[2J'"},
      {"\x80\\ close\n", "s:1: bad time '\\x80\\x5C'"},
      {"1 key down 0123456789012345678901234567890123456789x\n",
       "s:1: unknown key '0123456789012345678901234567890123456789...'"},
      {"1 text\n", "s:1: expected 'text \"WORDS\"' or 'text keyless'"},
      {"1 text \"hi\n", "s:1: the text's closing quote is missing"},
      {"1 text \"a\\\"\n", "s:1: the text's closing quote is missing"},
      {"1 text \"hi\" there\n", "s:1: unexpected text after the text's closing quote"},
      {"1 text \"\\q\"\n", "s:1: unknown escape in the text (\\\\ \\\" \\n \\t \\r \\xNN are known)"},
      {"1 text \"\\x4\"\n", "s:1: unknown escape in the text (\\\\ \\\" \\n \\t \\r \\xNN are known)"},
  };
  for (const Case& c : cases) {
    std::vector<InputEvent> e;
    std::string error;
    EXPECT_FALSE(parseScript(c.text, "s", e, error)) << c.text;
    EXPECT_EQ(error, c.error);
    EXPECT_TRUE(e.empty());
  }
}

// A NUL ends a C string, so a reader handed one would see less of the file
// than the capture tool does; the parser refuses it anywhere, even in a
// comment, so that no two readers can disagree.
TEST(PlatformScript, RefusesANulByteAnywhere) {
  using namespace std::string_literals;
  const std::pair<std::string, const char*> cases[] = {
      {"0 mouse 1 2\n# about\0 the rest\n5 close\n"s, "s:2: a NUL byte (a script is plain text)"},
      {"0 mouse 1 2\n\0"s, "s:2: a NUL byte (a script is plain text)"},
      {"0 close\0\n"s, "s:1: a NUL byte (a script is plain text)"},
  };
  for (const auto& [text, message] : cases) {
    std::vector<InputEvent> e;
    std::string error;
    EXPECT_FALSE(parseScript(text, "s", e, error)) << text.size();
    EXPECT_EQ(error, message);
    EXPECT_TRUE(e.empty());
  }
}

TEST(PlatformScript, LoadsFromAFile) {
  std::string path = ::testing::TempDir() + "platform_script_test.script";
  std::ofstream(path) << "0 mouse 1 2\n3 close\n";
  std::vector<InputEvent> e;
  std::string error;
  ASSERT_TRUE(headless::loadScript(path, e, error)) << error;
  EXPECT_EQ(e.size(), 2u);
  std::remove(path.c_str());
  EXPECT_FALSE(headless::loadScript(path, e, error));
  EXPECT_EQ(error, path + ": cannot read");
}

// Recording writes what parseScript reads back: every kind of event, every
// key the program reacts to, and times that never go back.
TEST(PlatformScript, RecordedEventsReadBackAsTheSameEvents) {
  std::vector<InputEvent> live = {
      {Kind::MouseMove, 0, 0, 479, 5},  {Kind::LeftDown, 0, 0, 0, 7},
      {Kind::LeftUp, 0, 0, 0, 9},       {Kind::RightDown, 0, 0, 0, 9},
      {Kind::RightUp, 0, 0, 0, 12},     {Kind::FocusLost, 0, 0, 0, 20},
      {Kind::FocusGained, 0, 0, 0, 30}, {Kind::KeylessText, 0, 0, 0, 30},
      {Kind::Close, 0, 0, 0, 4000000000u}};
  // Words that meet every escape: quotes, a backslash, a # that is no
  // comment, line ends, a tab, a control byte, bytes that are not UTF-8 and
  // UTF-8 that stays as it is.
  live.insert(live.begin() + 1, {Kind::Text, 0, 0, 0, 6,
                                 "\"Hi\" \\ #1\r\n\tbye\x1b \xC3\xA9\xE2\x98\x83 \xC3\x28 \xED\xA0\x80\xF4\x90\x80\x80"});
  DWORD t = 40;
  for (std::string_view name : {"esc", "q", "space", "left", "up", "right", "down", "0", "9", "c",
                                "d", "l", "m", "t", "shift"}) {
    ASSERT_EQ(headless::scriptKeyName(headless::scriptKeyCode(name)), name);
    live.insert(live.end() - 1, {{Kind::KeyDown, headless::scriptKeyCode(name), 0, 0, t},
                                 {Kind::KeyUp, headless::scriptKeyCode(name), 0, 0, t + 1}});
    t += 2;
  }
  std::string path = ::testing::TempDir() + "recorded.script";
  {
    headless::SessionRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.open(path, error)) << error;
    for (const InputEvent& e : live) recorder.record(e);
    recorder.record({Kind::KeyDown, 'A', 0, 0, 90});  // no key of the program: left out
    recorder.record({Kind::MouseMove, 0, 3, 4, 2});   // late: written at the last time
    EXPECT_EQ(recorder.events(), live.size() + 1);
    std::vector<InputEvent> sofar;
    ASSERT_TRUE(headless::loadScript(path, sofar, error)) << "flushed as it goes: " << error;
    EXPECT_EQ(sofar.size(), live.size() + 1);
  }
  std::vector<InputEvent> back;
  std::string error;
  ASSERT_TRUE(headless::loadScript(path, back, error)) << error;
  ASSERT_EQ(back.size(), live.size() + 1);
  for (std::size_t i = 0; i < live.size(); ++i) {
    EXPECT_EQ(back[i].kind, live[i].kind) << i;
    EXPECT_EQ(back[i].key, live[i].key) << i;
    EXPECT_EQ(back[i].time, live[i].time) << i;
    EXPECT_EQ(back[i].x, live[i].x) << i;
    EXPECT_EQ(back[i].y, live[i].y) << i;
    EXPECT_EQ(back[i].text, live[i].text) << i;
  }
  EXPECT_EQ(back.back().time, 4000000000u);
  EXPECT_EQ(back.back().x, 3);
  std::remove(path.c_str());
}

// The page keeps its recording in memory: the same heading and lines as a
// file, read back by the same parser.
TEST(PlatformScript, ARecordingIntoTextReadsBackAsTheScript) {
  std::string text;
  headless::SessionRecorder recorder;
  ASSERT_TRUE(recorder.start([&text](const std::string& piece) {
    text += piece;
    return true;
  }));
  recorder.record({Kind::MouseMove, 0, 10, 20, 5});
  recorder.record({Kind::KeyDown, 'A', 0, 0, 6});  // no key of the program: left out
  recorder.record({Kind::KeyDown, 'C', 0, 0, 3});  // late: written at the last time
  EXPECT_EQ(recorder.events(), 2u);
  EXPECT_EQ(text.rfind("# Nebla session", 0), 0u);
  std::vector<InputEvent> back;
  std::string error;
  ASSERT_TRUE(headless::parseScript(text, "page", back, error)) << error;
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].x, 10);
  EXPECT_EQ(back[1].key, 'C');
  EXPECT_EQ(back[1].time, 5u);
  EXPECT_FALSE(headless::SessionRecorder().start([](const std::string&) { return false; }));
}

TEST(PlatformScript, ARecordingThatCannotBeWrittenSaysWhyOnce) {
  headless::SessionRecorder recorder;
  std::string error;
  EXPECT_FALSE(recorder.open("/proc/nebla-recording.script", error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(recorder.open("/dev/full", error));
  EXPECT_EQ(error, "No space left on device");
  // A file that fills up part way: the process may write 200 bytes.
  std::string path = ::testing::TempDir() + "full.script";
  ASSERT_TRUE(recorder.open(path, error)) << error;
  std::vector<std::string> reports;
  recorder.setFailureReport([&](const std::string& reason) { reports.push_back(reason); });
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit tiny = old;
  tiny.rlim_cur = 200;
  setrlimit(RLIMIT_FSIZE, &tiny);
  for (DWORD t = 0; t < 100; ++t) recorder.record({Kind::MouseMove, 0, 100, 100, t});
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], "File too large");
  EXPECT_GT(recorder.events(), 0u);
  EXPECT_LT(recorder.events(), 10u);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace nebla::platform::testing
