// The capture tool's command line, parsed without side effects so that it
// can be tested and fuzzed on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/fault.h"

namespace nebla::tools {

// Virtual time a run may take when neither --frames nor --seconds is given.
constexpr std::uint32_t kDefaultLimitSeconds = 600;

struct CaptureOptions {
  std::string script;
  std::optional<std::uint32_t> frames;
  std::optional<std::uint32_t> limitMs;  // --seconds, in milliseconds
  std::string pngDir;
  std::uint32_t every = 1;
  bool hash = false;
  bool time = false;
  std::vector<platform::FaultRule> faults;
};

enum class ParseResult { Run, Help, Refused };

extern const char* const kCaptureUsage;

// Fills options from argv[1..argc-1]. Refused leaves a one-line reason in
// message; nothing is read or written and no fault is installed. With
// pngBuilt false, --png is refused. Without --frames or --seconds the limit
// becomes kDefaultLimitSeconds.
ParseResult parseCaptureOptions(int argc, const char* const* argv, bool pngBuilt,
                                CaptureOptions& options, std::string& message);

}  // namespace nebla::tools
