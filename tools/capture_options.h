// The capture tool's command line, parsed without side effects so that it
// can be tested and fuzzed on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/headless/headless.h"
#include "video_format.h"

namespace nebla::tools {

// Virtual time a run may take when neither --frames nor --seconds is given.
constexpr std::uint32_t kDefaultLimitSeconds = platform::headless::kScriptRunLimitMs / 1000;

// How a run ends, as its exit status; --help and docs/capture.md list them.
enum ExitStatus : int {
  kExitDone = 0,
  kExitFailed = 1,   // the program could not start, or a frame or the video was not written
  kExitRefused = 2,  // a bad command line, script or output; nothing ran
  kExitShort = 3,    // the run ended before its --frames N frame steps
  kExitGivenUp = 4,  // the program could not end and was given up
};

// The guards behind kExitGivenUp: real time without a frame, and virtual
// time the program gets to end once Escape is held.
constexpr unsigned kStuckSeconds = 10;
constexpr std::uint32_t kEndingSeconds = 60;

struct CaptureOptions {
  std::string script;
  std::string text;         // --text FILE: the writer spells this file ("-": standard input)
  std::string textLiteral;  // --text-literal WORDS
  std::string textProgram;  // --text-program COMMAND
  std::string textMode;     // --text-mode: which of the three the run uses
  std::optional<std::uint32_t> frames;
  std::optional<std::uint32_t> limitMs;  // --seconds, in milliseconds
  std::string pngDir;
  std::uint32_t every = 1;
  std::string video;  // --video FILE: .mp4, .webm or .gif
  std::uint32_t scale = 1;
  std::string record;                      // --record FILE: the input, written back as a script
  std::optional<std::uint32_t> autopilot;  // --autopilot SEED: the virtual hand's seed
  bool hash = false;
  bool time = false;
  std::vector<platform::FaultRule> faults;
};

enum class ParseResult { Run, Help, Version, Refused };

// The --help text.
std::string captureUsage();

// Fills options from argv[1..argc-1]. Refused leaves a one-line reason in
// message; nothing is read or written and no fault is installed. With
// filesBuilt false (the WebAssembly and Windows builds), --png and --video are refused. Without
// --frames or
// --seconds the limit becomes kDefaultLimitSeconds.
ParseResult parseCaptureOptions(int argc, const char* const* argv, bool filesBuilt,
                                CaptureOptions& options, std::string& message);

}  // namespace nebla::tools
