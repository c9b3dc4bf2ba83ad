// kernel32's part of the platform: the process heap and the thread's last
// error number, and the clock.
#pragma once

#include <cstddef>

#include "platform/types.h"

namespace nebla::platform {

// The particle pool takes its records from the process heap once, at start.
HANDLE GetProcessHeap();
void* HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, void* memory);

// Every failing window or GDI call sets the error number that the program
// logs next to its failure line.
DWORD GetLastError();
void SetLastError(DWORD error);

// Milliseconds since the system started, from the backend's clock; wraps
// past 2^32. The frame-rate measurement, the set-up pause and the outro's
// steps read it. Reading it again and again with no other platform call in
// between (but GetSystemMetrics) counts as a busy wait, during which the
// backend lets time pass.
DWORD GetTickCount();

}  // namespace nebla::platform
