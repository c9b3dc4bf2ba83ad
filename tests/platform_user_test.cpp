// The window manager: classes, windows and their synchronous messages, the
// queue's order, timers, key state, the pointer counter and the clock.
#include <vector>

#include "platform/kernel.h"
#include "platform_support.h"

namespace nebla::platform::testing {
namespace {

struct Seen {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

std::vector<Seen> seen;
void* createParam = nullptr;

LRESULT record(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) createParam = reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams;
  seen.push_back({message, wParam, lParam});
  return 0;
}

LRESULT refuseCreation(HWND, UINT message, WPARAM, LPARAM) { return message == WM_CREATE ? -1 : 0; }

class PlatformUser : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    seen.clear();
    createParam = nullptr;
  }

  static WNDCLASSA windowClass(const char* name, WNDPROC proc = record) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.lpszClassName = name;
    return wc;
  }

  HWND window() {
    WNDCLASSA wc = windowClass("TestClass");
    EXPECT_NE(RegisterClassA(&wc), 0);
    return CreateWindowExA(0, "TestClass", "Test", WS_POPUP, 0, 0, 64, 48, nullptr, nullptr,
                           nullptr, &seen);
  }

  std::vector<UINT> drain() {
    std::vector<UINT> out;
    MSG msg{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) out.push_back(msg.message);
    return out;
  }

  void script(std::vector<InputEvent> events) { backend().setScript(std::move(events)); }
};

TEST_F(PlatformUser, ClassesRegisterOnceAndUnregisterWhenUnused) {
  WNDCLASSA wc = windowClass("Some");
  ATOM atom = RegisterClassA(&wc);
  EXPECT_NE(atom, 0);
  WNDCLASSA same = windowClass("SOME");
  EXPECT_EQ(RegisterClassA(&same), 0) << "names ignore case";
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
  HWND w = CreateWindowExA(0, "some", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(UnregisterClassA("Some", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
  EXPECT_TRUE(DestroyWindow(w));
  EXPECT_TRUE(UnregisterClassA("Some", nullptr));
  EXPECT_FALSE(UnregisterClassA("Some", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_CLASS_DOES_NOT_EXIST);
  EXPECT_EQ(
      CreateWindowExA(0, "Some", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
      nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
}

TEST_F(PlatformUser, CreationShowingAndDestructionSendTheirMessagesAtOnce) {
  HWND w = window();
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, WM_CREATE);
  EXPECT_EQ(createParam, &seen);
  EXPECT_TRUE(backend().windowOpen());
  EXPECT_EQ(backend().windowTitle(), "Test");

  EXPECT_FALSE(ShowWindow(w, SW_SHOW));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].message, WM_ACTIVATEAPP);
  EXPECT_EQ(seen[1].wParam, 1u);
  EXPECT_TRUE(ShowWindow(w, SW_SHOW));
  EXPECT_EQ(seen.size(), 2u) << "already active";

  ASSERT_EQ(SetTimer(w, 1, 50, nullptr), 1u);
  ASSERT_TRUE(PostMessageA(w, WM_KEYDOWN, 'C', 0));
  EXPECT_TRUE(DestroyWindow(w));
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[2].message, WM_ACTIVATEAPP);
  EXPECT_EQ(seen[2].wParam, 0u);
  EXPECT_EQ(seen[3].message, WM_DESTROY);
  EXPECT_FALSE(backend().windowOpen());
  backend().setTime(500);
  EXPECT_TRUE(drain().empty()) << "its timer and messages went with it";
  EXPECT_FALSE(DestroyWindow(w));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);

  WNDCLASSA refusing = windowClass("Refusing", refuseCreation);
  ASSERT_NE(RegisterClassA(&refusing), 0);
  EXPECT_EQ(
      CreateWindowExA(0, "Refusing", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
      nullptr);
}

TEST_F(PlatformUser, QueueGivesPostedAndInputThenQuitThenTimer) {
  HWND w = window();
  ASSERT_EQ(SetTimer(w, 1, 50, nullptr), 1u);
  script({{InputEvent::Kind::KeyDown, 'C', 0, 0, 10}, {InputEvent::Kind::Close, 0, 0, 0, 20}});
  backend().setTime(60);
  PostQuitMessage(3);
  ASSERT_TRUE(PostMessageA(w, 0x400, 0, 0));
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, 0x400u) << "looking takes nothing";
  std::vector<UINT> order = drain();
  EXPECT_EQ(order, (std::vector<UINT>{0x400, WM_KEYDOWN, WM_CLOSE, WM_QUIT, WM_TIMER}));
}

TEST_F(PlatformUser, TimerTicksDoNotPileUpAndIdleTimeJumpsToTheNextTick) {
  HWND w = window();
  ASSERT_EQ(SetTimer(w, 1, 50, nullptr), 1u);
  MSG msg{};
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(GetTickCount(), 50u) << "nothing to do: the clock moves to the tick";
  backend().setTime(175);  // three periods passed without a look at the queue
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_TIMER);
  EXPECT_EQ(msg.wParam, 1u);
  EXPECT_EQ(msg.time, 175u);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "one tick, not three";
  EXPECT_EQ(GetTickCount(), 225u) << "next tick one period after the one taken";
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(DispatchMessageA(&msg), 0);
  EXPECT_EQ(seen.back().message, WM_TIMER);

  script({{InputEvent::Kind::MouseMove, 0, 3, 4, 240}});
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(GetTickCount(), 240u) << "an input event before the tick stops the jump there";
  EXPECT_TRUE(KillTimer(w, 1));
  EXPECT_FALSE(KillTimer(w, 1));
}

TEST_F(PlatformUser, KeyStateFollowsTheQueueAsyncStateFollowsTheKeyboard) {
  window();
  script({{InputEvent::Kind::KeyDown, VK_SHIFT, 0, 0, 10},
          {InputEvent::Kind::KeyUp, VK_SHIFT, 0, 0, 20}});
  backend().setTime(10);
  EXPECT_NE(GetAsyncKeyState(VK_SHIFT) & 0x8000, 0);
  EXPECT_EQ(GetKeyState(VK_SHIFT) & 0x8000, 0) << "its message is not taken yet";
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_KEYDOWN);
  EXPECT_NE(GetKeyState(VK_SHIFT) & 0x8000, 0);
  EXPECT_EQ(GetKeyState(VK_SHIFT) & 1, 1) << "toggled by the press";
  backend().setTime(20);
  EXPECT_EQ(GetAsyncKeyState(VK_SHIFT) & 0x8000, 0);
  EXPECT_NE(GetKeyState(VK_SHIFT) & 0x8000, 0);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_KEYUP);
  EXPECT_EQ(GetKeyState(VK_SHIFT), 1);
}

TEST_F(PlatformUser, PointerAndButtonsBecomeMessagesWithPosition) {
  window();
  script({{InputEvent::Kind::MouseMove, 0, 300, 200, 0},
          {InputEvent::Kind::LeftDown, 0, 0, 0, 0},
          {InputEvent::Kind::RightDown, 0, 0, 0, 0},
          {InputEvent::Kind::LeftUp, 0, 0, 0, 0}});
  MSG msg{};
  std::vector<MSG> got;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) got.push_back(msg);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].message, WM_MOUSEMOVE);
  EXPECT_EQ(got[0].lParam, 300 | (200 << 16));
  EXPECT_EQ(got[1].message, WM_LBUTTONDOWN);
  EXPECT_EQ(got[1].wParam, MK_LBUTTON);
  EXPECT_EQ(got[1].lParam, 300 | (200 << 16));
  EXPECT_EQ(got[2].message, WM_RBUTTONDOWN);
  EXPECT_EQ(got[2].wParam, MK_LBUTTON | MK_RBUTTON);
  EXPECT_EQ(got[3].message, WM_LBUTTONUP);
  EXPECT_EQ(got[3].wParam, MK_RBUTTON);
}

TEST_F(PlatformUser, FocusChangesAreSentToTheWindowProcedureNotQueued) {
  HWND w = window();
  ShowWindow(w, SW_SHOW);
  seen.clear();
  script({{InputEvent::Kind::FocusLost, 0, 0, 0, 5}, {InputEvent::Kind::FocusGained, 0, 0, 0, 6}});
  backend().setTime(5);
  EXPECT_TRUE(drain().empty());
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, WM_ACTIVATEAPP);
  EXPECT_EQ(seen[0].wParam, 0u);
  backend().setTime(6);
  EXPECT_TRUE(drain().empty());
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].wParam, 1u);
}

TEST_F(PlatformUser, CursorCounterShowsThePointerFromZeroUp) {
  EXPECT_EQ(ShowCursor(FALSE), -1);
  EXPECT_FALSE(backend().pointerVisible());
  EXPECT_EQ(ShowCursor(FALSE), -2);
  EXPECT_EQ(ShowCursor(TRUE), -1);
  EXPECT_FALSE(backend().pointerVisible());
  EXPECT_EQ(ShowCursor(TRUE), 0);
  EXPECT_TRUE(backend().pointerVisible());
  EXPECT_EQ(ShowCursor(TRUE), 1);
}

TEST_F(PlatformUser, RepeatedClockReadingsAreABusyWait) {
  EXPECT_EQ(GetTickCount(), 0u);
  EXPECT_EQ(GetTickCount(), 0u) << "two readings in a row measure, they do not wait";
  EXPECT_EQ(GetTickCount(), 1u);
  EXPECT_EQ(GetTickCount(), 2u);
  GetAsyncKeyState(VK_ESCAPE);
  EXPECT_EQ(GetTickCount(), 2u) << "another call in between ends the wait";
  EXPECT_EQ(GetTickCount(), 2u);
  DWORD start = GetTickCount();
  while (GetTickCount() < start + 2000) {
  }
  EXPECT_EQ(GetTickCount(), start + 2001);
}

}  // namespace
}  // namespace nebla::platform::testing
