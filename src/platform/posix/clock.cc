// Time sources.
//
// The counter is CLOCK_MONOTONIC in nanoseconds: steady, unaffected by
// changes of the wall clock, and fine enough for time stamps in nanoseconds
// without scaling. The tick count is CLOCK_BOOTTIME, which keeps counting
// while the machine is suspended, as the Windows tick count does; systems
// without it fall back to CLOCK_MONOTONIC.
#include "platform/clock.h"

#include <time.h>

namespace corvane::platform {
namespace {

constexpr int64_t kNanosPerSecond = 1000000000;

}  // namespace

bool QueryCounter(int64_t* value) {
  struct timespec ts;
  if (::clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return false;
  *value = static_cast<int64_t>(ts.tv_sec) * kNanosPerSecond + ts.tv_nsec;
  return true;
}

bool QueryCounterFrequency(int64_t* frequency) {
  *frequency = kNanosPerSecond;
  return true;
}

uint32_t TickCount() {
  struct timespec ts;
#ifdef CLOCK_BOOTTIME
  if (::clock_gettime(CLOCK_BOOTTIME, &ts) != 0)
#endif
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000;
  return static_cast<uint32_t>(ms);  // wraps every 49.7 days, as on Windows
}

}  // namespace corvane::platform
