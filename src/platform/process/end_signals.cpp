// The note of an end signal, set by its handler.
#include "platform/process/end_signals.h"

#include <atomic>
#include <csignal>

namespace nebla::platform::process {
namespace {

// Set by the signal handler, so it must be a plain store that cannot take
// a lock.
std::atomic<bool> signalled{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void noteEndSignal(int) { signalled.store(true); }

}  // namespace

void catchEndSignals() {
  struct sigaction action {};
  action.sa_handler = noteEndSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

bool endSignalled() { return signalled.load(); }

}  // namespace nebla::platform::process
