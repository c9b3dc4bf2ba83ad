// Fault injection: tests and the capture tool make any platform call fail
// with a chosen result at a chosen occurrence.
//
// Every platform call asks checkFault with its own name on entry. What a
// failing call does when the rule carries no result (and what the rule's
// result means when it does):
// - DirectDraw calls returning HRESULT: DDERR_GENERIC (the result is the
//   HRESULT returned). Nothing is created or changed; out-pointers are null.
// - AddRef and Release of DirectDraw objects: nothing changes; the current
//   count is returned (or the result).
// - Calls whose failure the program reads through GetLastError
//   (RegisterClassA, CreateWindowExA, CreateCompatibleDC, LoadImageA,
//   LoadIconA, LoadCursorA, GetModuleHandleA): 0 or null, and the last error
//   becomes ERROR_NOT_ENOUGH_MEMORY (or the result).
// - SelectObject: HGDI_ERROR (or the result as the returned handle).
// - SetTextColor, SetBkColor: CLR_INVALID (or the result).
// - SetTimer, GetDIBColorTable, DefWindowProcA, DispatchMessageA (the window
//   procedure is not called), GetTickCount, GetAsyncKeyState, GetKeyState,
//   GetSystemMetrics: 0 (or the result).
// - ShowCursor: the counter does not move; its value is returned (or the
//   result).
// - PeekMessageA: FALSE without taking a message or letting time pass (or
//   the result, with the message record untouched).
// - Other BOOL calls (UnregisterClassA, ShowWindow, DestroyWindow,
//   KillTimer, TranslateMessage, DeleteDC, DeleteObject, StretchBlt,
//   TextOutA, PostMessageA): FALSE (or the result); nothing is done.
// - PostQuitMessage: nothing is posted.
// - HeapAlloc: null with ERROR_NOT_ENOUGH_MEMORY (or the result as the error).
// GetLastError, SetLastError and HeapFree never fail.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace nebla::platform {

struct FaultRule {
  std::string call;                    // platform call name, e.g. "Lock"
  std::uint32_t occurrence = 0;        // 1-based occurrence to fail; 0 fails every call
  std::optional<std::int64_t> result;  // what the call reports; empty: its usual failure
};

// Tests and the capture tool add rules before a run; calls count from the
// last clearFaults().
void injectFault(const FaultRule& rule);

// Parses "CALL[#N][=RESULT]" (RESULT decimal or 0x hex); false if malformed
// or if CALL names no platform call that can fail (a typo would otherwise
// make a run that tests nothing look like a pass).
bool parseFaultRule(std::string_view text, FaultRule& rule);

// The names of every platform call that asks checkFault, sorted.
std::span<const std::string_view> faultableCalls();

// Forgets every rule and every call count.
void clearFaults();

// Every platform call asks this on entry: counts the call and returns the
// rule that makes this occurrence fail, if any. The inner optional is the
// chosen result (empty: the call's usual failure).
std::optional<std::optional<std::int64_t>> checkFault(std::string_view call);

// How often a call has been made since the last clearFaults().
std::uint32_t callCount(std::string_view call);

// Number of platform calls made since the process started; never reset.
// GetTickCount compares it between its calls to notice busy waits.
std::uint64_t platformCallSerial();

// The platform calls' entry check in one line: empty when the call goes on,
// otherwise the value the call reports (the rule's result converted to T,
// or `usual` when the rule has none).
template <typename T>
std::optional<T> injectedFault(std::string_view call, T usual) {
  auto fault = checkFault(call);
  if (!fault) return std::nullopt;
  return fault->has_value() ? static_cast<T>(**fault) : usual;
}

}  // namespace nebla::platform
