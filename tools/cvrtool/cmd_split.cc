// split: a log cut into pieces by record count, size or time.
#include <cstdio>
#include <memory>

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

const char kSplitHelp[] =
    "usage: cvrtool split LOG PREFIX (--count K | --size BYTES | --interval SECONDS)\n"
    "                               [--to F] [--json]\n"
    "\n"
    "Cuts LOG into the logs PREFIX-0001.cvr, PREFIX-0002.cvr, ... (replacing\n"
    "them), records copied as convert copies them. A bookmark goes with the\n"
    "record after it; a bulk block is never cut.\n"
    "\n"
    "  --count K            K records per piece (bookmarks count)\n"
    "  --size BYTES         a new piece once a piece holds about BYTES\n"
    "  --interval SECONDS   a new piece once a record is stamped SECONDS or more\n"
    "                       after the piece's first (decimal, or with a unit:\n"
    "                       1.5, 250ms, 100us)\n"
    "  --to F               generation of the pieces (default LOG's, or 1.02)\n"
    "  --json               print the summary as one JSON object\n"
    "\n"
    "example: cvrtool split demo.cvr part --interval 1ms\n";

int RunSplit(const Words& words) {
  const Args args(words, {{"count", true}, {"size", true}, {"interval", true}, {"to", true}, {"json", false}});
  if (args.help()) return PrintHelp(kSplitHelp);
  args.ExpectPositional(2, 2);
  if (args.Has("count") + args.Has("size") + args.Has("interval") != 1) {
    throw UsageError("split needs one of --count K, --size BYTES or --interval SECONDS");
  }
  const int64_t count = args.Int("count", INT64_MAX, 1, INT64_MAX);
  const int64_t bytes = args.Int("size", INT64_MAX, 1, INT64_MAX);
  uint64_t interval = UINT64_MAX;
  if (args.Has("interval")) {
    std::string text = args.Value("interval", "");
    if (!text.empty() && text.find_first_not_of("0123456789.") == std::string::npos) text += "s";
    interval = ParseTime(text, "--interval");
    if (interval == 0) throw UsageError("--interval must be more than 0");
  }
  const std::string& in_path = args.positional()[0];
  const std::string& prefix = args.positional()[1];

  LogReader in(in_path);
  const int64_t size = in.FileSize();
  const EnumFileVersion version = OutputVersion(args, in.version());
  std::unique_ptr<LogWriter> out;
  RecordCopier copier(nullptr, true);
  std::vector<std::string> pieces;
  int64_t in_piece = 0, records = 0, piece_bytes = 0;
  uint64_t piece_start = 0;
  bool stamped = false;
  auto next_piece = [&] {
    copier.Flush();
    if (out) out->Close();
    char name[16];
    std::snprintf(name, sizeof name, "-%04zu.cvr", pieces.size() + 1);
    pieces.push_back(prefix + name);
    CheckDistinct(in_path, pieces.back());
    out = std::make_unique<LogWriter>(pieces.back(), version);
    copier.SetWriter(out.get());
    in_piece = 0;
    piece_bytes = FileHeaderLength(version);
    stamped = false;
  };
  Progress bar("splitting", StderrIsTerminal());
  Record r;
  while (in.Next(&r, true)) {
    // A bulk block's further messages stay with its first.
    const bool can_cut = r.bulk != BulkRole::kNext;
    const uint64_t stamp = r.header.qwTimeStamp;
    if (!out || (can_cut && (in_piece >= count || piece_bytes >= bytes ||
                             (!r.is_bookmark && stamped && stamp - piece_start >= interval && stamp >= piece_start)))) {
      next_piece();
    }
    if (!r.is_bookmark && !stamped) piece_start = stamp, stamped = true;
    // The writer buffers: the size is counted here (block headers and data).
    const int64_t header = r.bulk == BulkRole::kNext ? 0 : r.bulk == BulkRole::kFirst ? BlockHeaderLength(version) + 4 : BlockHeaderLength(version);
    piece_bytes += header + static_cast<int64_t>(r.data.size());
    copier.Add(r);
    ++in_piece;
    if ((++records & 0x3FF) == 0 && bar.enabled()) bar.Update(in.Position(), size);
  }
  copier.Flush();
  if (out) out->Close();
  bar.Finish();
  if (args.Has("json")) {
    JsonArray files;
    for (const std::string& p : pieces) files.Add(p);
    PrintLine(Json().Add("from", in_path).Add("records", records).Add("pieces", static_cast<int64_t>(pieces.size()))
                  .Add("files", files).str());
  } else {
    PrintLine("split " + std::to_string(records) + " records of " + in_path + " into " +
              std::to_string(pieces.size()) + " logs " + prefix + "-0001.cvr ...");
  }
  return kExitOk;
}

}  // namespace cvrtool
