// nebla-capture: runs the program headless from an input script and keeps
// what it showed: PNG frames, a hash over every frame, the run's timing.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/entry.h"
#include "particles/helper_thread.h"
#include "platform/fault.h"
#include "platform/headless/headless.h"
#include "platform/headless/script.h"
#ifndef __EMSCRIPTEN__
#include "platform/png/png_writer.h"
#endif

namespace {

using namespace nebla;
using platform::headless::PresentedFrame;

constexpr const char* kUsage =
    "usage: nebla-capture [options]\n"
    "Runs Nebla headless and captures what it shows.\n"
    "  --script FILE       timed input events (see README); without it, no input\n"
    "  --frames N          after N frame steps Escape is held, so the run ends normally\n"
    "  --png DIR           write presented frames as DIR/frame-00001.png ...\n"
    "  --every K           with --png, keep every K-th frame (default 1)\n"
    "  --hash              print 'frames N hash H' over every presented frame\n"
    "  --fail CALL[#N][=R] make platform call CALL fail (at its N-th call, with result R)\n"
    "  --time              print how long the run took and the frame steps per second\n"
    "  --help              this text\n";

struct Options {
  std::string script;
  std::optional<std::uint32_t> frames;
  std::string pngDir;
  std::uint32_t every = 1;
  bool hash = false;
  bool time = false;
  std::vector<platform::FaultRule> faults;
};

// The WebAssembly build runs under node for its frame hash and has no PNG
// library; it refuses --png.
#ifdef __EMSCRIPTEN__
constexpr bool kPngBuilt = false;
#else
constexpr bool kPngBuilt = true;
#endif

bool writeFramePng(const std::string& path, const PresentedFrame& frame) {
#ifdef __EMSCRIPTEN__
  (void)path;
  (void)frame;
  return false;
#else
  return platform::png::writePng(path, frame.pixels.data(), frame.width, frame.height,
                                 static_cast<std::int32_t>(frame.width), frame.palette.data());
#endif
}

std::string knownCalls() {
  std::string names;
  for (std::string_view call : platform::faultableCalls()) names += " " + std::string(call);
  return names;
}

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

bool parseCount(const char* text, std::uint32_t& value) {
  char* end = nullptr;
  unsigned long n = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0' || n == 0 || n > 0xFFFFFFFFul) return false;
  value = static_cast<std::uint32_t>(n);
  return true;
}

// Returns 0 to run, 1 after --help, 2 for a bad command line.
int parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    bool needsValue = arg == "--script" || arg == "--frames" || arg == "--png" || arg == "--every" || arg == "--fail";
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 1;
    }
    if (needsValue && value == nullptr) {
      std::fprintf(stderr, "nebla-capture: %s needs a value\n", arg.c_str());
      return 2;
    }
    std::uint32_t n = 0;
    platform::FaultRule rule;
    if (arg == "--script") {
      options.script = value;
    } else if (arg == "--frames" && parseCount(value, n)) {
      options.frames = n;
    } else if (arg == "--png") {
      if (!kPngBuilt) {
        std::fprintf(stderr, "nebla-capture: this build writes no PNG files (--png); use the native build\n");
        return 2;
      }
      options.pngDir = value;
    } else if (arg == "--every" && parseCount(value, n)) {
      options.every = n;
    } else if (arg == "--fail") {
      if (!platform::parseFaultRule(value, rule)) {
        std::fprintf(stderr, "nebla-capture: bad fault rule '%s': want CALL[#N][=RESULT], CALL one of:%s\n", value,
                     knownCalls().c_str());
        return 2;
      }
      options.faults.push_back(rule);
    } else if (arg == "--hash") {
      options.hash = true;
      continue;
    } else if (arg == "--time") {
      options.time = true;
      continue;
    } else {
      std::fprintf(stderr, "nebla-capture: bad option or value: %s%s%s\n%s", arg.c_str(),
                   value && needsValue ? " " : "", value && needsValue ? value : "", kUsage);
      return 2;
    }
    ++i;
  }
  return 0;
}

// FNV-1a over the pixels and the palette of every presented frame.
struct FrameHash {
  std::uint64_t value = 1469598103934665603ull;
  void add(const void* data, std::size_t size) {
    auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) value = (value ^ bytes[i]) * 1099511628211ull;
  }
};

class Recorder {
 public:
  explicit Recorder(const Options& options) : options_(options), progress_(isatty(2) && options.frames) {}

  void operator()(const PresentedFrame& frame) {
    ++count_;
    if (options_.hash) {
      hash_.add(frame.pixels.data(), frame.pixels.size());
      hash_.add(frame.palette.data(), sizeof(frame.palette));
    }
    if (frame.fromFlip) ++flips_;
    if (!options_.pngDir.empty() && count_ % options_.every == 0) writeFrame(frame);
    if (progress_ && frame.fromFlip) showProgress();
  }

  std::uint32_t count() const { return count_; }
  std::uint32_t flips() const { return flips_; }
  std::uint64_t hash() const { return hash_.value; }
  bool failed() const { return writeFailed_; }
  void finish() const {
    if (progress_) std::fputc('\n', stderr);
  }

 private:
  void writeFrame(const PresentedFrame& frame) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%05u.png", count_);
    std::string path = options_.pngDir + "/" + name;
    if (!writeFramePng(path, frame) && !writeFailed_) {
      std::fprintf(stderr, "nebla-capture: cannot write %s\n", path.c_str());
      writeFailed_ = true;
    }
  }

  void showProgress() const {
    std::uint32_t total = *options_.frames;
    std::uint32_t done = flips_ < total ? flips_ : total;
    int width = 40, filled = static_cast<int>(std::uint64_t{done} * width / total);
    std::fprintf(stderr, "\r[%.*s%*s] %u/%u frames", filled, "########################################",
                 width - filled, "", done, total);
  }

  const Options& options_;
  bool progress_;
  std::uint32_t count_ = 0;
  std::uint32_t flips_ = 0;
  FrameHash hash_;
  bool writeFailed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (int status = parseOptions(argc, argv, options)) return status == 1 ? 0 : 2;
  std::vector<platform::InputEvent> events;
  std::string error;
  if (!options.script.empty() && !platform::headless::loadScript(options.script, events, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  if (!options.pngDir.empty() && !prepareDirectory(options.pngDir)) return 2;
  platform::headless::HeadlessSession session;
  Recorder recorder(options);
  session.backend().setScript(std::move(events));
  session.backend().setEscapeAfterFlips(options.frames);
  session.backend().setFrameCallback([&recorder](const PresentedFrame& f) { recorder(f); });
  for (const auto& rule : options.faults) platform::injectFault(rule);
  // Recording is about throughput: the second thread takes part of each
  // frame step (NEBLA_THREADS=1 keeps to one).
  particles::HelperThread::setEnabled(true);
  auto start = std::chrono::steady_clock::now();
  int status = app::WinMain(platform::GetModuleHandleA(nullptr), nullptr, nullptr, 0);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  recorder.finish();
  if (options.hash) std::printf("frames %u hash %016llx\n", recorder.count(), static_cast<unsigned long long>(recorder.hash()));
  if (options.time) {
    // Frame steps are the flipped frames; the outro draws straight on the
    // screen.
    std::printf("run took %.3f s for %u presented frames: %u frame steps, %.1f frame steps per second\n",
                seconds, recorder.count(), recorder.flips(), seconds > 0 ? recorder.flips() / seconds : 0.0);
  }
  // Frames that could not be written make the run a failure, whatever the
  // program's own status.
  if (recorder.failed()) return status != 0 ? status : 1;
  return status;
}
