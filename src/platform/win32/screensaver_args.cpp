// Parsing the screensaver's command line.
#include "platform/win32/screensaver_args.h"

#include <cctype>
#include <limits>
#include <optional>

namespace nebla::platform::win32 {
namespace {

std::optional<std::uintptr_t> handleNumber(const std::string& text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uintptr_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    auto digit = static_cast<std::uintptr_t>(c - '0');
    if (value > (std::numeric_limits<std::uintptr_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  if (value == 0) return std::nullopt;
  return value;
}

// The handle after "/p:" or in the next argument; `required` when the
// call cannot go without one.
ScreenSaverCall withHandle(ScreenSaverCall::Kind kind, const std::string& rest,
                           const std::vector<std::string>& args, bool required) {
  std::string text = rest;
  if (!text.empty() && text[0] == ':') text.erase(0, 1);
  if (text.empty() && args.size() > 1) text = args[1];
  if (text.empty()) return {required ? ScreenSaverCall::Kind::None : kind, 0};
  std::optional<std::uintptr_t> window = handleNumber(text);
  if (!window) return {};
  return {kind, *window};
}

}  // namespace

ScreenSaverCall parseScreenSaverArguments(const std::vector<std::string>& args) {
  using Kind = ScreenSaverCall::Kind;
  if (args.empty()) return {Kind::Configure, 0};
  const std::string& first = args[0];
  if (first.size() < 2 || (first[0] != '/' && first[0] != '-')) return {};
  char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(first[1])));
  std::string rest = first.substr(2);
  if (letter == 's' && rest.empty()) return {Kind::Run, 0};
  if (letter == 'p') return withHandle(Kind::Preview, rest, args, true);
  if (letter == 'c') return withHandle(Kind::Configure, rest, args, false);
  return {};
}

}  // namespace nebla::platform::win32
