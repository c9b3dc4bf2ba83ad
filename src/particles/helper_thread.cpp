// The helper thread: it spins briefly for the next task, which arrives
// within microseconds during a pass, and otherwise sleeps until woken.
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

constexpr auto kSpinBeforeSleep = std::chrono::microseconds(300);

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

std::atomic<bool> enabled{true};

}  // namespace

// The thread and its hand-over state; one per process, stopped and joined
// when the process ends.
struct HelperThreadOwner {
  HelperThread helper;
  std::atomic<unsigned> started{0};
  std::atomic<unsigned> finished{0};
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

  // Waits for a task numbered after `done`; false when stopping.
  bool awaitTask(unsigned done) {
    const auto until = std::chrono::steady_clock::now() + kSpinBeforeSleep;
    for (unsigned spins = 1; started.load() == done; ++spins) {
      if (stopping.load()) return false;
      // The clock is read only now and then: it costs more than a pause.
      if (spins % 256 != 0 || std::chrono::steady_clock::now() < until) {
        pause();
        continue;
      }
      std::unique_lock<std::mutex> lock(mutex);
      sleeping = true;
      wake.wait(lock, [&] { return stopping.load() || started.load() != done; });
      sleeping = false;
    }
    return true;
  }

  void run() {
    for (unsigned done = 0; awaitTask(done);) {
      done = started.load();
      task(context);
      finished.store(done, std::memory_order_release);
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

void HelperThread::start(Task task, void* context) {
  HelperThreadOwner* o = owner();
  o->task = task;
  o->context = context;
  // Both sides store, then read the other's flag (all sequentially
  // consistent), so a helper going to sleep either sees the new task or is
  // seen sleeping and woken.
  o->started.fetch_add(1);
  if (o->sleeping.load()) {
    std::lock_guard<std::mutex> lock(o->mutex);
    o->wake.notify_one();
  }
}

void HelperThread::wait() {
  HelperThreadOwner* o = owner();
  const unsigned target = o->started.load();
  for (unsigned spins = 0; o->finished.load(std::memory_order_acquire) != target; ++spins) {
    if (spins < 100000) {
      pause();
    } else {
      std::this_thread::yield();
    }
  }
}

}  // namespace nebla::particles
