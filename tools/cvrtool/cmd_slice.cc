// slice: a part of a log, by message number or by time, as a new log.
#include "args.h"
#include "commands.h"
#include "copying.h"
#include "log_reader.h"
#include "log_writer.h"
#include "names.h"
#include "output.h"
#include "progress.h"
#include "timerange.h"

namespace cvrtool {

const char kSliceHelp[] =
    "usage: cvrtool slice LOG OUT (--from N [--count K] | --since T [--until T])\n"
    "                            [--to F] [--json]\n"
    "\n"
    "Writes a part of LOG to the new log OUT, records as convert copies them\n"
    "(bulk blocks, bookmarks within the part). The start is reached through\n"
    "LOG's index (built first when it has none): by message number, or, where\n"
    "the time stamps rise, by bisection over the stamps; where they do not\n"
    "rise the whole log is read and the records within the range kept.\n"
    "\n"
    "  --from N      from message number N (bookmarks count, as dump shows)\n"
    "  --count K     at most K records (default: to the end)\n"
    "  --since T     from the first record stamped at or after T\n"
    "  --until T     up to the last record stamped before T; T: 1500 (ns),\n"
    "                1500ns, 2.5us, 10ms or 1.25s\n"
    "  --to F        generation of OUT (default LOG's, or 1.02)\n"
    "  --json        print the summary as one JSON object\n"
    "\n"
    "example: cvrtool slice demo.cvr part.cvr --since 1.5ms --until 2ms\n";

int RunSlice(const Words& words) {
  const Args args(words, {{"from", true}, {"count", true}, {"since", true}, {"until", true},
                          {"to", true}, {"json", false}});
  if (args.help()) return PrintHelp(kSliceHelp);
  args.ExpectPositional(2, 2);
  const TimeRange range = TimeRangeFromArgs(args);
  const bool by_number = args.Has("from") || args.Has("count");
  if (by_number == range.active()) throw UsageError("slice needs either --from N [--count K] or --since T [--until T]");
  const int64_t from = args.Int("from", 0, 0, INT64_MAX);
  const int64_t count = args.Int("count", INT64_MAX, 0, INT64_MAX);
  const std::string& in_path = args.positional()[0];
  const std::string& out_path = args.positional()[1];
  CheckDistinct(in_path, out_path);

  LogReader in(in_path);
  const int64_t size = in.FileSize();
  RangeReader reader(&in, range, "slice");
  if (by_number && from > 0) JumpThroughIndex(&in, from, "slice");
  reader.Start();
  LogWriter out(out_path, OutputVersion(args, in.version()));
  RecordCopier copier(&out, true);
  Progress bar("slicing", StderrIsTerminal());
  int64_t records = 0, first = -1;
  Record r;
  while (records < count && reader.Next(&r, true)) {
    if (first < 0) first = r.number;
    copier.Add(r);
    if ((++records & 0x3FF) == 0 && bar.enabled()) bar.Update(in.Position(), size);
  }
  copier.Flush();
  out.Close();
  bar.Finish();
  if (args.Has("json")) {
    PrintLine(Json()
                  .Add("from", in_path)
                  .Add("to", out_path)
                  .Add("to_format", FileVersionName(out.version()))
                  .Add("first_msg", first)
                  .Add("records", records)
                  .Add("messages", out.messages())
                  .Add("bookmarks", out.bookmarks())
                  .Add("rising", reader.rising())
                  .Add("jumps", reader.jumps())
                  .str());
  } else {
    PrintLine("sliced " + std::to_string(records) + " records of " + in_path + " from message " +
              std::to_string(first) + " into " + out_path + ": " + std::to_string(out.messages()) +
              " messages, " + std::to_string(out.bookmarks()) + " bookmarks");
  }
  return kExitOk;
}

}  // namespace cvrtool
