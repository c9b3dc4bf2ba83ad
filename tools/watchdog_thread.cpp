// The watchdog on a thread of its own, for systems without a timer signal
// (Windows): it wakes every 10 s and gives the run up when no frame came.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "host.h"

namespace nebla::tools::host {
namespace {

constexpr std::chrono::seconds kStuck{10};

std::thread watcher;
std::mutex lock;
std::condition_variable wake;
bool stopping = false;

void watch(std::atomic<std::uint32_t>& framesSince) {
  std::unique_lock<std::mutex> held(lock);
  while (!wake.wait_for(held, kStuck, [] { return stopping; })) {
    if (framesSince.exchange(0) != 0) continue;
    std::fputs(
        "nebla-capture: no frame for 10 s of real time: the program cannot end (a --fail rule?); "
        "giving up\n",
        stderr);
    std::fflush(nullptr);
    std::_Exit(4);
  }
}

}  // namespace

void startWatchdog(std::atomic<std::uint32_t>& framesSince) {
  stopping = false;
  watcher = std::thread(watch, std::ref(framesSince));
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
