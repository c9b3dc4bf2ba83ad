// No watchdog: the WebAssembly capture tool runs only under tests, which
// have their own time limits.
#include "host.h"

namespace nebla::tools::host {

void startWatchdog(std::atomic<std::uint32_t>&) {}

void stopWatchdog() {}

}  // namespace nebla::tools::host
