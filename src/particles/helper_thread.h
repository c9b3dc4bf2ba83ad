// A second thread for the engine's heaviest work: it checks and walks the
// second half of the particle pass while the caller walks the first, and
// casts half of the light pass's rays. Neither result depends on the
// helper: a task comes in parts, every part computes what the
// single-threaded pass computes whichever thread runs it, and a part the
// helper has not begun when the task is needed is run by the caller.
#pragma once

namespace nebla::particles {

class HelperThread {
 public:
  // One part of a task, numbered from 0.
  using Task = void (*)(void* context, int part);

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

  // Offers a task of `parts` parts (at least one) to the helper; the
  // previous task must have been finished. The context must stay valid
  // until finish() returns.
  void offer(Task task, void* context, int parts);
  // Returns once every part of the task offered last has run: the parts
  // the helper has not claimed run here, at once, on the calling thread,
  // and then it waits only for the parts the helper is running. Never
  // waits for a sleeping helper to wake.
  void finish();

  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

 private:
  HelperThread() = default;
  ~HelperThread() = default;
  friend struct HelperThreadOwner;
};

}  // namespace nebla::particles
