// The process heap, the last-error number and the clock.
#include "platform/kernel.h"

#include <cstdlib>

#include "platform/backend.h"
#include "platform/fault.h"
#include "platform/internal.h"

namespace nebla::platform {
namespace {
DWORD lastError = ERROR_SUCCESS;
int processHeap;

// Consecutive GetTickCount calls with no other platform call in between.
std::uint64_t serialAfterLastTick = 0;
unsigned tickStreak = 0;
}  // namespace

HANDLE GetProcessHeap() { return &processHeap; }

void* HeapAlloc(HANDLE heap, DWORD /*flags*/, std::size_t bytes) {
  if (auto fault = checkFault("HeapAlloc")) {
    SetLastError(fault->has_value() ? static_cast<DWORD>(**fault) : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* memory = heap == &processHeap ? std::malloc(bytes == 0 ? 1 : bytes) : nullptr;
  if (memory == nullptr)
    SetLastError(heap == &processHeap ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_HANDLE);
  return memory;
}

BOOL HeapFree(HANDLE heap, DWORD /*flags*/, void* memory) {
  if (heap != &processHeap) return FALSE;
  std::free(memory);
  return TRUE;
}

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD error) { lastError = error; }

void resetClockReadings() { tickStreak = 0; }

void continueClockReadings() {
  if (serialAfterLastTick + 1 == platformCallSerial()) serialAfterLastTick = platformCallSerial();
}

// The frame-rate measurement reads the clock twice in a row; only from the
// third reading on is the caller taken to be waiting for time to pass.
DWORD GetTickCount() {
  bool consecutive = platformCallSerial() == serialAfterLastTick;
  auto fault = injectedFault<DWORD>("GetTickCount", 0);
  serialAfterLastTick = platformCallSerial();
  tickStreak = consecutive && tickStreak > 0 ? tickStreak + 1 : 1;
  if (fault) return *fault;
  if (tickStreak >= 3) backend().busyWait();
  return backend().now();
}

}  // namespace nebla::platform
