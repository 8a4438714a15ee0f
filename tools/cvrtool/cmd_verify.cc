// verify: reads every record, header and data, and reports the first damage.
#include <cinttypes>

#include "args.h"
#include "commands.h"
#include "log_reader.h"
#include "names.h"
#include "output.h"

namespace cvrtool {

const char kVerifyHelp[] =
    "usage: cvrtool verify LOG [--json]\n"
    "\n"
    "Reads every record of LOG with its data. A clean log prints one summary\n"
    "line and exits 0. The first damage is reported with the message number,\n"
    "the file offset where that record starts, the offset where the reader\n"
    "stopped, and the library's error text; verify then exits 1. Bytes after\n"
    "the last complete block (a block header cut short) count as damage too.\n"
    "\n"
    "  --json    one JSON object: {\"ok\":...,\"message\":...,...}\n"
    "\n"
    "example: cvrtool verify demo.cvr\n";

int RunVerify(const Words& words) {
  const Args args(words, {{"json", false}});
  if (args.help()) return PrintHelp(kVerifyHelp);
  args.ExpectPositional(1, 1);
  const std::string& path = args.positional()[0];
  const bool json = args.Has("json");

  LogReader log(path);
  const int64_t size = log.FileSize();
  int64_t messages = 0, bookmarks = 0;
  Record r;
  std::string error;
  int64_t record_start = -1;
  int64_t failed_number = 0;
  bool read_error = false;  // the file holds the bytes, the system could not read them
  try {
    for (;;) {
      record_start = log.read_end();
      failed_number = log.next_number();
      if (!log.Next(&r, true)) break;
      ++(r.is_bookmark ? bookmarks : messages);
    }
  } catch (const LibraryError& e) {
    error = e.description;
    // A block's data is read only once its header said it lies within the
    // file, and a header that lies within the file cannot be cut short.
    const unsigned hr = static_cast<unsigned>(e.hr);
    const int header = BlockHeaderLength(log.version());
    read_error = hr == static_cast<unsigned>(E_CVR_BLOCK_DATA_READ_FAILED) ||
                 (hr == static_cast<unsigned>(E_CVR_BLOCK_HEADER_READ_FAILED) && header > 0 &&
                  record_start >= 0 && record_start + header <= size);
  } catch (const ToolError& e) {
    error = e.what();
  }

  int64_t reader_at = -1;
  if (error.empty()) {
    error = log.TrailingDamage();
    if (!error.empty()) {
      record_start = log.read_end();
      reader_at = log.Position();
    }
  } else {
    try {
      reader_at = log.Position();
    } catch (const ToolError&) {
    }
  }

  if (json) {
    Json j;
    j.Add("file", path).Add("ok", error.empty()).Add("format", FileVersionName(log.version()));
    j.Add("size", size).Add("messages", messages).Add("bookmarks", bookmarks);
    if (!error.empty()) {
      j.Add("message", failed_number).Add("record_offset", record_start);
      j.Add("reader_offset", reader_at).Add("error", error);
      j.Add("cause", read_error ? "read error" : "damage");
    }
    PrintLine(j.str());
  } else if (error.empty()) {
    PrintLine("ok: " + path + ": " + std::to_string(messages) + " messages, " +
              std::to_string(bookmarks) + " bookmarks, " + std::to_string(size) + " bytes, " +
              FileVersionDescription(log.version()));
  } else {
    std::string where = (read_error ? "read error: " : "damaged: ") + path + ": message " +
                        std::to_string(failed_number);
    if (record_start >= 0) where += ", record at offset " + std::to_string(record_start);
    if (reader_at >= 0) where += ", reader stopped at offset " + std::to_string(reader_at);
    PrintLine(where + ": " + error);
  }
  return error.empty() ? kExitOk : kExitFailure;
}

}  // namespace cvrtool
