// Fault rules and per-call counters for the platform layer.
#include "platform/fault.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <vector>

namespace nebla::platform {
namespace {

struct FaultState {
  std::vector<FaultRule> rules;
  std::map<std::string, std::uint32_t, std::less<>> counts;
  std::uint64_t serial = 0;
};

FaultState& state() {
  static FaultState s;
  return s;
}

bool parseNumber(std::string_view text, std::int64_t& value) {
  bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return false;
  value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

constexpr std::string_view kFaultableCalls[] = {
    "AddRef",
    "Blt",
    "BltFast",
    "CreateCompatibleDC",
    "CreatePalette",
    "CreateSurface",
    "CreateWindowExA",
    "DefWindowProcA",
    "DeleteDC",
    "DeleteObject",
    "DestroyWindow",
    "DirectDrawCreate",
    "DispatchMessageA",
    "Flip",
    "GetAsyncKeyState",
    "GetAttachedSurface",
    "GetDC",
    "GetDIBColorTable",
    "GetKeyState",
    "GetModuleHandleA",
    "GetSystemMetrics",
    "GetTickCount",
    "HeapAlloc",
    "KillTimer",
    "LoadCursorA",
    "LoadIconA",
    "LoadImageA",
    "Lock",
    "PeekMessageA",
    "PostMessageA",
    "PostQuitMessage",
    "RegisterClassA",
    "Release",
    "ReleaseDC",
    "Restore",
    "SelectObject",
    "SetBkColor",
    "SetBkMode",
    "SetCooperativeLevel",
    "SetDisplayMode",
    "SetPalette",
    "SetTextColor",
    "SetTimer",
    "ShowCursor",
    "ShowWindow",
    "StretchBlt",
    "TextOutA",
    "TranslateMessage",
    "Unlock",
    "UnregisterClassA",
};

}  // namespace

std::span<const std::string_view> faultableCalls() { return kFaultableCalls; }

void injectFault(const FaultRule& rule) { state().rules.push_back(rule); }

bool parseFaultRule(std::string_view text, FaultRule& rule) {
  rule = FaultRule{};
  auto eq = text.find('=');
  if (eq != std::string_view::npos) {
    std::int64_t value = 0;
    if (!parseNumber(text.substr(eq + 1), value)) return false;
    rule.result = value;
    text = text.substr(0, eq);
  }
  auto hash = text.find('#');
  if (hash != std::string_view::npos) {
    std::int64_t n = 0;
    if (!parseNumber(text.substr(hash + 1), n) || n < 1 || n > UINT32_MAX) return false;
    rule.occurrence = static_cast<std::uint32_t>(n);
    text = text.substr(0, hash);
  }
  if (!std::binary_search(std::begin(kFaultableCalls), std::end(kFaultableCalls), text))
    return false;
  rule.call = std::string(text);
  return true;
}

void clearFaults() {
  state().rules.clear();
  state().counts.clear();
}

std::optional<std::optional<std::int64_t>> checkFault(std::string_view call) {
  auto& s = state();
  ++s.serial;
  auto it = s.counts.find(call);
  if (it == s.counts.end()) it = s.counts.emplace(std::string(call), 0).first;
  std::uint32_t n = ++it->second;
  for (const auto& rule : s.rules) {
    if (rule.call == call && (rule.occurrence == 0 || rule.occurrence == n)) return rule.result;
  }
  return std::nullopt;
}

std::uint32_t callCount(std::string_view call) {
  auto& s = state();
  auto it = s.counts.find(call);
  return it == s.counts.end() ? 0 : it->second;
}

std::uint64_t platformCallSerial() { return state().serial; }

}  // namespace nebla::platform
