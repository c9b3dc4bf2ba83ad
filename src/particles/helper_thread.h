// A second thread for the engine's heaviest work: while the particle pass
// sweeps the next batch, the helper moves the last one; the light pass
// casts half of its rays on it. Neither result depends on the helper: the
// work is split the same way whatever the timing, every piece computes what
// the single-threaded pass computes, and a piece the helper has not begun
// when it is needed is taken back and done by the caller.
#pragma once

namespace nebla::particles {

class HelperThread {
 public:
  using Task = void (*)(void* context);

  // The process's helper, started on first use. Null unless it was turned
  // on, and where it cannot run: one core, a build without threads, or the
  // environment variable NEBLA_THREADS=1.
  static HelperThread* get();
  // Off at start. The capture tool turns it on for speed; the live window
  // leaves it off, since at 20 frames a second one thread keeps up and the
  // two together spend more processor time (NEBLA_THREADS=2 turns it on
  // there too). Benchmarks and tests compare both.
  static void setEnabled(bool enabled);
  // Whether NEBLA_THREADS=2 asks for the helper.
  static bool requested();

  // Offers one task to the helper; the previous one must have been
  // finished. The context must stay valid until finish() returns.
  void offer(Task task, void* context);
  // Returns once the task offered last has run: on the helper if it had
  // begun it, else here, at once, on the calling thread. Never waits for
  // a sleeping helper to wake.
  void finish();

  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

 private:
  HelperThread() = default;
  ~HelperThread() = default;
  friend struct HelperThreadOwner;
};

}  // namespace nebla::particles
