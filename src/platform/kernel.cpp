// The process heap and the last-error number.
#include "platform/kernel.h"

#include <cstdlib>

#include "platform/fault.h"

namespace nebla::platform {
namespace {
DWORD lastError = ERROR_SUCCESS;
int processHeap;
}  // namespace

HANDLE GetProcessHeap() { return &processHeap; }

void* HeapAlloc(HANDLE heap, DWORD /*flags*/, std::size_t bytes) {
  if (auto fault = checkFault("HeapAlloc")) {
    SetLastError(fault->has_value() ? static_cast<DWORD>(**fault) : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* memory = heap == &processHeap ? std::malloc(bytes == 0 ? 1 : bytes) : nullptr;
  if (memory == nullptr) SetLastError(heap == &processHeap ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_HANDLE);
  return memory;
}

BOOL HeapFree(HANDLE heap, DWORD /*flags*/, void* memory) {
  if (heap != &processHeap) return FALSE;
  std::free(memory);
  return TRUE;
}

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD error) { lastError = error; }

}  // namespace nebla::platform
