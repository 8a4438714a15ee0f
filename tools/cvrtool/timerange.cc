#include "timerange.h"

#include <cinttypes>
#include <cstdio>
#include <regex>

#include "com.h"
#include "copying.h"
#include "names.h"
#include "indexing.h"
#include "progress.h"

namespace cvrtool {

uint64_t ParseTime(const std::string& text, const std::string& what) {
  static const std::regex form("([0-9]{1,19})(?:\\.([0-9]{1,9}))?(ns|us|ms|s)?");
  std::smatch m;
  if (!std::regex_match(text, m, form) || (m[2].matched && !m[3].matched)) {
    throw UsageError(what + " must be a time such as 1500, 1500ns, 2.5us, 10ms or 1.25s, not '" +
                     text + "'");
  }
  const std::string unit = m[3].matched ? m[3].str() : "ns";
  const uint64_t scale = unit == "s" ? 1000000000 : unit == "ms" ? 1000000 : unit == "us" ? 1000 : 1;
  const uint64_t whole = std::stoull(m[1].str());
  std::string fraction = m[2].str();
  const size_t digits = unit == "s" ? 9 : unit == "ms" ? 6 : unit == "us" ? 3 : 0;
  if (fraction.size() > digits && fraction.find_first_not_of('0', digits) != std::string::npos) {
    throw UsageError(what + " is finer than a nanosecond: '" + text + "'");
  }
  fraction.resize(digits, '0');
  if (whole > (UINT64_MAX - 999999999) / scale) throw UsageError(what + " is too large: '" + text + "'");
  return whole * scale + (digits ? std::stoull(fraction) : 0);
}

void JumpThroughIndex(LogReader* log, int64_t number, const char* command) {
  ILogFile2* log2 = log->log2();
  if (!log2) throw ToolError("--from needs LogFile2, which cannot read this log");
  if (!QueryIndex(log2).present) {
    const IndexRun run = BuildIndex(log2, log->path(), kDefaultIndexResolution, StderrIsTerminal());
    if (!run.reached_end()) {
      std::fprintf(stderr, "cvrtool %s: indexing stopped at offset %" PRId64 " of %" PRId64
                           "; the log may be damaged (cvrtool verify)\n",
                   command, run.progress, run.file_size);
    }
  }
  log->Jump(number);
}

EnumFileVersion OutputVersion(const Args& args, int input_version) {
  const EnumFileVersion same = WritableVersionFromName(WritableVersionShortName(input_version));
  return VersionOption(args, same == FileVersionUnknown ? FileVersionCVR_V0102 : same);
}

TimeRange TimeRangeFromArgs(const Args& args) {
  TimeRange r;
  r.has_since = args.Has("since");
  r.has_until = args.Has("until");
  if (r.has_since) r.since = ParseTime(args.Value("since", ""), "--since");
  if (r.has_until) r.until = ParseTime(args.Value("until", ""), "--until");
  if (r.since > r.until) throw UsageError("--since lies after --until");
  return r;
}

RangeReader::RangeReader(LogReader* log, TimeRange range, const char* command)
    : log_(log), range_(range), command_(command) {}

uint64_t RangeReader::StampAt(int64_t number) {
  log_->Jump(number);
  ++jumps_;
  Record r;
  while (log_->Next(&r, false)) {
    if (!r.is_bookmark) return r.header.qwTimeStamp;
  }
  return UINT64_MAX;
}

void RangeReader::Start() {
  ILogFile2* log2 = log_->log2();
  if (!range_.active()) {
    rising_ = true;  // nothing to find: every record belongs
    return;
  }
  int64_t count = 0;
  if (log2) {
    IndexState index = QueryIndex(log2);
    if (!index.present) {
      BuildIndex(log2, log_->path(), kDefaultIndexResolution, StderrIsTerminal());
      index = QueryIndex(log2);
    }
    count = index.present ? index.records : 0;
  }
  if (count > 0) {
    // Rising: the first records, a few stamps spread over the log and the
    // last one, in order.
    constexpr int kSamples = 16;
    rising_ = true;
    uint64_t last = 0;
    log_->Jump(0);
    Record r;
    for (int i = 0; i < 4 && rising_ && log_->Next(&r, false);) {
      if (r.is_bookmark) continue;
      rising_ = r.header.qwTimeStamp >= last;
      last = r.header.qwTimeStamp;
      ++i;
    }
    last = 0;
    for (int i = 0; i <= kSamples && rising_; ++i) {
      const uint64_t stamp = StampAt(count * i / kSamples - (i == kSamples ? 1 : 0));
      if (stamp != UINT64_MAX && stamp < last) rising_ = false;
      if (stamp != UINT64_MAX) last = stamp;
    }
  }
  if (!rising_) {
    std::fprintf(stderr, "cvrtool %s: the time stamps of %s do not rise (or it has no index); "
                         "reading it whole to find the range\n", command_, log_->path().c_str());
    if (count > 0) log_->Jump(0);
    return;
  }
  // The first message whose next stamp is at or after `since`.
  int64_t lo = 0, hi = count;
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    if (StampAt(mid) < range_.since) lo = mid + 1; else hi = mid;
  }
  log_->Jump(lo < count ? lo : count - 1);
  if (lo >= count) done_ = true;
}

bool RangeReader::Next(Record* record, bool with_data) {
  while (!done_ && log_->Next(record, with_data)) {
    if (record->is_bookmark) {
      // Reading in order from the range's start, or behind a record within it.
      if (rising_ || in_range_) return true;
      continue;
    }
    const uint64_t stamp = record->header.qwTimeStamp;
    if (rising_ && stamp >= range_.until) break;
    in_range_ = range_.Contains(stamp);
    if (in_range_) return true;
  }
  done_ = true;
  return false;
}

}  // namespace cvrtool
