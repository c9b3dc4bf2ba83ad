// nebla-capture: runs the program headless from an input script and keeps
// what it showed: PNG frames, a hash over every frame, the run's timing.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/entry.h"
#include "capture_options.h"
#include "effects/user_text.h"
#include "host.h"
#include "particles/helper_thread.h"
#include "platform/fault.h"
#include "platform/headless/frame_hash.h"
#include "platform/headless/headless.h"
#include "platform/headless/script.h"
#include "platform/headless/session_recorder.h"
#include "platform/pilot/pilot_backend.h"
#include "platform/user.h"
#include "progress.h"
#include "video_writer.h"

namespace {

using namespace nebla;
using platform::headless::PresentedFrame;

using tools::CaptureOptions;

// The frames' directory exists and takes files, or the run does not start.
bool prepareDirectory(const std::string& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error || !std::filesystem::is_directory(dir, error)) {
    std::fprintf(stderr, "nebla-capture: cannot create %s: %s\n", dir.c_str(),
                 error ? error.message().c_str() : "not a directory");
    return false;
  }
  std::string probe = dir + "/.nebla-capture-probe";
  std::FILE* file = std::fopen(probe.c_str(), "wb");
  bool writable = file != nullptr && std::fputc(0, file) != EOF;
  writable = file != nullptr && std::fclose(file) == 0 && writable;
  std::remove(probe.c_str());
  if (!writable) std::fprintf(stderr, "nebla-capture: cannot write in %s\n", dir.c_str());
  return writable;
}

class Recorder {
 public:
  explicit Recorder(const CaptureOptions& options) : options_(options) {}

  void operator()(const PresentedFrame& frame) {
    ++count_;
    if (options_.hash) hash_.add(frame);
    if (frame.fromFlip) ++flips_;
    // After a failed write the run is ending: no more files.
    if (!options_.pngDir.empty() && !writeFailed_ && count_ % options_.every == 0)
      writeFrame(frame);
  }

  std::uint32_t count() const { return count_; }
  std::uint32_t flips() const { return flips_; }
  std::uint64_t hash() const { return hash_.value; }
  bool failed() const { return writeFailed_; }

 private:
  void writeFrame(const PresentedFrame& frame) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%05u.png", count_);
    std::string path = options_.pngDir + "/" + name;
    if (!tools::host::writeFramePng(path, frame)) {
      std::fprintf(stderr, "nebla-capture: cannot write %s\n", path.c_str());
      writeFailed_ = true;
    }
  }

  const CaptureOptions& options_;
  std::uint32_t count_ = 0;
  std::uint32_t flips_ = 0;
  platform::headless::FrameHash hash_;
  bool writeFailed_ = false;
};

// The last guards against a run that cannot end, both for fault rules that
// take away what the program needs to quit. Failing PeekMessageA or
// GetTickCount every time keeps the program in a loop that presents
// nothing: the watchdog (host.h) gives such a run up. Failing
// GetAsyncKeyState or PostQuitMessage lets it run on without ending: the
// EndingGuard below.
tools::host::Pulse pulse;

// Virtual time the program gets to end (the outro takes seconds) once
// Escape is held; after that the run is given up, as above.
constexpr platform::DWORD kEndingMs = tools::kEndingSeconds * 1000;

// Gives up a run whose program goes on presenting frames long after it was
// asked to end.
class EndingGuard {
 public:
  explicit EndingGuard(const platform::headless::HeadlessBackend& backend) : backend_(backend) {}

  void operator()(const PresentedFrame& frame) {
    if (backend_.stopReason() == platform::headless::StopReason::None) return;
    if (!stoppedAt_) stoppedAt_ = frame.time;
    if (frame.time - *stoppedAt_ <= kEndingMs) return;
    std::fprintf(stderr,
                 "nebla-capture: the program did not end within %u s of virtual time of Escape "
                 "being held (a --fail rule?); giving up\n",
                 tools::kEndingSeconds);
    std::fflush(nullptr);
    std::_Exit(tools::kExitGivenUp);
  }

 private:
  const platform::headless::HeadlessBackend& backend_;
  std::optional<platform::DWORD> stoppedAt_;
};

// The script's first event that makes the program end by itself: the close
// button, or Escape or Q pressed.
std::optional<platform::InputEvent> firstEnding(const std::vector<platform::InputEvent>& events) {
  using Kind = platform::InputEvent::Kind;
  for (const platform::InputEvent& e : events) {
    bool quitKey = e.kind == Kind::KeyDown && (e.key == platform::VK_ESCAPE || e.key == 'Q');
    if (e.kind == Kind::Close || quitKey) return e;
  }
  return std::nullopt;
}

// How a run ended, as far as the words on stderr go.
struct RunEnd {
  platform::headless::StopReason reason;
  std::uint32_t flips;
  int status;  // the program's own
  platform::DWORD time;
  std::optional<platform::InputEvent> scriptEnding;
};

// Why the program quit by itself: the script's close, Escape or Q if it had
// come by then, or nothing the tool asked for. A failed start is told by the
// program itself.
std::string quitCause(const RunEnd& end) {
  if (end.status != 0) return "";
  const std::optional<platform::InputEvent>& e = end.scriptEnding;
  if (!e || e->time > end.time) return "the program quit by itself";
  const char* what = e->kind == platform::InputEvent::Kind::Close ? "close"
                     : e->key == platform::VK_ESCAPE              ? "Escape"
                                                                  : "Q";
  return std::string("the script's ") + what + " at " + std::to_string(e->time) + " ms";
}

// The words after "ended after N frame steps"; empty for an end that needs
// none: --frames reached, or a failed write, which was told where it failed.
std::string stopCause(const RunEnd& end, const CaptureOptions& options) {
  using platform::headless::StopReason;
  char text[96];
  switch (end.reason) {
    case StopReason::TimeLimit:
      std::snprintf(text, sizeof text, "at the limit of %.3f s of virtual time",
                    *options.limitMs / 1000.0);
      return text;
    case StopReason::Inactive: return "the script is over and left the program inactive";
    case StopReason::Stalled:
      std::snprintf(text, sizeof text, "the script is over and no frame step came for %u s",
                    platform::headless::kStallMs / 1000);
      return text;
    case StopReason::None: return quitCause(end);
    default: return "";
  }
}

// Says once on stderr why a run ended other than by reaching its --frames
// count; a run short of that count gives its frame steps against it.
void reportStop(const RunEnd& end, const CaptureOptions& options) {
  std::string cause = stopCause(end, options);
  if (cause.empty()) return;
  std::string steps = std::to_string(end.flips);
  if (options.frames && end.flips < *options.frames)
    steps += " of " + std::to_string(*options.frames);
  const char* joint = end.reason == platform::headless::StopReason::TimeLimit ? " " : ": ";
  std::fprintf(stderr, "nebla-capture: ended after %s frame steps%s%s\n", steps.c_str(), joint,
               cause.c_str());
}

// The program always shows a 640 x 480 picture; the video is sized for it
// before the run, so that ffmpeg's problems show before anything runs.
constexpr std::uint32_t kImageWidth = 640;
constexpr std::uint32_t kImageHeight = 480;

// The script's length in virtual time, for the progress line: a run with a
// script mostly ends with it.
std::uint32_t expectedLength(const std::vector<platform::InputEvent>& events,
                             const CaptureOptions& options) {
  std::uint32_t limit = options.limitMs.value_or(0xFFFFFFFFu);
  if (events.empty() || events.back().time == 0) return limit;
  return std::min(limit, events.back().time);
}

// Everything the run writes besides the PNG frames: the video and the
// recorded input. Opened before the run, so that a file that cannot be
// made stops it before anything runs.
struct Outputs {
  std::optional<tools::VideoWriter> video;
  platform::headless::SessionRecorder record;

  bool open(const CaptureOptions& options) {
    std::string error;
    if (!options.record.empty() && !record.open(options.record, error)) {
      std::fprintf(stderr, "nebla-capture: cannot record to %s: %s\n", options.record.c_str(),
                   error.c_str());
      return false;
    }
    if (options.video.empty()) return true;
    video.emplace();
    if (video->open(options.video, *tools::videoFormatOf(options.video),
                    static_cast<int>(options.scale), kImageWidth, kImageHeight))
      return true;
    std::fprintf(stderr, "nebla-capture: %s\n", video->error().c_str());
    return false;
  }

  // False once the video cannot take more frames.
  bool add(const PresentedFrame& frame) { return !video || video->add(frame); }

  // The video takes its name only when every frame went in.
  bool finish(bool runFailed, const CaptureOptions& options) {
    if (!video) return true;
    if (runFailed) {
      video->abandon();
      return false;
    }
    if (video->finish()) {
      if (options.time)
        std::printf("video: %llu frames at %d a second (%.2f s) in %s\n",
                    static_cast<unsigned long long>(video->framesWritten()), tools::kVideoFps,
                    static_cast<double>(video->framesWritten()) / tools::kVideoFps,
                    options.video.c_str());
      return true;
    }
    std::fprintf(stderr, "nebla-capture: no video written: %s\n", video->error().c_str());
    return false;
  }
};

void printSummary(const CaptureOptions& options, const Recorder& recorder, double seconds) {
  if (options.hash)
    std::printf("frames %u hash %016llx\n", recorder.count(),
                static_cast<unsigned long long>(recorder.hash()));
  if (options.time) {
    // Frame steps are the flipped frames; the outro draws straight on the
    // screen.
    std::printf(
        "run took %.3f s for %u presented frames: %u frame steps, %.1f frame steps per second\n",
        seconds, recorder.count(), recorder.flips(),
        seconds > 0 ? recorder.flips() / seconds : 0.0);
  }
}

// The user's words, laid out before the run so that refused ones are told
// at once, reach the writer as the first event, as a recording carries
// them; the characters without a glyph are named once, and the log tells
// where the words came from.
void takeWords(std::string words, const effects::UserText& text, const std::string& source,
               std::vector<platform::InputEvent>& events) {
  effects::announceText(text, "nebla-capture", source);
  platform::InputEvent event{platform::InputEvent::Kind::Text};
  event.text = std::move(words);
  events.insert(events.begin(), std::move(event));
}

// --text FILE.
bool readUserText(const std::string& path, std::vector<platform::InputEvent>& events) {
  effects::UserText text;
  std::string words, message;
  if (!effects::loadUserText(path, words, text, message)) {
    std::fprintf(stderr, "nebla-capture: %s\n", message.c_str());
    return false;
  }
  takeWords(std::move(words), text, "the file " + platform::headless::quoted(path), events);
  return true;
}

// --text-literal WORDS, or --text-program COMMAND run once before the run
// (a capture is the same on every run only with the words it started with).
bool readGivenText(const CaptureOptions& options, std::vector<platform::InputEvent>& events) {
  bool program = !options.textProgram.empty();
  std::string name = program ? "the text program " + platform::headless::quoted(options.textProgram)
                             : std::string("--text-literal");
  std::string words = effects::literalText(options.textLiteral);
  std::string reason;
  effects::UserText text;
  if ((program &&
       !tools::host::runTextProgram(options.textProgram, effects::kMaxTextBytes, words, reason)) ||
      !effects::layOutText(words, text, reason)) {
    std::fprintf(stderr, "nebla-capture: %s: %s\n", name.c_str(), reason.c_str());
    return false;
  }
  takeWords(std::move(words), text,
            program ? "the program " + platform::headless::quoted(options.textProgram)
                    : "the words given",
            events);
  return true;
}

// The command line, the script and the text; an exit status when the run
// must not start (0 after --help).
std::optional<int> readInput(int argc, char** argv, CaptureOptions& options,
                             std::vector<platform::InputEvent>& events) {
  std::string error;
  switch (tools::parseCaptureOptions(argc, argv, tools::host::kFilesBuilt, options, error)) {
    case tools::ParseResult::Help:
      std::fputs(tools::captureUsage().c_str(), stdout);
      return tools::kExitDone;
    case tools::ParseResult::Version:
      std::puts("nebla-capture " NEBLA_VERSION);
      return tools::kExitDone;
    case tools::ParseResult::Refused:
      std::fprintf(stderr, "nebla-capture: %s\n", error.c_str());
      return tools::kExitRefused;
    case tools::ParseResult::Run: break;
  }
  if (!options.script.empty() && !platform::headless::loadScript(options.script, events, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return tools::kExitRefused;
  }
  if (!options.text.empty() && !readUserText(options.text, events)) return tools::kExitRefused;
  if ((!options.textLiteral.empty() || !options.textProgram.empty()) &&
      !readGivenText(options, events))
    return tools::kExitRefused;
  if (!options.pngDir.empty() && !prepareDirectory(options.pngDir)) return tools::kExitRefused;
  return std::nullopt;
}

// What happens to every presented frame: the hash and PNG files, the
// video, the progress line and the guards. A frame that cannot be written
// ends the run at once, the normal way.
class Capture {
 public:
  Capture(const CaptureOptions& options, Outputs& outputs,
          platform::headless::HeadlessBackend& backend,
          const std::vector<platform::InputEvent>& script)
      : options_(options),
        outputs_(outputs),
        backend_(backend),
        scriptEnding_(firstEnding(script)),
        recorder_(options),
        endingGuard_(backend),
        progress_(options.frames, expectedLength(script, options), isatty(2) != 0) {}

  void operator()(const PresentedFrame& f) {
    pulse.writing.store(true);
    recorder_(f);
    if (!videoFailed_ && !outputs_.add(f)) {
      std::fprintf(stderr, "\nnebla-capture: %s\n", outputs_.video->error().c_str());
      videoFailed_ = true;
    }
    if (f.fromFlip) progress_.update(recorder_.flips(), f.time);
    endingGuard_(f);
    pulse.frames.fetch_add(1, std::memory_order_relaxed);
    pulse.writing.store(false);
    if (recorder_.failed() || videoFailed_) backend_.stopNow();
  }

  // After the run: why it ended, the video's name, the summary, and the
  // exit status. Frames that could not be written make the run a failure,
  // whatever the program's own status; so does a run short of its frames.
  int finish(int status, double seconds) {
    progress_.finish();
    reportStop({backend_.stopReason(), recorder_.flips(), status, backend_.now(), scriptEnding_},
               options_);
    bool videoWritten = outputs_.finish(recorder_.failed() || videoFailed_, options_);
    printSummary(options_, recorder_, seconds);
    if (status != 0) return status;
    if (recorder_.failed() || !videoWritten) return tools::kExitFailed;
    return options_.frames && recorder_.flips() < *options_.frames ? tools::kExitShort
                                                                   : tools::kExitDone;
  }

 private:
  const CaptureOptions& options_;
  Outputs& outputs_;
  platform::headless::HeadlessBackend& backend_;
  std::optional<platform::InputEvent> scriptEnding_;
  Recorder recorder_;
  EndingGuard endingGuard_;
  tools::Progress progress_;
  bool videoFailed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  CaptureOptions options;
  std::vector<platform::InputEvent> events;
  if (std::optional<int> exit = readInput(argc, argv, options, events)) return *exit;
  tools::host::ignoreBrokenPipes();
  Outputs outputs;
  if (!outputs.open(options)) return tools::kExitRefused;
  platform::headless::HeadlessSession session;
  platform::headless::HeadlessBackend& backend = session.backend();
  Capture capture(options, outputs, backend, events);
  backend.setScript(std::move(events));
  backend.setEscapeAfterFlips(options.frames);
  backend.setTimeLimit(options.limitMs);
  backend.setStopWhenIdle(true);
  backend.setFrameCallback([&capture](const PresentedFrame& f) { capture(f); });
  if (!options.record.empty())
    platform::setInputObserver(
        [&outputs](const platform::InputEvent& e) { outputs.record.record(e); });
  for (const auto& rule : options.faults) platform::injectFault(rule);
  platform::pilot::PilotBackend hand(backend);
  if (options.autopilot) {
    hand.fly(*options.autopilot);
    platform::setBackend(&hand);
  }
  // Recording is about throughput: the second thread takes part of each
  // frame step (NEBLA_THREADS=1 keeps to one).
  particles::HelperThread::setEnabled(true);
  tools::host::startWatchdog(pulse);
  auto start = std::chrono::steady_clock::now();
  int status = app::WinMain(platform::GetModuleHandleA(nullptr), nullptr, nullptr, 0);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  tools::host::stopWatchdog();
  platform::setInputObserver(nullptr);
  return capture.finish(status, seconds);
}
