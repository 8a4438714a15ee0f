#include "stream/time_base.h"

#include "stream/block_header.h"
#include "platform/clock.h"

namespace corvane::stream {
namespace {

constexpr uint64_t kNanosPerSecond = 1000000000;

}  // namespace

void TimeBase::Restart() {
  int64_t counter = 0;
  // The frequency is fixed at system start: asked once here, not per stamp.
  counter_ = platform::QueryCounter(&counter) && platform::QueryCounterFrequency(&frequency_);
  base_ = counter_ ? counter : static_cast<int64_t>(platform::TickCount());
}

uint64_t TimeBase::CounterToNanoseconds(int64_t span, int64_t frequency) {
  if (span <= 0 || frequency <= 0) return 0;
  // A counter in nanoseconds (Linux) needs no scaling and no division.
  if (frequency == static_cast<int64_t>(kNanosPerSecond)) return static_cast<uint64_t>(span);
  const uint64_t s = static_cast<uint64_t>(span);
  const uint64_t f = static_cast<uint64_t>(frequency);
  const uint64_t seconds = s / f;
  const uint64_t rest = s % f;  // below f
  // rest * 10^9 fits while f stays below 2^64 / 10^9 (18 GHz); a faster
  // counter is scaled in floating point, which is still exact to far below
  // a nanosecond of its own resolution.
  const uint64_t fraction =
      f <= UINT64_MAX / kNanosPerSecond
          ? rest * kNanosPerSecond / f
          : static_cast<uint64_t>(static_cast<long double>(rest) * kNanosPerSecond / f);
  return seconds * kNanosPerSecond + fraction;  // wraps only after 584 years
}

uint64_t TimeBase::Stamp(bool restart) {
  int64_t counter = 0;
  if (counter_ && platform::QueryCounter(&counter)) {
    const uint64_t stamp = CounterToNanoseconds(counter - base_, frequency_);
    if (restart) base_ = counter;
    return stamp;
  }
  // The tick count wraps every 49.7 days; the span is taken modulo 2^32.
  const uint32_t ticks = platform::TickCount();
  const uint32_t span = ticks - static_cast<uint32_t>(base_);
  if (restart) {
    base_ = ticks;
    counter_ = false;
  }
  return uint64_t{span} * kNanosecondsPerMillisecond;
}

}  // namespace corvane::stream
