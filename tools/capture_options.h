// The capture tool's command line, parsed without side effects so that it
// can be tested and fuzzed on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/headless/headless.h"

namespace nebla::tools {

// Virtual time a run may take when neither --frames nor --seconds is given.
constexpr std::uint32_t kDefaultLimitSeconds = platform::headless::kScriptRunLimitMs / 1000;

enum class VideoFormat { Mp4, WebM, Gif };

// The format a file name asks for by its extension (case ignored).
std::optional<VideoFormat> videoFormatOf(const std::string& path);

struct CaptureOptions {
  std::string script;
  std::optional<std::uint32_t> frames;
  std::optional<std::uint32_t> limitMs;  // --seconds, in milliseconds
  std::string pngDir;
  std::uint32_t every = 1;
  std::string video;  // --video FILE: .mp4, .webm or .gif
  std::uint32_t scale = 1;
  std::string record;  // --record FILE: the input, written back as a script
  bool hash = false;
  bool time = false;
  std::vector<platform::FaultRule> faults;
};

enum class ParseResult { Run, Help, Refused };

extern const char* const kCaptureUsage;

// Fills options from argv[1..argc-1]. Refused leaves a one-line reason in
// message; nothing is read or written and no fault is installed. With
// filesBuilt false (the WebAssembly build), --png and --video are refused. Without --frames or
// --seconds the limit becomes kDefaultLimitSeconds.
ParseResult parseCaptureOptions(int argc, const char* const* argv, bool filesBuilt,
                                CaptureOptions& options, std::string& message);

}  // namespace nebla::tools
