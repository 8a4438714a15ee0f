// Generated time stamps: counter spans to nanoseconds without overflow.
#include "stream/time_base.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace corvane::stream {
namespace {

TEST(TimeBaseTest, CounterSpansBecomeNanosecondsWithoutOverflow) {
  struct Case {
    int64_t span, frequency;
    uint64_t nanoseconds;
  };
  const Case cases[] = {
      {1, 3, 333333333},
      // 20 s of a 1 GHz counter (Linux): span x 10^9 would pass 2^64.
      {int64_t{20} * 1000000000, 1000000000, uint64_t{20} * 1000000000},
      // A day of a 10 MHz counter: span x 10^9 would pass 2^63.
      {864000000000, 10000000, 86400000000000},
      {int64_t{3579545} * 31536000, 3579545, uint64_t{31536000} * 1000000000},
      // A counter that went back gives 0 rather than a huge stamp.
      {-5, 10000000, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TimeBase::CounterToNanoseconds(c.span, c.frequency), c.nanoseconds) << c.span << " / " << c.frequency;
  }
}

}  // namespace
}  // namespace corvane::stream
