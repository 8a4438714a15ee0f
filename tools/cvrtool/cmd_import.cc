// import: a packet capture (pcap or pcapng) as a log.
#include "args.h"
#include "commands.h"
#include "copying.h"
#include "log_reader.h"
#include "log_writer.h"
#include "names.h"
#include "output.h"
#include "pcapng.h"
#include "progress.h"

namespace cvrtool {

const char kImportHelp[] =
    "usage: cvrtool import IN OUT [--to 1.02|u1.02|e1.02|e1.01] [--json]\n"
    "\n"
    "Reads a pcap (either byte order, micro- or nanosecond stamps) or pcapng\n"
    "capture and writes its packets to the log OUT (default generation 1.02):\n"
    "each packet becomes a CVR_ID_QUIVOX_MSG block with the packet's time stamp\n"
    "in nanoseconds, on the connection of its interface's number (pcap: 0);\n"
    "a packet comment becomes a bookmark before it. A capture written by\n"
    "cvrtool export comes back as it was: block ids, connections, stamps, stamp\n"
    "modes, bulk blocks and bookmarks.\n"
    "\n"
    "  --to F    1.02 (plain, default), u1.02, e1.02 or e1.01\n"
    "  --json    print the summary as one JSON object\n"
    "\n"
    "example: cvrtool import demo.pcapng demo-back.cvr\n";

int RunImport(const Words& words) {
  const Args args(words, {{"to", true}, {"json", false}});
  if (args.help()) return PrintHelp(kImportHelp);
  args.ExpectPositional(2, 2);
  const EnumFileVersion version = VersionOption(args, FileVersionCVR_V0102);
  const std::string& in_path = args.positional()[0];
  const std::string& out_path = args.positional()[1];

  CaptureReader in(in_path);
  LogWriter out(out_path, version);
  RecordCopier copier(&out, true);
  Progress bar("importing", StderrIsTerminal());
  Packet p;
  Record r;
  int64_t packets = 0, foreign = 0;
  while (in.Next(&p)) {
    ++packets;
    LogBlockHeader& h = r.header;
    h = LogBlockHeader{};
    r.is_bookmark = false;
    uint8_t kind = kKindUnknown;
    if (p.ours && p.data.size() >= kPseudoHeaderLength) {
      kind = p.data[4];
      h.wBlockID = static_cast<uint16_t>(p.data[0] << 8 | p.data[1]);
      h.byConnID = p.data[2];
      h.byTimeStampMode = p.data[3];
      p.data.erase(p.data.begin(), p.data.begin() + kPseudoHeaderLength);
    } else {
      ++foreign;
      h.wBlockID = CVR_ID_QUIVOX_MSG;
      h.byConnID = static_cast<uint8_t>(p.iface > 0xFE ? 0xFE : p.iface);
      h.byTimeStampMode = p.has_stamp ? 1 : 0;
      if (!p.comment.empty()) {
        r.is_bookmark = true;
        r.data.assign(p.comment.begin(), p.comment.end());
        copier.Add(r);
        r.is_bookmark = false;
      }
    }
    if (kind == kKindBookmark) {
      r.is_bookmark = true;
      r.data.assign(p.comment.begin(), p.comment.end());
    } else {
      h.qwTimeStamp = p.stamp;
      h.dwDataLength = static_cast<ULONG>(p.data.size());
      r.data = std::move(p.data);
    }
    r.bulk = kind == kKindBulkFirst ? BulkRole::kFirst : kind == kKindBulkNext ? BulkRole::kNext : BulkRole::kNone;
    copier.Add(r);
    if ((packets & 0x3FF) == 0 && bar.enabled()) bar.Update(in.position(), in.size());
  }
  copier.Flush();
  out.Close();
  bar.Finish();
  if (args.Has("json")) {
    PrintLine(Json()
                  .Add("from", in_path)
                  .Add("from_format", in.format())
                  .Add("to", out_path)
                  .Add("to_format", FileVersionName(version))
                  .Add("packets", packets)
                  .Add("foreign_packets", foreign)
                  .Add("messages", out.messages())
                  .Add("blocks", out.blocks())
                  .Add("bookmarks", out.bookmarks())
                  .str());
  } else {
    PrintLine("imported " + std::to_string(packets) + " packets of " + in_path + " (" + in.format() +
              ") into " + out_path + " (" + FileVersionDescription(version) + "): " +
              std::to_string(out.messages()) + " messages in " + std::to_string(out.blocks()) +
              " blocks, " + std::to_string(out.bookmarks()) + " bookmarks");
  }
  return kExitOk;
}

}  // namespace cvrtool
