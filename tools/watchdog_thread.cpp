// The watchdog on a thread of its own, for systems without a timer signal
// (Windows): it wakes every kStuckSeconds and gives the run up when no
// frame came.
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

constexpr std::chrono::seconds kStuck{kStuckSeconds};

std::thread watcher;
std::mutex lock;
std::condition_variable wake;
bool stopping = false;

void watch(Pulse& pulse) {
  std::unique_lock<std::mutex> held(lock);
  while (!wake.wait_for(held, kStuck, [] { return stopping; })) {
    if (pulse.frames.exchange(0) != 0 || pulse.writing.load()) continue;
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
