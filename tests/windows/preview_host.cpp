// Plays the Screen Saver Settings dialog's part for Nebla.scr /p: a small
// window whose handle the screensaver gets. Once the screensaver's window
// is in it, the host says "shown", waits SECONDS, makes itself twice as
// large and waits for the screensaver's window to follow, waits SECONDS
// again and closes. Exits 0 when the screensaver's window followed the
// size and the screensaver then ended by itself, 1 otherwise.
// Usage: preview_host SCREENSAVER SECONDS
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  DWORD wait = static_cast<DWORD>(std::atoi(argv[2])) * 1000;
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
  SetWindowPos(preview, nullptr, 100, 100, 304, 224, SWP_NOZORDER);
  bool followed = pumpFor(wait, [&] {
    RECT inner{};
    GetClientRect(GetWindow(preview, GW_CHILD), &inner);
    return inner.right == 304 && inner.bottom == 224;
  });
  say(followed ? "followed the size" : "did not follow the size");
  pumpFor(wait, never);
  DestroyWindow(preview);
  DWORD waited = WaitForSingleObject(process.hProcess, 15000);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
  std::printf("screensaver %s, status %lu\n", waited == WAIT_OBJECT_0 ? "ended" : "still running",
              status);
  return followed && waited == WAIT_OBJECT_0 && status == 0 ? 0 : 1;
}
