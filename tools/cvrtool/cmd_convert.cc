// convert: reads any log the library reads and writes it in a generation
// that LogFile2 writes.
#include "args.h"
#include "commands.h"
#include "copying.h"
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


int RunConvert(const Words& words) {
  const Args args(words, {{"to", true}, {"split-bulk", false}, {"json", false}});
  if (args.help()) return PrintHelp(kConvertHelp);
  args.ExpectPositional(2, 2);
  if (!args.Has("to")) throw UsageError("convert needs --to F (" + std::string(kWritableVersionNames) + ")");
  const EnumFileVersion version = VersionOption(args, FileVersionUnknown);
  const std::string& in_path = args.positional()[0];
  const std::string& out_path = args.positional()[1];
  CheckDistinct(in_path, out_path);
  const bool regroup = !args.Has("split-bulk");

  LogReader in(in_path);
  const int64_t size = in.FileSize();
  LogWriter out(out_path, version);
  Progress bar("converting", StderrIsTerminal());
  RecordCopier copier(&out, regroup);
  int64_t records = 0;
  Record r;
  while (in.Next(&r, true)) {
    copier.Add(r);
    if ((++records & 0x3FF) == 0 && bar.enabled()) bar.Update(in.Position(), size);
  }
  copier.Flush();
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
                  .Add("bulk_blocks", copier.bulk_blocks())
                  .Add("bookmarks", out.bookmarks())
                  .str());
  } else {
    PrintLine("converted " + in_path + " (" + FileVersionDescription(in.version()) + ") to " +
              out_path + " (" + FileVersionDescription(version) + "): " +
              std::to_string(out.messages()) + " messages in " + std::to_string(out.blocks()) +
              " blocks (" + std::to_string(copier.bulk_blocks()) + " bulk blocks), " +
              std::to_string(out.bookmarks()) + " bookmarks");
  }
  return kExitOk;
}

}  // namespace cvrtool
