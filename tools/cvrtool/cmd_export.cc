// export: a log's records as a packet capture (pcapng), JSON Lines or CSV.
#include <charconv>
#include <cstdio>
#include <type_traits>
#include <memory>

#include "args.h"
#include "commands.h"
#include "log_reader.h"
#include "names.h"
#include "output.h"
#include "pcapng.h"
#include "progress.h"
#include "timerange.h"

namespace cvrtool {

const char kExportHelp[] =
    "usage: cvrtool export LOG OUT --format pcapng|jsonl|csv [--since T] [--until T]\n"
    "                             [--json]\n"
    "\n"
    "Writes every record of LOG (bookmarks included) to OUT, one packet or line\n"
    "per record, nothing lost (docs/formats.md describes the layouts):\n"
    "  pcapng  one interface per connection (LINKTYPE_USER0, nanosecond stamps);\n"
    "          each packet starts with a 16-byte header carrying the block id,\n"
    "          connection, stamp mode, kind and message number; a bookmark is a\n"
    "          packet without data whose comment is the bookmark's, stamped\n"
    "          as the record before it\n"
    "  jsonl   one JSON object per line, fields as in csv\n"
    "  csv     a header line, then msg,id,name,conn,mode,kind,ns,s,length,data\n"
    "          (data in hex; for a bookmark its comment)\n"
    "cvrtool import reads the pcapng back into a log.\n"
    "\n"
    "  --since T     from the first record stamped at or after T\n"
    "  --until T     up to the last record stamped before T; T: 1500 (ns),\n"
    "                1500ns, 2.5us, 10ms, 1.25s, as the log holds its stamps\n"
    "  --json        print the summary as one JSON object\n"
    "\n"
    "example: cvrtool export demo.cvr demo.pcapng --format pcapng --since 10ms\n";

namespace {

uint8_t KindCode(const Record& r) {
  if (r.is_bookmark) return kKindBookmark;
  switch (r.bulk) {
    case BulkRole::kNone: return kKindBlock;
    case BulkRole::kFirst: return kKindBulkFirst;
    case BulkRole::kNext: return kKindBulkNext;
    case BulkRole::kUnknown: break;
  }
  return kKindUnknown;
}

const char* const kKindNames[] = {"block", "bulk", "bulk+", "?", "bookmark"};

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string q = "\"";
  for (const char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

}  // namespace

int RunExport(const Words& words) {
  const Args args(words, {{"format", true}, {"since", true}, {"until", true}, {"json", false}});
  if (args.help()) return PrintHelp(kExportHelp);
  args.ExpectPositional(2, 2);
  const std::string format = args.Value("format", "");
  if (format != "pcapng" && format != "jsonl" && format != "csv") {
    throw UsageError("--format must be pcapng, jsonl or csv, not '" + format + "'");
  }
  const TimeRange range = TimeRangeFromArgs(args);
  const std::string& in_path = args.positional()[0];
  const std::string& out_path = args.positional()[1];

  LogReader log(in_path);
  const int64_t size = log.FileSize();
  RangeReader reader(&log, range, "export");
  reader.Start();
  std::unique_ptr<PcapngWriter> pcapng;
  FILE* text = nullptr;
  if (format == "pcapng") {
    pcapng = std::make_unique<PcapngWriter>(out_path);
  } else {
    text = std::fopen(out_path.c_str(), "wb");
    if (!text) throw ToolError("cannot create " + out_path);
    std::setvbuf(text, nullptr, _IOFBF, 1 << 20);
    if (format == "csv") std::fputs("msg,id,name,conn,mode,kind,ns,s,length,data\n", text);
  }
  Progress bar("exporting", StderrIsTerminal());
  int64_t records = 0, bookmarks = 0;
  uint64_t first = 0, last = 0;
  Record r;
  std::vector<uint8_t> packet;
  std::string line;
  while (reader.Next(&r, true)) {
    const LogBlockHeader& h = r.header;
    const uint8_t kind = KindCode(r);
    const uint64_t stamp = h.qwTimeStamp;
    if (!r.is_bookmark) {
      if (records - bookmarks == 0) first = stamp;
      last = stamp;
    }
    ++records;
    bookmarks += r.is_bookmark;
    const std::string comment = r.is_bookmark ? std::string(r.data.begin(), r.data.end()) : "";
    if (pcapng) {
      packet.assign(kPseudoHeaderLength, 0);
      packet[0] = static_cast<uint8_t>(h.wBlockID >> 8);
      packet[1] = static_cast<uint8_t>(h.wBlockID);
      packet[2] = h.byConnID;
      packet[3] = h.byTimeStampMode;
      packet[4] = kind;
      for (int i = 0; i < 8; ++i) packet[8 + i] = static_cast<uint8_t>(static_cast<uint64_t>(r.number) >> (56 - 8 * i));
      if (!r.is_bookmark) packet.insert(packet.end(), r.data.begin(), r.data.end());
      // A bookmark carries no stamp of its own (0): it takes the one before it,
      // so that the capture keeps its time order.
      pcapng->Packet(h.byConnID, r.is_bookmark ? last : stamp, packet.data(), packet.size(), comment);
    } else {
      // Formatted in place with to_chars: this is the per-record path.
      const bool jsonl = format == "jsonl";
      line.clear();
      auto field = [&](const char* key, auto value, bool quoted = false) {
        if (jsonl) line += (line.empty() ? "{\"" : ",\""), line += key, line += "\":";
        else if (!line.empty()) line += ',';
        if (quoted && jsonl) line += '"';
        if constexpr (std::is_same_v<decltype(value), const char*>) {
          line += value;
        } else {
          char digits[24];
          line.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
        }
        if (quoted && jsonl) line += '"';
      };
      field("msg", r.number);
      field("id", unsigned{h.wBlockID});
      field("name", BlockIdName(h.wBlockID), true);
      field("conn", unsigned{h.byConnID});
      field("mode", unsigned{h.byTimeStampMode});
      field("kind", kKindNames[kind], true);
      field("ns", stamp);
      field("s", stamp / 1000000000, true);
      // Nine decimals of the seconds, inside the quotes the field closed.
      char nine[16];
      const auto* end = std::to_chars(nine, nine + sizeof nine, stamp % 1000000000 + 1000000000).ptr;
      nine[0] = '.';
      line.insert(line.size() - (jsonl ? 1 : 0), nine, static_cast<size_t>(end - nine));
      field("length", static_cast<unsigned>(h.dwDataLength));
      line += jsonl ? (r.is_bookmark ? ",\"comment\":" : ",\"data\":") : ",";
      if (r.is_bookmark) {
        line += jsonl ? JsonString(comment) : CsvField(comment);
      } else {
        if (jsonl) line += '"';
        static const char kHex[] = "0123456789abcdef";
        const size_t at = line.size();
        line.resize(at + 2 * r.data.size());
        for (size_t i = 0; i < r.data.size(); ++i) {
          line[at + 2 * i] = kHex[r.data[i] >> 4];
          line[at + 2 * i + 1] = kHex[r.data[i] & 0xF];
        }
        if (jsonl) line += '"';
      }
      if (jsonl) line += '}';
      line += '\n';
      if (std::fwrite(line.data(), 1, line.size(), text) != line.size()) {
        throw ToolError("writing " + out_path + " failed (disk full?)");
      }
    }
    if ((records & 0x3FF) == 0 && bar.enabled()) bar.Update(log.Position(), size);
  }
  if (pcapng) pcapng->Close();
  if (text && std::fclose(text) != 0) throw ToolError("writing " + out_path + " failed (disk full?)");
  bar.Finish();

  if (args.Has("json")) {
    PrintLine(Json()
                  .Add("from", in_path)
                  .Add("to", out_path)
                  .Add("format", format)
                  .Add("records", records)
                  .Add("bookmarks", bookmarks)
                  .Add("first_ns", first)
                  .Add("last_ns", last)
                  .Add("jumps", reader.jumps())
                  .str());
  } else {
    PrintLine("exported " + std::to_string(records) + " records (" + std::to_string(bookmarks) +
              " bookmarks) of " + in_path + " to " + out_path + " as " + format);
  }
  return kExitOk;
}

}  // namespace cvrtool
