// dump: one line per record in message-number order.
#include <cinttypes>
#include <cstdio>

#include "args.h"
#include "commands.h"
#include "indexing.h"
#include "log_reader.h"
#include "names.h"
#include "output.h"
#include "progress.h"
#include "timerange.h"

namespace cvrtool {

const char kDumpHelp[] =
    "usage: cvrtool dump LOG [--from N] [--count K] [--data none|hex|ascii]\n"
    "                        [--bytes B] [--since T] [--until T] [--json]\n"
    "\n"
    "Prints one line per record: message number, block identifier, connection,\n"
    "time stamp mode, time stamp in seconds and in nanoseconds, data length,\n"
    "kind and data. Message numbers count bookmarks, which appear at their\n"
    "place with their comment. Kind tells a block of its own ('block') from\n"
    "the first and further messages of a bulk block ('bulk', 'bulk+'); '?' where\n"
    "that cannot be told (a message right after a jump, formats without blocks).\n"
    "\n"
    "  --from N      start at message N: jumps there through the log's index,\n"
    "                building the index first (saved as LOG's .idx) if it has none\n"
    "  --count K     print at most K records\n"
    "  --data D      none, hex (default) or ascii\n"
    "  --bytes B     show at most B data bytes per record (default 32, 0: all)\n"
    "  --since T     start at the first record stamped at or after T (found by\n"
    "                bisection through the index where the stamps rise)\n"
    "  --until T     stop before the first record stamped at or after T;\n"
    "                T: 1500 (ns), 1500ns, 2.5us, 10ms or 1.25s\n"
    "  --json        one JSON object per record\n"
    "\n"
    "example: cvrtool dump demo.cvr --from 5000 --count 20 --data ascii\n";

namespace {

DataStyle ParseDataStyle(const std::string& text) {
  if (text == "none") return DataStyle::kNone;
  if (text == "hex") return DataStyle::kHex;
  if (text == "ascii") return DataStyle::kAscii;
  throw UsageError("--data must be none, hex or ascii, not '" + text + "'");
}

const char* KindName(const Record& r) {
  if (r.is_bookmark) return "bookmark";
  switch (r.bulk) {
    case BulkRole::kNone: return "block";
    case BulkRole::kFirst: return "bulk";
    case BulkRole::kNext: return "bulk+";
    case BulkRole::kUnknown: break;
  }
  return "?";
}

}  // namespace

int RunDump(const Words& words) {
  const Args args(words, {{"from", true}, {"count", true}, {"data", true}, {"bytes", true},
                          {"json", false}, {"since", true}, {"until", true}});
  if (args.help()) return PrintHelp(kDumpHelp);
  args.ExpectPositional(1, 1);
  const int64_t from = args.Int("from", 0, 0, INT64_MAX);
  const int64_t count = args.Int("count", INT64_MAX, 0, INT64_MAX);
  const DataStyle style = ParseDataStyle(args.Value("data", "hex"));
  const auto limit = static_cast<size_t>(args.Int("bytes", 32, 0, INT32_MAX));
  const bool json = args.Has("json");

  const TimeRange range = TimeRangeFromArgs(args);
  if (range.active() && args.Has("from")) throw UsageError("--from and --since/--until exclude each other");
  LogReader log(args.positional()[0]);
  RangeReader reader(&log, range, "dump");
  reader.Start();
  if (args.Has("from") && from > 0) JumpThroughIndex(&log, from, "dump");

  if (!json) {
    std::printf("%10s  %-6s %-26s %4s %4s %21s %20s %8s  %-8s %s\n", "MSG", "ID", "NAME", "CONN",
                "MODE", "TIME (s)", "TIME (ns)", "LENGTH", "KIND", "DATA");
  }
  const auto& marks = log.bookmark_numbers();
  Record r;
  for (int64_t printed = 0; printed < count && reader.Next(&r, true);
       ++printed) {
    const LogBlockHeader& h = r.header;
    std::string data;
    int64_t bookmark = -1;
    if (r.is_bookmark) {
      for (size_t i = 0; i < marks.size(); ++i) {
        if (marks[i] == r.number) bookmark = static_cast<int64_t>(i);
      }
      const std::string comment(r.data.begin(), r.data.end());
      data = json ? comment : "#" + std::to_string(bookmark) + " \"" + EscapeText(comment) + "\"";
    } else if (json) {
      data = style == DataStyle::kAscii ? FormatData(r.data.data(), r.data.size(), style, 0)
                                        : HexBytes(r.data.data(), r.data.size());
    } else {
      data = FormatData(r.data.data(), r.data.size(), style, limit);
    }
    if (json) {
      Json j;
      j.Add("msg", r.number).Add("id", unsigned{h.wBlockID}).Add("name", BlockIdName(h.wBlockID));
      j.Add("conn", unsigned{h.byConnID}).Add("mode", unsigned{h.byTimeStampMode});
      j.Add("ns", static_cast<uint64_t>(h.qwTimeStamp)).Add("s", Seconds(h.qwTimeStamp));
      j.Add("length", static_cast<uint64_t>(h.dwDataLength)).Add("kind", KindName(r));
      if (r.offset >= 0) j.Add("offset", r.offset);
      if (r.is_bookmark) {
        j.Add("bookmark", bookmark).Add("comment", data);
      } else if (style != DataStyle::kNone) {
        j.Add(style == DataStyle::kAscii ? "text" : "data", data);
      }
      PrintLine(j.str());
    } else {
      char head[160];
      std::snprintf(head, sizeof head, "%10" PRId64 "  0x%04x %-26s %4u %4u %21s %20" PRIu64
                                       " %8u  %-8s ",
                    r.number, h.wBlockID, BlockIdName(h.wBlockID), h.byConnID, h.byTimeStampMode,
                    Seconds(h.qwTimeStamp).c_str(), static_cast<uint64_t>(h.qwTimeStamp),
                    static_cast<unsigned>(h.dwDataLength), KindName(r));
      PrintLine(head + data);
    }
  }
  return kExitOk;
}

}  // namespace cvrtool
