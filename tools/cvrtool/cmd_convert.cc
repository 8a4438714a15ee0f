// convert: reads any log the library reads and writes it in a generation
// that LogFile2 writes.
#include <filesystem>

#include "args.h"
#include "commands.h"
#include "log_reader.h"
#include "log_writer.h"
#include "names.h"
#include "output.h"
#include "progress.h"

namespace cvrtool {

const char kConvertHelp[] =
    "usage: cvrtool convert IN OUT --to 1.02|u1.02|e1.02|e1.01 [--split-bulk] [--json]\n"
    "\n"
    "Writes the records of IN to OUT (replacing it and its .idx/.bmk files)\n"
    "in the chosen generation, keeping block identifiers, connections, time\n"
    "stamps and bookmarks (with their message numbers). Time stamps are\n"
    "written as given (mode 1); a record that carries none keeps mode 0.\n"
    "Messages that came out of one bulk block go back into one bulk block, laid\n"
    "out for the new generation; a bookmark that stood inside a bulk block\n"
    "splits it in two. IN's index is not copied: run cvrtool index on OUT.\n"
    "\n"
    "  --to F         1.02 (plain), u1.02 (big-endian), e1.02 or e1.01 (enciphered)\n"
    "  --split-bulk   write every message of a bulk block as a block of its own\n"
    "  --json         print the summary as one JSON object\n"
    "\n"
    "example: cvrtool convert demo.cvr demo-u.cvr --to u1.02\n";

namespace {

namespace fs = std::filesystem;

// IN and OUT must not be one file, nor share the index and bookmark files
// that lie beside a log under its name without extension.
void CheckDistinct(const std::string& in, const std::string& out) {
  std::error_code ec;
  if (fs::exists(out, ec) && fs::equivalent(in, out, ec)) {
    throw UsageError("IN and OUT are the same file");
  }
  const fs::path a = fs::weakly_canonical(fs::path(in), ec);
  const fs::path b = fs::weakly_canonical(fs::path(out), ec);
  if (a.parent_path() == b.parent_path() && a.stem() == b.stem()) {
    throw UsageError("IN and OUT differ only in their extension and would share their .idx and "
                     ".bmk files; choose another name for OUT");
  }
}

// Collects the messages of one bulk block until something else comes.
struct PendingBulk {
  std::vector<std::vector<uint8_t>> messages;
  uint8_t mode = 0;
  uint64_t stamp = 0;

  void Flush(LogWriter& out, int64_t* bulk_blocks) {
    if (messages.empty()) return;
    out.WriteBulk(0xFF, mode, stamp, messages);
    ++*bulk_blocks;
    messages.clear();
  }
};

}  // namespace

int RunConvert(const Words& words) {
  const Args args(words, {{"to", true}, {"split-bulk", false}, {"json", false}});
  if (args.help()) return PrintHelp(kConvertHelp);
  args.ExpectPositional(2, 2);
  if (!args.Has("to")) throw UsageError("convert needs --to F (" + std::string(kWritableVersionNames) + ")");
  const EnumFileVersion version = WritableVersionFromName(args.Value("to", ""));
  if (version == FileVersionUnknown) {
    throw UsageError("--to must be one of " + std::string(kWritableVersionNames) + ", not '" +
                     args.Value("to", "") + "'");
  }
  const std::string& in_path = args.positional()[0];
  const std::string& out_path = args.positional()[1];
  CheckDistinct(in_path, out_path);
  const bool regroup = !args.Has("split-bulk");

  LogReader in(in_path);
  const int64_t size = in.FileSize();
  LogWriter out(out_path, version);
  Progress bar("converting", StderrIsTerminal());
  PendingBulk pending;
  int64_t bulk_blocks = 0, records = 0;
  Record r;
  while (in.Next(&r, true)) {
    const LogBlockHeader& h = r.header;
    // Modes 2 and 3 would make the writer take a new stamp.
    const uint8_t mode = (h.byTimeStampMode == 2 || h.byTimeStampMode == 3) ? 1 : h.byTimeStampMode;
    const bool in_bulk = regroup && (r.bulk == BulkRole::kFirst || r.bulk == BulkRole::kNext);
    if (!in_bulk || r.bulk == BulkRole::kFirst || r.is_bookmark) pending.Flush(out, &bulk_blocks);
    if (r.is_bookmark) {
      out.WriteBookmark(std::string(r.data.begin(), r.data.end()));
    } else if (in_bulk) {
      if (pending.messages.empty()) pending.mode = mode, pending.stamp = h.qwTimeStamp;
      pending.messages.push_back(std::move(r.data));
    } else {
      out.Write(h.wBlockID, h.byConnID, mode, h.qwTimeStamp, r.data.data(),
                static_cast<uint32_t>(r.data.size()));
    }
    if ((++records & 0x3FF) == 0 && bar.enabled()) bar.Update(in.Position(), size);
  }
  pending.Flush(out, &bulk_blocks);
  out.Close();
  bar.Update(size, size);
  bar.Finish();

  if (args.Has("json")) {
    PrintLine(Json()
                  .Add("from", in_path)
                  .Add("from_format", FileVersionName(in.version()))
                  .Add("to", out_path)
                  .Add("to_format", FileVersionName(version))
                  .Add("messages", out.messages())
                  .Add("blocks", out.blocks())
                  .Add("bulk_blocks", bulk_blocks)
                  .Add("bookmarks", out.bookmarks())
                  .str());
  } else {
    PrintLine("converted " + in_path + " (" + FileVersionDescription(in.version()) + ") to " +
              out_path + " (" + FileVersionDescription(version) + "): " +
              std::to_string(out.messages()) + " messages in " + std::to_string(out.blocks()) +
              " blocks (" + std::to_string(bulk_blocks) + " bulk blocks), " +
              std::to_string(out.bookmarks()) + " bookmarks");
  }
  return kExitOk;
}

}  // namespace cvrtool
