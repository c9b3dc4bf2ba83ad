// nebla-soak: runs the whole program headless for many frame steps of
// seeded random input at the heaviest settings, and every 1,000 steps
// checks the particle rings, the resident memory and the log.
//
//   nebla-soak [--steps N] [--seed S]     (default 72,000 steps: one hour)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "state/application.h"
#include "app/entry.h"
#include "app/window_proc.h"
#include "particles/helper_thread.h"
#include "platform/headless/headless.h"
#include "platform/user.h"
#include "ring_check.h"

namespace {

using namespace nebla;
using platform::InputEvent;
using Kind = InputEvent::Kind;
using namespace platform;

constexpr std::uint32_t kCheckEvery = 1000;
// Growth of the resident set over the first check that counts as a leak.
constexpr long kRssSlackKiB = 8 * 1024;

struct Soak {
  std::uint32_t steps = 72000;
  std::uint32_t seed = 1;
};

long residentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// Builds the input: a long lifetime and a particle count high enough that
// the spray keeps the pool full, then random strokes, pictures, wind, light,
// scheme switches, the overlay and focus changes until `steps` frame steps
// of active time have passed, with room to spare.
class ScriptMaker {
 public:
  explicit ScriptMaker(std::uint32_t seed) : random_(seed) {}

  std::vector<InputEvent> make(std::uint32_t steps) {
    add(Kind::KeyDown, VK_SHIFT);
    for (int i = 0; i < 920; ++i) tap('C');  // 400 -> 5,000 particles a frame
    for (int i = 0; i < 130; ++i) tap('L');  // lifetime 70 -> 200
    add(Kind::KeyUp, VK_SHIFT);
    add(Kind::LeftDown);
    std::uint64_t active = 0, needed = std::uint64_t{steps} * 50 + 20000;
    while (active < needed) {
      std::uint32_t before = time_;
      bool wasFocused = randomAction();
      time_ += pick(20, 400);
      if (wasFocused) active += time_ - before;
    }
    add(Kind::LeftUp);
    return events_;
  }

 private:
  std::uint32_t pick(std::uint32_t low, std::uint32_t high) {
    return std::uniform_int_distribution<std::uint32_t>(low, high)(random_);
  }
  void add(Kind kind, int key = 0, int x = 0, int y = 0) {
    events_.push_back({kind, key, x, y, time_++});
  }
  void tap(int key) {
    add(Kind::KeyDown, key);
    add(Kind::KeyUp, key);
  }
  void hold(Kind down, Kind up, std::uint32_t ms) {
    add(down);
    time_ += ms;
    add(up);
  }

  // One random piece of input; false when it was a spell without focus.
  bool randomAction() {
    std::uint32_t r = pick(0, 99);
    if (r < 30)
      add(Kind::MouseMove, 0, static_cast<int>(pick(0, 639)), static_cast<int>(pick(0, 479)));
    else if (r < 38)
      hold(Kind::LeftUp, Kind::LeftDown, pick(50, 1500));
    else if (r < 46)
      hold(Kind::RightDown, Kind::RightUp, pick(100, 2000));
    else if (r < 54)
      tap(VK_SPACE);
    else if (r < 62)
      tap('0' + static_cast<int>(pick(0, 9)));
    else if (r < 66)
      tap('D');
    else if (r < 70) {
      hold(Kind::FocusLost, Kind::FocusGained, pick(100, 3000));
      return false;
    } else {
      const int winds[] = {VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN};
      tap(winds[pick(0, 3)]);
    }
    return true;
  }

  std::mt19937 random_;
  std::uint32_t time_ = 2100;  // after the set-up's pause
  std::vector<InputEvent> events_;
};

// Lines the soak's own keys log; anything else in the log is a fault.
bool expectedLogLine(const std::string& line) {
  return line.find("new particlecount : ") != std::string::npos ||
         line.find("lifetime : ") != std::string::npos;
}

class Checker {
 public:
  void operator()(const platform::headless::PresentedFrame& frame) {
    if (!frame.fromFlip || ++flips_ % kCheckEvery != 0) return;
    const particles::ParticleSystem& ps = *app::application->particles;
    std::string fault = testing::ringFault(ps);
    long rss = residentKiB();
    if (baseline_ < 0) baseline_ = rss;
    if (!fault.empty()) fail("step " + std::to_string(flips_) + ": " + fault);
    if (rss > baseline_ + kRssSlackKiB)
      fail("step " + std::to_string(flips_) + ": resident memory grew from " +
           std::to_string(baseline_) + " to " + std::to_string(rss) + " KiB");
    std::string line = unexpectedLogLine();
    if (!line.empty()) fail("step " + std::to_string(flips_) + ": unexpected log line: " + line);
    last_ = rss;
    minLive_ = std::min(minLive_, ps.liveCount);
    if (flips_ % 10000 == 0)
      std::fprintf(stderr, "soak: %u steps, %d particles, %ld KiB resident\n", flips_, ps.liveCount,
                   rss);
  }

  std::uint32_t flips() const { return flips_; }
  long baseline() const { return baseline_; }
  long last() const { return last_; }
  std::int32_t minLive() const { return minLive_; }
  int failures() const { return failures_; }

  std::string unexpectedLogLine() const {
    std::ifstream log("Nebla.log");
    std::string line;
    while (std::getline(log, line))
      if (!expectedLogLine(line)) return line;
    return "";
  }

 private:
  void fail(const std::string& what) {
    if (failures_++ < 10) std::fprintf(stderr, "soak: FAIL %s\n", what.c_str());
  }

  std::uint32_t flips_ = 0;
  long baseline_ = -1;
  long last_ = -1;
  std::int32_t minLive_ = 1 << 30;
  int failures_ = 0;
};

bool parseArgs(int argc, char** argv, Soak& soak) {
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string arg = argv[i];
    char* end = nullptr;
    unsigned long value = std::strtoul(argv[i + 1], &end, 10);
    if (*end != '\0' || value == 0 || value > 10000000ul) return false;
    if (arg == "--steps")
      soak.steps = static_cast<std::uint32_t>(value);
    else if (arg == "--seed")
      soak.seed = static_cast<std::uint32_t>(value);
    else
      return false;
  }
  return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv) {
  Soak soak;
  if (!parseArgs(argc, argv, soak)) {
    std::fputs("usage: nebla-soak [--steps N] [--seed S]\n", stderr);
    return 2;
  }
  auto dir = std::filesystem::temp_directory_path() / ("nebla-soak-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  Checker checker;
  int status = 0;
  auto start = std::chrono::steady_clock::now();
  {
    platform::headless::HeadlessSession session;
    session.backend().setScript(ScriptMaker(soak.seed).make(soak.steps));
    session.backend().setEscapeAfterFlips(soak.steps);
    session.backend().setStopWhenIdle(true);
    session.backend().setFrameCallback([&checker](const auto& frame) { checker(frame); });
    particles::HelperThread::setEnabled(true);
    status = app::WinMain(platform::GetModuleHandleA(nullptr), nullptr, nullptr, 0);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::string line = checker.unexpectedLogLine();
  std::filesystem::current_path("/");
  std::filesystem::remove_all(dir);
  std::printf(
      "soak: %u frame steps in %.1f s (seed %u); resident %ld KiB at step %u, %ld KiB at the end; "
      "at least %d of the pool's 99,998 records in use at every check\n",
      checker.flips(), seconds, soak.seed, checker.baseline(), kCheckEvery, checker.last(),
      checker.minLive());
  bool ok = status == 0 && checker.flips() == soak.steps && checker.failures() == 0 && line.empty();
  if (status != 0) std::fprintf(stderr, "soak: FAIL the program ended with status %d\n", status);
  if (checker.flips() != soak.steps)
    std::fprintf(stderr, "soak: FAIL %u frame steps, not %u\n", checker.flips(), soak.steps);
  if (!line.empty())
    std::fprintf(stderr, "soak: FAIL unexpected log line at the end: %s\n", line.c_str());
  return ok ? 0 : 1;
}
