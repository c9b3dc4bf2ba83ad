// No watchdog: the WebAssembly capture tool runs only under tests, which
// have their own time limits.
#include "host.h"

namespace nebla::tools::host {

void startWatchdog(Pulse&) {}

void stopWatchdog() {}

}  // namespace nebla::tools::host
