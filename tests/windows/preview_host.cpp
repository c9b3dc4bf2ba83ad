// Plays the Screen Saver Settings dialog's part for Nebla.scr /p: a small
// window whose handle the screensaver gets. Once the screensaver's window
// is in it, the host says "shown", waits SECONDS and then, as MODE says:
// - resize (the default): makes itself twice as large and waits for the
//   screensaver's window to follow, waits SECONDS again and closes;
// - close: sends WM_CLOSE to the screensaver's window;
// - orphan: destroys the screensaver's window and lives on (it hands the
//   window to a window of its own and destroys that, since a window of
//   another process cannot be destroyed directly).
// Then it waits for the screensaver to end and says how long that took.
// Exits 0 when the screensaver did as asked and ended by itself with status
// 0 (within a second after close or orphan, which leaves no time for the
// outro's 1.8 s), 1 otherwise.
// Usage: preview_host SCREENSAVER SECONDS [MODE]
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Answers messages for a while, or until `done` says so.
template <typename Done>
bool pumpFor(DWORD milliseconds, Done done) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    if (done()) return true;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return false;
}

void say(const char* what) {
  std::printf("%s\n", what);
  std::fflush(stdout);
}

HWND makePreview() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  wc.lpszClassName = L"PreviewHost";
  RegisterClassW(&wc);
  return CreateWindowExW(0, L"PreviewHost", L"Preview host", WS_POPUP | WS_VISIBLE, 100, 100, 152,
                         112, nullptr, nullptr, wc.hInstance, nullptr);
}

// Makes the preview twice as large; true when the screensaver's window
// followed.
bool resize(HWND preview, DWORD wait) {
  SetWindowPos(preview, nullptr, 100, 100, 304, 224, SWP_NOZORDER);
  bool followed = pumpFor(wait, [&] {
    RECT inner{};
    GetClientRect(GetWindow(preview, GW_CHILD), &inner);
    return inner.right == 304 && inner.bottom == 224;
  });
  say(followed ? "followed the size" : "did not follow the size");
  pumpFor(wait, [] { return false; });
  DestroyWindow(preview);
  return followed;
}

// Takes the screensaver's window away from the preview and destroys it
// with a window of the host's; true when it is gone and the preview lives.
bool orphan(HWND preview) {
  HWND child = GetWindow(preview, GW_CHILD);
  HWND holder = CreateWindowExW(0, L"PreviewHost", L"Holder", WS_POPUP, 0, 0, 10, 10, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  SetParent(child, holder);
  DestroyWindow(holder);
  bool gone = pumpFor(5000, [&] { return !IsWindow(child); });
  say(gone && IsWindow(preview) ? "destroyed its window" : "could not destroy its window");
  return gone && IsWindow(preview);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) return 2;
  DWORD wait = static_cast<DWORD>(std::atoi(argv[2])) * 1000;
  std::string mode = argc == 4 ? argv[3] : "resize";
  HWND preview = makePreview();
  std::string command = std::string("\"") + argv[1] + "\" /p " +
                        std::to_string(reinterpret_cast<std::uintptr_t>(preview));
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::printf("cannot start %s\n", command.c_str());
    return 1;
  }
  auto never = [] { return false; };
  if (!pumpFor(30000, [&] { return GetWindow(preview, GW_CHILD) != nullptr; })) {
    say("no window in the preview");
    TerminateProcess(process.hProcess, 1);
    return 1;
  }
  say("shown");
  pumpFor(wait, never);
  bool done = true;
  DWORD asked = GetTickCount();
  if (mode == "close")
    PostMessageW(GetWindow(preview, GW_CHILD), WM_CLOSE, 0, 0);
  else if (mode == "orphan")
    done = orphan(preview);
  else
    done = resize(preview, wait);
  bool ended = pumpFor(15000, [&] { return WaitForSingleObject(process.hProcess, 0) == 0; });
  DWORD took = GetTickCount() - asked;
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  if (!ended) TerminateProcess(process.hProcess, 1);
  std::printf("screensaver %s after %lu ms, status %lu\n", ended ? "ended" : "still running", took,
              status);
  bool prompt = mode == "resize" || took < 1000;
  return done && ended && prompt && status == 0 ? 0 : 1;
}
