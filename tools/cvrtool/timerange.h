// Time ranges (--since/--until) over a log's time stamps, as the log holds
// them (nanoseconds), and the reader that keeps to one.
#ifndef CVRTOOL_TIMERANGE_H_
#define CVRTOOL_TIMERANGE_H_

#include <cstdint>
#include <string>

#include "args.h"
#include "log_reader.h"

namespace cvrtool {

// "1500", "1500ns", "2.5us", "10ms", "1.25s": a bare integer is nanoseconds.
uint64_t ParseTime(const std::string& text, const std::string& what);

// Positions `log` on message `number` through its index, building the
// index first (saved beside the log) when it has none.
void JumpThroughIndex(LogReader* log, int64_t number, const char* command);
// The generation for an output: --to, else the input's when LogFile2 writes
// it, else 1.02.
EnumFileVersion OutputVersion(const Args& args, int input_version);

// [since, until): a record belongs when since <= stamp < until.
struct TimeRange {
  bool has_since = false, has_until = false;
  uint64_t since = 0, until = UINT64_MAX;
  bool active() const { return has_since || has_until; }
  bool Contains(uint64_t stamp) const { return stamp >= since && stamp < until; }
};
TimeRange TimeRangeFromArgs(const Args& args);

// Reads the records of a range. Where the time stamps rise through the log,
// Start() reaches the first record at or after `since` by bisection over
// Jump (building the index first when the log has none) and Next() stops at
// the first stamp at or after `until`; where they do not rise, it reads
// from the start, keeps the records within the range and says so once on
// standard error. Bookmarks (whose stamps say nothing) go with the records
// around them.
class RangeReader {
 public:
  RangeReader(LogReader* log, TimeRange range, const char* command);
  void Start();
  bool Next(Record* record, bool with_data);
  bool rising() const { return rising_; }
  int64_t jumps() const { return jumps_; }

 private:
  // The stamp of the first record that is no bookmark at or after message
  // `number`; UINT64_MAX past the end.
  uint64_t StampAt(int64_t number);

  LogReader* log_;
  TimeRange range_;
  const char* command_;
  bool rising_ = false, in_range_ = false, done_ = false;
  int64_t jumps_ = 0;
};

}  // namespace cvrtool

#endif  // CVRTOOL_TIMERANGE_H_
