// Time sources.
#ifndef CORVANE_PLATFORM_CLOCK_H_
#define CORVANE_PLATFORM_CLOCK_H_

#include <cstdint>

namespace corvane::platform {

// The high-resolution counter and its frequency in counts per second; false
// when the system has none.
bool QueryCounter(int64_t* value);
bool QueryCounterFrequency(int64_t* frequency);

// Milliseconds since the system started, modulo 2^32.
uint32_t TickCount();

}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_CLOCK_H_
