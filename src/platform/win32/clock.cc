// The high-resolution counter and the tick count.
#include "platform/clock.h"

#include <windows.h>

namespace corvane::platform {

bool QueryCounter(int64_t* value) {
  LARGE_INTEGER n;
  if (!QueryPerformanceCounter(&n)) return false;
  *value = n.QuadPart;
  return true;
}

bool QueryCounterFrequency(int64_t* frequency) {
  LARGE_INTEGER n;
  if (!QueryPerformanceFrequency(&n) || n.QuadPart <= 0) return false;
  *frequency = n.QuadPart;
  return true;
}

uint32_t TickCount() { return GetTickCount(); }

}  // namespace corvane::platform
