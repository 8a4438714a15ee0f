// Generated time stamps: counter spans to nanoseconds without overflow.
#include "logfile2/time_base.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace corvane::logfile2 {
namespace {

TEST(TimeBaseTest, CounterSpansBecomeNanosecondsWithoutOverflow) {
  struct Case {
    int64_t span;
    int64_t frequency;
    uint64_t nanoseconds;
  };
  const Case cases[] = {
      {0, 10000000, 0},
      {1, 10000000, 100},
      {10000000, 10000000, 1000000000},
      {3, 3, 1000000000},
      {1, 3, 333333333},
      // A day of a 10 MHz counter: the product span x 10^9 would pass 2^63.
      {864000000000, 10000000, 86400000000000},
      // A year of a 3.579545 MHz counter.
      {int64_t{3579545} * 31536000, 3579545, uint64_t{31536000} * 1000000000},
      // A counter that went back gives 0 rather than a huge stamp.
      {-5, 10000000, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TimeBase::CounterToNanoseconds(c.span, c.frequency), c.nanoseconds)
        << c.span << " / " << c.frequency;
  }
}

TEST(TimeBaseTest, StampsFromOneBaseNeverGoBack) {
  TimeBase base;
  base.Restart();
  uint64_t last = 0;
  for (int i = 0; i < 1000; ++i) {
    const uint64_t stamp = base.Stamp(false);
    EXPECT_GE(stamp, last);
    last = stamp;
  }
}

}  // namespace
}  // namespace corvane::logfile2
