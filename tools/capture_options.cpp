// The capture tool's command line: every value is checked here, before
// anything runs.
#include "capture_options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "effects/user_text.h"
#include "platform/headless/headless.h"
#include "platform/headless/script.h"

namespace nebla::tools {

namespace {

constexpr const char* kOptionsText =
    "usage: nebla-capture [options]\n"
    "Runs Nebla headless and captures what it shows.\n"
    "  --script FILE       timed input events (nebla-capture(1) gives the format); without it, no "
    "input\n"
    "  --text FILE         the text writer spells FILE (UTF-8, - for standard input)\n"
    "                      instead of its own text\n"
    "  --text-literal WORDS  the writer spells WORDS (\\n in them starts a new line)\n"
    "  --text-program COMMAND  the writer spells what the shell command prints\n"
    "                      (within 10 s and 1 MiB; not in the WebAssembly and Windows builds)\n"
    "  --text-mode MODE    own, literal, file or program: which of the three above to\n"
    "                      use, the others ignored; without it, give at most one\n"
    "  --frames N          after N frame steps Escape is held, so the run ends normally\n"
    "  --seconds S         hold Escape after S seconds of virtual time (default %u\n"
    "                      when neither --frames nor --seconds is given)\n"
    "  --png DIR           write presented frames as DIR/frame-00001.png ...\n"
    "  --every K           with --png, keep every K-th frame (default 1)\n"
    "  --video FILE        write the frames into FILE.mp4 (H.264), .webm (VP9) or .gif\n"
    "                      through ffmpeg, each at its virtual time (50 frames a second)\n"
    "  --scale K           with --video, enlarge K times (1 to 4) with sharp pixels\n"
    "  --record FILE       write the input the program gets back out as a script\n"
    "  --autopilot SEED    a virtual hand sprays, draws, blows and changes colours, the\n"
    "                      same for the same SEED (0 to 4294967295), after any --script\n"
    "  --hash              print 'frames N hash H' over every presented frame\n"
    "  --fail CALL[#N][=R] make platform call CALL fail (at its N-th call, with result R)\n"
    "  --time              print how long the run took and the frame steps per second\n"
    "  --version           the version\n"
    "  --help              this text\n"
    "A run also ends once the script is over and no frame step can follow (the\n"
    "program inactive, or %u s of virtual time without one); it says why on stderr.\n"
    "Exit status:\n"
    "  %d  done\n"
    "  %d  the program could not start, or a frame file or the video could not be written\n"
    "  %d  a bad command line, script or output; nothing ran\n"
    "  %d  the run ended before its N frame steps\n"
    "  %d  the program could not end (no frame for %u s of real time, or still going\n"
    "     %u s of virtual time after Escape was held) and was given up\n";

}  // namespace

std::string captureUsage() {
  char text[4096];
  std::snprintf(text, sizeof text, kOptionsText, kDefaultLimitSeconds,
                static_cast<unsigned>(platform::headless::kStallMs / 1000), kExitDone, kExitFailed,
                kExitRefused, kExitShort, kExitGivenUp, kStuckSeconds, kEndingSeconds);
  return text;
}

namespace {

// Whole decimal numbers only: no sign, no spaces, no trailing text.
bool parseCount(std::string_view text, std::uint32_t& value) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (n == 0 || n > 0xFFFFFFFFu) return false;
  value = static_cast<std::uint32_t>(n);
  return true;
}

// Seconds as a plain decimal, from 1 ms up to 24 days (the clock's half
// range), rounded up to whole milliseconds.
bool parseSeconds(const std::string& text, std::uint32_t& ms) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
  char* end = nullptr;
  double seconds = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(seconds)) return false;
  double rounded = std::ceil(seconds * 1000.0);
  if (rounded < 1.0 || rounded > 2073600000.0) return false;
  ms = static_cast<std::uint32_t>(rounded);
  return true;
}

// Any 32-bit number, 0 included.
bool parseSeed(std::string_view text, std::uint32_t& value) {
  if (text == "0") {
    value = 0;
    return true;
  }
  return parseCount(text, value);
}

std::string knownCalls() {
  std::string names;
  for (std::string_view call : platform::faultableCalls()) names += " " + std::string(call);
  return names;
}

bool takesValue(std::string_view arg) {
  return arg == "--script" || arg == "--text" || arg == "--text-literal" ||
         arg == "--text-program" || arg == "--text-mode" || arg == "--frames" ||
         arg == "--seconds" || arg == "--png" || arg == "--every" || arg == "--fail" ||
         arg == "--video" || arg == "--scale" || arg == "--record" || arg == "--autopilot";
}

// One option with its value; false with a reason in message.
bool applyValue(std::string_view arg, const std::string& value, bool filesBuilt,
                CaptureOptions& options, std::string& message) {
  std::uint32_t n = 0;
  platform::FaultRule rule;
  bool good = !value.empty();
  if (arg == "--script" || arg == "--text") {
    (arg == "--script" ? options.script : options.text) = value;
  } else if (arg == "--text-literal" || arg == "--text-program") {
    (arg == "--text-literal" ? options.textLiteral : options.textProgram) = value;
  } else if (arg == "--text-mode" && (good = effects::isTextMode(value))) {
    options.textMode = value;
  } else if (arg == "--frames" && (good = parseCount(value, n))) {
    options.frames = n;
  } else if (arg == "--seconds" && (good = parseSeconds(value, n))) {
    options.limitMs = n;
  } else if (arg == "--every" && (good = parseCount(value, n))) {
    options.every = n;
  } else if (arg == "--autopilot" && (good = parseSeed(value, n))) {
    options.autopilot = n;
  } else if (arg == "--scale" && (good = parseCount(value, n) && n <= 4)) {
    options.scale = n;
  } else if (arg == "--png" || arg == "--video") {
    if (!filesBuilt) {
      message = std::string(arg) + (arg == "--png" ? " DIR" : " FILE") +
                ": this build writes no PNG files or videos; the Linux build does";
      return false;
    }
    if (arg == "--video" && !videoFormatOf(value)) {
      message = "--video " + platform::headless::quoted(value) +
                ": want a name ending in .mp4, .webm or .gif";
      return false;
    }
    (arg == "--png" ? options.pngDir : options.video) = value;
  } else if (arg == "--record") {
    options.record = value;
  } else if (arg == "--fail" && !(good = platform::parseFaultRule(value, rule))) {
    message = "bad fault rule " + platform::headless::quoted(value) +
              ": want CALL[#N][=RESULT], CALL one of:" + knownCalls();
    return false;
  } else if (arg == "--fail") {
    options.faults.push_back(rule);
  }
  if (!good)
    message = "bad value for " + std::string(arg) + ": " + platform::headless::quoted(value);
  return good;
}

// At most one text source, the one --text-mode names.
bool pickText(CaptureOptions& options, std::string& message) {
  effects::TextChoice choice{options.text, options.textLiteral, options.textProgram,
                             options.textMode};
  if (!effects::pickTextSource(choice, message)) return false;
  options.text = choice.file;
  options.textLiteral = choice.literal;
  options.textProgram = choice.program;
  return true;
}

}  // namespace

ParseResult parseCaptureOptions(int argc, const char* const* argv, bool filesBuilt,
                                CaptureOptions& options, std::string& message) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help") return ParseResult::Help;
    if (arg == "--version") return ParseResult::Version;
    if (arg == "--hash" || arg == "--time") {
      (arg == "--hash" ? options.hash : options.time) = true;
      continue;
    }
    if (!takesValue(arg)) {
      message =
          "unknown option: " + platform::headless::quoted(arg) + " (--help lists the options)";
      return ParseResult::Refused;
    }
    if (i + 1 >= argc) {
      message = std::string(arg) + " needs a value";
      return ParseResult::Refused;
    }
    if (!applyValue(arg, argv[++i], filesBuilt, options, message)) return ParseResult::Refused;
  }
  if (!pickText(options, message)) return ParseResult::Refused;
  if (options.scale != 1 && options.video.empty()) {
    message = "--scale applies to --video only";
    return ParseResult::Refused;
  }
  if (!options.frames && !options.limitMs) options.limitMs = kDefaultLimitSeconds * 1000;
  return ParseResult::Run;
}

}  // namespace nebla::tools
