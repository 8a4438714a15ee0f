// info: what a log is and what it holds.
#include <cinttypes>
#include <cstdio>
#include <map>

#include "args.h"
#include "commands.h"
#include "indexing.h"
#include "log_reader.h"
#include "names.h"
#include "output.h"

namespace cvrtool {

const char kInfoHelp[] =
    "usage: cvrtool info LOG [--json]\n"
    "\n"
    "Reads the whole log and prints its format (kind and generation), size,\n"
    "blocks (bulk blocks counted once), messages, bookmarks, index state, the\n"
    "first and last time stamp and the number of messages per block\n"
    "identifier. Logs that LogFile2 refuses are read through LogFile.\n"
    "A log that turns out damaged is summed up as far as it could be read,\n"
    "and info exits with 1.\n"
    "\n"
    "  --json    one JSON object instead of the table\n"
    "\n"
    "example: cvrtool info demo.cvr\n";

namespace {

struct Tally {
  int64_t records = 0, messages = 0, bookmarks = 0;
  int64_t blocks = 0, bulk_blocks = 0, bulk_messages = 0, unknown_role = 0;
  bool have_stamp = false;
  uint64_t first_ns = 0, last_ns = 0;
  std::map<unsigned, int64_t> per_id;
  std::string damage;  // the error that ended the reading early
};

std::string Hex(unsigned id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02x", id);
  return text;
}

}  // namespace

int RunInfo(const Words& words) {
  const Args args(words, {{"json", false}});
  if (args.help()) return PrintHelp(kInfoHelp);
  args.ExpectPositional(1, 1);
  const std::string& path = args.positional()[0];

  LogReader log(path);
  const int64_t size = log.FileSize();
  const IndexState index = log.log2() ? QueryIndex(log.log2()) : IndexState{};

  Tally t;
  Record r;
  try {
    while (log.Next(&r, false)) {
      ++t.records;
      if (r.is_bookmark) {
        ++t.bookmarks;
        continue;
      }
      ++t.messages;
      ++t.per_id[r.header.wBlockID];
      if (!t.have_stamp) t.first_ns = r.header.qwTimeStamp;
      t.have_stamp = true;
      t.last_ns = r.header.qwTimeStamp;
      switch (r.bulk) {
        case BulkRole::kNone: ++t.blocks; break;
        case BulkRole::kFirst: ++t.blocks, ++t.bulk_blocks, ++t.bulk_messages; break;
        case BulkRole::kNext: ++t.bulk_messages; break;
        case BulkRole::kUnknown: ++t.unknown_role; break;
      }
    }
    t.damage = log.TrailingDamage();
  } catch (const ToolError& e) {
    t.damage = e.what();
  }
  const bool blocks_known = t.unknown_role == 0;

  if (args.Has("json")) {
    JsonArray ids;
    for (const auto& [id, count] : t.per_id) ids.Add(Json().Add("id", id).Add("name", BlockIdName(id)).Add("count", count));
    Json j;
    j.Add("file", path)
        .Add("format", FileVersionName(log.version()))
        .Add("format_value", log.version())
        .Add("description", FileVersionDescription(log.version()))
        .Add("object", log.object_name())
        .Add("size", size)
        .Add("records", t.records)
        .Add("messages", t.messages)
        .Add("bookmarks", t.bookmarks);
    if (blocks_known) {
      j.Add("blocks", t.blocks).Add("bulk_blocks", t.bulk_blocks).Add("bulk_messages", t.bulk_messages);
    }
    j.Add("index", Json()
                       .Add("present", index.present)
                       .Add("resolution", index.resolution)
                       .Add("records", index.records));
    if (t.have_stamp) j.Add("first_ns", t.first_ns).Add("last_ns", t.last_ns);
    j.Add("ids", ids);
    if (!t.damage.empty()) j.Add("damage", t.damage);
    PrintLine(j.str());
  } else {
    auto row = [](const char* name, const std::string& value) {
      std::printf("%-12s %s\n", name, value.c_str());
    };
    row("file:", path);
    row("format:", FileVersionDescription(log.version()) + " (" + FileVersionName(log.version()) +
                       ", read with " + log.object_name() + ")");
    row("size:", std::to_string(size) + " bytes (" + HumanBytes(static_cast<double>(size)) + ")");
    if (blocks_known) {
      row("blocks:", std::to_string(t.blocks) + " (" + std::to_string(t.bulk_blocks) +
                         " bulk blocks holding " + std::to_string(t.bulk_messages) + " messages)");
    } else {
      row("blocks:", "not told apart from messages in this format");
    }
    row("messages:", std::to_string(t.messages));
    row("bookmarks:", std::to_string(t.bookmarks));
    if (!log.log2()) {
      row("index:", "not available through LogFile");
    } else if (index.present) {
      row("index:", "present, resolution " + std::to_string(index.resolution) + ", " +
                        std::to_string(index.records) + " records (messages and bookmarks)");
    } else {
      row("index:", "none (cvrtool index " + path + ")");
    }
    if (t.have_stamp) {
      row("first stamp:", Seconds(t.first_ns) + " s (" + std::to_string(t.first_ns) + " ns)");
      row("last stamp:", Seconds(t.last_ns) + " s (" + std::to_string(t.last_ns) + " ns)");
    }
    if (!t.per_id.empty()) {
      std::printf("messages per block identifier:\n");
      for (const auto& [id, count] : t.per_id) {
        std::printf("  %-6s %-34s %12" PRId64 "\n", Hex(id).c_str(), BlockIdName(id), count);
      }
    }
    if (!t.damage.empty()) row("damage:", t.damage);
  }
  return t.damage.empty() ? kExitOk : kExitFailure;
}

}  // namespace cvrtool
