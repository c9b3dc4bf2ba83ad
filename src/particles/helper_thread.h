// A second thread for the engine's heaviest work: while the particle pass
// sweeps the next batch, the helper moves the last one; the light pass
// casts half of its rays on it. Neither result depends on the helper: the
// work is split the same way whatever the timing, and every piece computes
// what the single-threaded pass computes.
#pragma once

namespace nebla::particles {

class HelperThread {
 public:
  using Task = void (*)(void* context);

  // The process's helper, started on first use. Null where it would not
  // help or cannot run: one core, a build without threads, the environment
  // variable NEBLA_THREADS=1, or after setEnabled(false).
  static HelperThread* get();
  // Benchmarks and tests compare the passes with and without the helper.
  static void setEnabled(bool enabled);

  // Hands one task to the helper; the previous one must have been waited
  // for. The context must stay valid until wait() returns.
  void start(Task task, void* context);
  // Returns once the task handed over last has finished.
  void wait();

  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

 private:
  HelperThread() = default;
  ~HelperThread() = default;
  friend struct HelperThreadOwner;
};

}  // namespace nebla::particles
