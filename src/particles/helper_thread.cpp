// The helper thread. An offered task is claimed by whichever side gets to
// it first: the helper, which spins briefly after each task and otherwise
// sleeps until woken, or the caller at finish().
#include "particles/helper_thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace nebla::particles {
namespace {

// Within a pass the next task comes within microseconds; between frames
// the helper sleeps.
constexpr auto kSpinBeforeSleep = std::chrono::microseconds(50);

enum Phase : int { kIdle, kOffered, kRunning, kDone };

inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

bool threadsWanted() {
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
  return false;
#else
  const char* setting = std::getenv("NEBLA_THREADS");
  if (setting != nullptr && std::strcmp(setting, "1") == 0) return false;
  return std::thread::hardware_concurrency() >= 2;
#endif
}

std::atomic<bool> enabled{false};

}  // namespace

// The thread and its hand-over state; one per process, stopped and joined
// when the process ends.
struct HelperThreadOwner {
  HelperThread helper;
  std::atomic<int> phase{kIdle};
  std::atomic<bool> stopping{false};
  std::atomic<bool> sleeping{false};
  HelperThread::Task task = nullptr;
  void* context = nullptr;
  std::mutex mutex;
  std::condition_variable wake;
  std::thread thread;

  HelperThreadOwner() : thread([this] { run(); }) {}
  ~HelperThreadOwner() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    wake.notify_one();
    thread.join();
  }

  // Waits until a task is offered; false when stopping.
  bool awaitOffer() {
    const auto until = std::chrono::steady_clock::now() + kSpinBeforeSleep;
    for (unsigned spins = 1; phase.load() != kOffered; ++spins) {
      if (stopping.load()) return false;
      // The clock is read only now and then: it costs more than a pause.
      if (spins % 64 != 0 || std::chrono::steady_clock::now() < until) {
        pause();
        continue;
      }
      std::unique_lock<std::mutex> lock(mutex);
      sleeping = true;
      wake.wait(lock, [&] { return stopping.load() || phase.load() == kOffered; });
      sleeping = false;
    }
    return true;
  }

  void run() {
    while (awaitOffer()) {
      int offered = kOffered;
      if (!phase.compare_exchange_strong(offered, kRunning)) continue;  // taken back
      task(context);
      phase.store(kDone, std::memory_order_release);
    }
  }
};

namespace {

HelperThreadOwner* owner() {
  static HelperThreadOwner* instance = threadsWanted() ? new HelperThreadOwner : nullptr;
  static struct Reaper {
    ~Reaper() { delete instance; }
  } reaper;
  return instance;
}

}  // namespace

HelperThread* HelperThread::get() {
  if (!enabled.load()) return nullptr;
  HelperThreadOwner* o = owner();
  return o != nullptr ? &o->helper : nullptr;
}

void HelperThread::setEnabled(bool on) { enabled = on; }

bool HelperThread::requested() {
  const char* setting = std::getenv("NEBLA_THREADS");
  return setting != nullptr && std::strcmp(setting, "2") == 0;
}

void HelperThread::offer(Task task, void* context) {
  HelperThreadOwner* o = owner();
  o->task = task;
  o->context = context;
  // Both sides store, then read the other's flag (all sequentially
  // consistent), so a helper going to sleep either sees the offer or is
  // seen sleeping and woken.
  o->phase.store(kOffered);
  if (o->sleeping.load()) {
    std::lock_guard<std::mutex> lock(o->mutex);
    o->wake.notify_one();
  }
}

void HelperThread::finish() {
  HelperThreadOwner* o = owner();
  int offered = kOffered;
  if (o->phase.compare_exchange_strong(offered, kIdle)) {
    o->task(o->context);
    return;
  }
  while (o->phase.load(std::memory_order_acquire) != kDone) pause();
  o->phase.store(kIdle);
}

}  // namespace nebla::particles
