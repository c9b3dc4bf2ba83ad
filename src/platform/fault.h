// Fault injection: tests and the capture tool make any platform call fail
// with a chosen result at a chosen occurrence.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nebla::platform {

struct FaultRule {
  std::string call;              // platform call name, e.g. "Lock"
  std::uint32_t occurrence = 0;  // 1-based occurrence to fail; 0 fails every call
  std::optional<std::int64_t> result;  // what the call reports; empty: its usual failure
};

// Tests and the capture tool add rules before a run; calls count from the
// last clearFaults().
void injectFault(const FaultRule& rule);

// Parses "CALL[#N][=RESULT]" (RESULT decimal or 0x hex); false if malformed.
bool parseFaultRule(std::string_view text, FaultRule& rule);

// Forgets every rule and every call count.
void clearFaults();

// Every platform call asks this on entry: counts the call and returns the
// rule that makes this occurrence fail, if any. The inner optional is the
// chosen result (empty: the call's usual failure).
std::optional<std::optional<std::int64_t>> checkFault(std::string_view call);

// How often a call has been made since the last clearFaults().
std::uint32_t callCount(std::string_view call);

}  // namespace nebla::platform
