// The busy waits of the set-up pause and the outro steps.
#pragma once

#include "platform/kernel.h"
#include "platform/user.h"

namespace nebla::display {

// Reads the tick count until it is no longer below the first reading plus
// `milliseconds`; the unsigned comparison ends the wait at once when the
// count is about to wrap. A session that ends cuts the wait short, as there
// is nothing left to wait for. Processes no messages.
inline void busyWait(platform::DWORD milliseconds) {
  platform::DWORD start = platform::GetTickCount();
  while (platform::GetTickCount() < start + milliseconds) {
    if (platform::GetSystemMetrics(platform::SM_SHUTTINGDOWN) != 0) return;
  }
}

}  // namespace nebla::display
