// Generated time stamps: nanoseconds since a time base, measured with the
// high-resolution counter (or the millisecond tick count where there is
// none).
//
// Not thread-safe: the LogFile and LogFile2 objects use it under their
// object locks.
#ifndef CORVANE_STREAM_TIME_BASE_H_
#define CORVANE_STREAM_TIME_BASE_H_

#include <cstdint>

namespace corvane::stream {

class TimeBase {
 public:
  // Sets the base to now (at Open).
  void Restart();
  // Nanoseconds since the base; with `restart` the base then becomes now.
  uint64_t Stamp(bool restart);

  // counter units -> nanoseconds without overflowing 64 bits: whole
  // seconds and the remainder are scaled separately. Negative spans (a
  // counter that went back) give 0.
  static uint64_t CounterToNanoseconds(int64_t span, int64_t frequency);

 private:
  bool counter_ = false;  // the base is a counter value, not a tick count
  int64_t base_ = 0;
  int64_t frequency_ = 0;  // of the counter, asked at Restart
};

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_TIME_BASE_H_
