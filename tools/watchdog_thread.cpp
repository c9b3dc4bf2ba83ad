// The watchdog on a thread of its own, for systems without a timer signal
// (Windows): it wakes every second and gives the run up once no frame has
// come for kStuckSeconds of them.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "capture_options.h"
#include "host.h"

namespace nebla::tools::host {
namespace {

constexpr std::chrono::seconds kLookEvery{1};

std::thread watcher;
std::mutex lock;
std::condition_variable wake;
bool stopping = false;

void watch(Pulse& pulse) {
  std::unique_lock<std::mutex> held(lock);
  unsigned quietSeconds = 0;
  while (!wake.wait_for(held, kLookEvery, [] { return stopping; })) {
    if (pulse.frames.exchange(0) != 0 || pulse.writing.load()) {
      quietSeconds = 0;
      continue;
    }
    if (++quietSeconds < kStuckSeconds) continue;
    std::fprintf(stderr,
                 "nebla-capture: no frame for %u s of real time: the program cannot end (a --fail "
                 "rule?); giving up\n",
                 kStuckSeconds);
    std::fflush(nullptr);
    std::_Exit(kExitGivenUp);
  }
}

}  // namespace

void startWatchdog(Pulse& pulse) {
  stopping = false;
  watcher = std::thread(watch, std::ref(pulse));
}

void stopWatchdog() {
  {
    std::lock_guard<std::mutex> held(lock);
    stopping = true;
  }
  wake.notify_all();
  if (watcher.joinable()) watcher.join();
}

}  // namespace nebla::tools::host
