// repair: every intact record of a damaged or cut-short log into a new log.
#include "args.h"
#include "commands.h"
#include "copying.h"
#include "indexing.h"
#include "log_reader.h"
#include "log_writer.h"
#include "names.h"
#include "output.h"
#include "progress.h"
#include "timerange.h"

namespace cvrtool {

const char kRepairHelp[] =
    "usage: cvrtool repair LOG OUT [--to F] [--json]\n"
    "\n"
    "Copies every record of LOG that reads intact to the new log OUT (as convert\n"
    "copies them) and reports what it dropped: a record the library reports\n"
    "damaged, and the bytes behind the last complete record (a recorder killed\n"
    "mid-block, a file cut short). Where LOG's index counts records beyond the\n"
    "damage, repair jumps past it and goes on; otherwise it stops there. A log\n"
    "that verifies clean comes out with the same records. Exits 0 when OUT was\n"
    "written, whether or not something was dropped.\n"
    "\n"
    "  --to F    generation of OUT (default LOG's, or 1.02)\n"
    "  --json    print the summary as one JSON object\n"
    "\n"
    "example: cvrtool repair cut.cvr mended.cvr\n";

int RunRepair(const Words& words) {
  const Args args(words, {{"to", true}, {"json", false}});
  if (args.help()) return PrintHelp(kRepairHelp);
  args.ExpectPositional(2, 2);
  const std::string& in_path = args.positional()[0];
  const std::string& out_path = args.positional()[1];
  CheckDistinct(in_path, out_path);

  LogReader in(in_path);
  const int64_t size = in.FileSize();
  const int64_t indexed = in.log2() ? QueryIndex(in.log2()).records : 0;
  LogWriter out(out_path, OutputVersion(args, in.version()));
  RecordCopier copier(&out, true);
  Progress bar("repairing", StderrIsTerminal());
  std::vector<std::string> dropped;
  int64_t records = 0, skipped = 0, dropped_bytes = 0;
  Record r;
  for (;;) {
    const int64_t number = in.next_number(), start = in.read_end();
    try {
      if (!in.Next(&r, true)) break;
    } catch (const ToolError& e) {
      copier.Flush();
      dropped.push_back("message " + std::to_string(number) +
                        (start >= 0 ? " at offset " + std::to_string(start) : "") + ": " + e.what());
      ++skipped;
      // Past the damage through the index, when it counts records beyond it.
      bool past = false;
      if (number + 1 < indexed) {
        try {
          in.Jump(number + 1);
          past = true;
        } catch (const ToolError&) {
        }
      }
      if (past) continue;
      if (start >= 0 && start < size) dropped_bytes = size - start;
      dropped.push_back("stopped at the damage: the index counts no record beyond it");
      break;
    }
    copier.Add(r);
    if ((++records & 0x3FF) == 0 && bar.enabled()) bar.Update(in.Position(), size);
  }
  if (const std::string tail = in.TrailingDamage(); !tail.empty() && skipped == 0) {
    dropped.push_back(tail);
    dropped_bytes = size - in.read_end();
  }
  copier.Flush();
  out.Close();
  bar.Finish();
  if (args.Has("json")) {
    JsonArray list;
    for (const std::string& d : dropped) list.Add(d);
    PrintLine(Json()
                  .Add("from", in_path)
                  .Add("to", out_path)
                  .Add("clean", dropped.empty())
                  .Add("records", records)
                  .Add("messages", out.messages())
                  .Add("bookmarks", out.bookmarks())
                  .Add("dropped_records", skipped)
                  .Add("dropped_bytes", dropped_bytes)
                  .Add("dropped", list)
                  .str());
  } else {
    PrintLine("repaired " + in_path + " into " + out_path + ": " + std::to_string(records) +
              " records kept (" + std::to_string(out.messages()) + " messages, " +
              std::to_string(out.bookmarks()) + " bookmarks)" +
              (dropped.empty() ? ", nothing dropped" : ""));
    for (const std::string& d : dropped) PrintLine("dropped: " + d);
  }
  return kExitOk;
}

}  // namespace cvrtool
