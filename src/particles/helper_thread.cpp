// The helper thread. The parts of an offered task are claimed one at a
// time by whichever side gets to them: the helper, which spins briefly
// after each task and otherwise sleeps until woken, and the caller at
// finish().
#include "particles/helper_thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace nebla::particles {
namespace {

// Within a pass the next task comes within microseconds; between frames
// the helper sleeps.
constexpr auto kSpinBeforeSleep = std::chrono::microseconds(50);

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
// when the process ends. Parts are numbered on from one task to the next,
// so a claim can never land in a task other than the one it read: the task
// offered last holds the parts from `first` to `end`.
struct HelperThreadOwner {
  static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

  HelperThread helper;
  std::atomic<std::uint64_t> end{0};
  std::atomic<std::uint64_t> claimed{0};  // parts claimed so far, of all tasks
  std::atomic<std::uint64_t> done{0};     // parts run so far
  std::atomic<bool> stopping{false};
  std::atomic<bool> sleeping{false};
  HelperThread::Task task = nullptr;
  void* context = nullptr;
  std::uint64_t first = 0;
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

  bool partsWaiting() const { return claimed.load() < end.load(); }

  // The next unclaimed part of the task offered last, if any. The task's
  // fields were written before `end` was, and are read only after it.
  bool claim(std::uint64_t& part) {
    const std::uint64_t last = end.load(std::memory_order_acquire);
    std::uint64_t next = claimed.load();
    while (next < last) {
      if (claimed.compare_exchange_weak(next, next + 1)) {
        part = next;
        return true;
      }
    }
    return false;
  }

  void runPart(std::uint64_t part) {
    task(context, static_cast<int>(part - first));
    done.fetch_add(1, std::memory_order_release);
  }

  // Waits until parts wait to be claimed; false when stopping.
  bool awaitParts() {
    const auto until = std::chrono::steady_clock::now() + kSpinBeforeSleep;
    for (unsigned spins = 1; !partsWaiting(); ++spins) {
      if (stopping.load()) return false;
      // The clock is read only now and then: it costs more than a pause.
      if (spins % 64 != 0 || std::chrono::steady_clock::now() < until) {
        pause();
        continue;
      }
      std::unique_lock<std::mutex> lock(mutex);
      sleeping = true;
      wake.wait(lock, [&] { return stopping.load() || partsWaiting(); });
      sleeping = false;
    }
    return true;
  }

  void run() {
    while (awaitParts()) {
      std::uint64_t part;
      while (claim(part)) runPart(part);
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

void HelperThread::offer(Task task, void* context, int parts) {
  HelperThreadOwner* o = owner();
  o->task = task;
  o->context = context;
  o->first = o->end.load(std::memory_order_relaxed);
  // Both sides store, then read the other's flag (all sequentially
  // consistent), so a helper going to sleep either sees the parts or is
  // seen sleeping and woken.
  o->end.store(o->first + static_cast<std::uint64_t>(parts));
  if (o->sleeping.load()) {
    std::lock_guard<std::mutex> lock(o->mutex);
    o->wake.notify_one();
  }
}

void HelperThread::finish() {
  HelperThreadOwner* o = owner();
  std::uint64_t part;
  while (o->claim(part)) o->runPart(part);
  const std::uint64_t last = o->end.load(std::memory_order_relaxed);
  while (o->done.load(std::memory_order_acquire) != last) pause();
}

}  // namespace nebla::particles
