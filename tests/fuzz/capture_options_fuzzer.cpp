// Fuzzes the capture tool's command line: the input is split at NUL bytes
// into arguments. Whatever they are, the parser runs, asks for help, or
// refuses with one printable line; what it accepts is within range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture_options.h"

namespace {

using namespace nebla::tools;

void check(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::string> splitArguments(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args{"nebla-capture"};
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  args.push_back(current);
  return args;
}

void checkAccepted(const CaptureOptions& o) {
  check(!o.frames || *o.frames > 0);
  check(o.frames || o.limitMs);
  check(!o.limitMs || (*o.limitMs >= 1 && *o.limitMs <= 2073600000u));
  check(o.every >= 1);
  check(o.scale >= 1 && o.scale <= 4);
  check(o.video.empty() ? o.scale == 1 : videoFormatOf(o.video).has_value());
  for (const auto& rule : o.faults) check(!rule.call.empty());
}

bool printableLine(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (c < 0x20 || c >= 0x7F) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args = splitArguments(data, size);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  for (bool filesBuilt : {true, false}) {
    CaptureOptions options;
    std::string message;
    ParseResult result = parseCaptureOptions(static_cast<int>(argv.size()), argv.data(), filesBuilt,
                                             options, message);
    if (result == ParseResult::Run) checkAccepted(options);
    if (result == ParseResult::Refused) check(printableLine(message));
    if (!filesBuilt && result == ParseResult::Run)
      check(options.pngDir.empty() && options.video.empty());
  }
  return 0;
}
