// stats: records and bytes per block id and connection, time span, rates
// and the largest gaps between time stamps.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <queue>

#include "args.h"
#include "commands.h"
#include "log_reader.h"
#include "names.h"
#include "output.h"
#include "progress.h"

namespace cvrtool {

const char kStatsHelp[] =
    "usage: cvrtool stats LOG [--gaps N] [--json]\n"
    "\n"
    "Reads LOG once and prints the records and data bytes per block identifier\n"
    "and per connection, the first, last, lowest and highest time stamp, the\n"
    "span between lowest and highest, records and bytes per second over it, and\n"
    "the N largest gaps between the stamps of records that follow each other\n"
    "(bookmarks left out). Exits 1 when the log turns out damaged (the counts\n"
    "then cover what could be read).\n"
    "\n"
    "  --gaps N   how many gaps to list (default 5)\n"
    "  --json     one JSON object\n"
    "\n"
    "example: cvrtool stats demo.cvr --json\n";

namespace {

struct Count {
  int64_t records = 0, bytes = 0;
};
struct Gap {
  uint64_t ns;
  int64_t after, before;  // message numbers on either side
  bool operator>(const Gap& o) const { return ns > o.ns; }
};

}  // namespace

int RunStats(const Words& words) {
  const Args args(words, {{"gaps", true}, {"json", false}});
  if (args.help()) return PrintHelp(kStatsHelp);
  args.ExpectPositional(1, 1);
  const auto gaps_wanted = static_cast<size_t>(args.Int("gaps", 5, 0, 1000));
  const std::string& path = args.positional()[0];
  LogReader log(path);
  const int64_t size = log.FileSize();
  std::map<unsigned, Count> per_id, per_conn;
  std::priority_queue<Gap, std::vector<Gap>, std::greater<Gap>> gaps;  // smallest on top
  int64_t records = 0, messages = 0, bookmarks = 0, bytes = 0, prev_number = -1;
  uint64_t first = 0, last = 0, low = UINT64_MAX, high = 0;
  std::string damage;
  Progress bar("counting", StderrIsTerminal());
  Record r;
  try {
    while (log.Next(&r, false)) {
      if ((++records & 0x3FF) == 0 && bar.enabled()) bar.Update(log.Position(), size);
      if (r.is_bookmark) {
        ++bookmarks;
        continue;
      }
      const LogBlockHeader& h = r.header;
      const uint64_t stamp = h.qwTimeStamp;
      Count& id = per_id[h.wBlockID];
      Count& conn = per_conn[h.byConnID];
      ++id.records, ++conn.records;
      id.bytes += h.dwDataLength, conn.bytes += h.dwDataLength, bytes += h.dwDataLength;
      if (messages++ == 0) first = stamp;
      if (prev_number >= 0 && stamp > last) {
        gaps.push({stamp - last, prev_number, r.number});
        if (gaps.size() > gaps_wanted) gaps.pop();
      }
      last = stamp;
      prev_number = r.number;
      low = std::min(low, stamp);
      high = std::max(high, stamp);
    }
    damage = log.TrailingDamage();
  } catch (const ToolError& e) {
    damage = e.what();
  }
  bar.Finish();
  std::vector<Gap> largest;
  for (; !gaps.empty(); gaps.pop()) largest.push_back(gaps.top());
  std::reverse(largest.begin(), largest.end());
  if (messages == 0) low = 0;
  const uint64_t span = high - low;
  const double seconds = static_cast<double>(span) / 1e9;
  const double record_rate = seconds > 0 ? static_cast<double>(messages) / seconds : 0;
  const double byte_rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;

  auto table = [](const std::map<unsigned, Count>& m, const char* key, bool names) {
    JsonArray out;
    for (const auto& [k, c] : m) {
      Json j;
      j.Add(key, k);
      if (names) j.Add("name", BlockIdName(k));
      out.Add(j.Add("records", c.records).Add("bytes", c.bytes));
    }
    return out;
  };
  if (args.Has("json")) {
    JsonArray gaps;
    for (const Gap& g : largest) gaps.Add(Json().Add("ns", g.ns).Add("after_msg", g.after).Add("before_msg", g.before));
    Json j;
    j.Add("file", path).Add("size", size).Add("records", records).Add("messages", messages);
    j.Add("bookmarks", bookmarks).Add("bytes", bytes).Add("first_ns", first).Add("last_ns", last);
    j.Add("low_ns", low).Add("high_ns", high).Add("span_ns", span).Add("rates", Json().Add("records_per_s", record_rate).Add("bytes_per_s", byte_rate));
    j.Add("ids", table(per_id, "id", true)).Add("connections", table(per_conn, "conn", false));
    j.Add("gaps", gaps);
    if (!damage.empty()) j.Add("damage", damage);
    PrintLine(j.str());
  } else {
    std::printf("%s: %lld records (%lld messages, %lld bookmarks), %lld data bytes\n", path.c_str(),
                static_cast<long long>(records), static_cast<long long>(messages),
                static_cast<long long>(bookmarks), static_cast<long long>(bytes));
    std::printf("stamps: first %s s, last %s s, span %s s (%s to %s)\n", Seconds(first).c_str(),
                Seconds(last).c_str(), Seconds(span).c_str(), Seconds(low).c_str(), Seconds(high).c_str());
    std::printf("rates: %.1f records/s, %s/s\n", record_rate, HumanBytes(byte_rate).c_str());
    std::printf("%-8s %-30s %12s %14s\n", "ID", "NAME", "RECORDS", "BYTES");
    for (const auto& [k, c] : per_id) {
      std::printf("0x%04x   %-30s %12lld %14lld\n", k, BlockIdName(k), static_cast<long long>(c.records),
                  static_cast<long long>(c.bytes));
    }
    std::printf("%-8s %12s %14s\n", "CONN", "RECORDS", "BYTES");
    for (const auto& [k, c] : per_conn) {
      std::printf("%-8u %12lld %14lld\n", k, static_cast<long long>(c.records), static_cast<long long>(c.bytes));
    }
    for (const Gap& g : largest) {
      std::printf("gap %s s between messages %lld and %lld\n", Seconds(g.ns).c_str(),
                  static_cast<long long>(g.after), static_cast<long long>(g.before));
    }
    if (!damage.empty()) std::printf("damage: %s\n", damage.c_str());
  }
  return damage.empty() ? kExitOk : kExitFailure;
}

}  // namespace cvrtool
