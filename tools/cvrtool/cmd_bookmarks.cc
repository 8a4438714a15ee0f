// bookmarks: list, add, edit and delete the bookmarks of a log. Changes are
// stored in the bookmark file beside the log when the log is closed.
#include <cinttypes>

#include "args.h"
#include "bstr.h"
#include "commands.h"
#include "indexing.h"
#include "log_reader.h"
#include "output.h"
#include "progress.h"

namespace cvrtool {

const char kBookmarksHelp[] =
    "usage: cvrtool bookmarks LOG list [--json]\n"
    "       cvrtool bookmarks LOG add N TEXT [--resolution R]\n"
    "       cvrtool bookmarks LOG edit K TEXT\n"
    "       cvrtool bookmarks LOG delete K\n"
    "\n"
    "Bookmarks are comments between two messages, kept in LOG's .bmk file.\n"
    "Bookmark numbers K count from 0 in the order of the log; message numbers N\n"
    "count the bookmarks too, as dump shows them.\n"
    "\n"
    "  list      one line per bookmark: its number, message number and comment\n"
    "  add       puts a bookmark at message number N (N = the number of records\n"
    "            puts it at the end); the bookmarks from N on move up by one.\n"
    "            The library checks N against the index's count, so a log\n"
    "            without index is indexed first (with resolution R, default 100)\n"
    "  edit      replaces bookmark K's comment\n"
    "  delete    removes bookmark K\n"
    "\n"
    "example: cvrtool bookmarks demo.cvr add 120 \"handover starts\"\n";

namespace {

std::string ReadComment(ILogFile2* log, int64_t k) {
  Check(log->BookmarkJump(k), "BookmarkJump");
  Bstr comment;
  Check(log->BookmarkRead(comment.out()), "BookmarkRead");
  return comment.utf8();
}

int64_t BookmarkNumber(const LogReader& log, const std::string& text) {
  const auto count = static_cast<int64_t>(log.bookmark_numbers().size());
  const int64_t k = ParseInt(text, "bookmark number", 0, INT64_MAX);
  if (k >= count) {
    throw ToolError("no bookmark #" + std::to_string(k) + ": " + log.path() + " has " +
                    std::to_string(count) + " bookmarks");
  }
  return k;
}

}  // namespace

int RunBookmarks(const Words& words) {
  const Args args(words, {{"json", false}, {"resolution", true}});
  if (args.help()) return PrintHelp(kBookmarksHelp);
  args.ExpectPositional(2, 4);
  const std::string& path = args.positional()[0];
  const std::string& action = args.positional()[1];
  const size_t needed = action == "list" ? 2 : action == "delete" ? 3 : action == "add" || action == "edit" ? 4 : 0;
  if (needed == 0) throw UsageError("unknown action '" + action + "' (list, add, edit, delete)");
  args.ExpectPositional(needed, needed);
  const int64_t resolution = args.Int("resolution", kDefaultIndexResolution, 1, INT64_MAX);

  LogReader log(path);
  ILogFile2* log2 = log.log2();
  if (!log2) throw ToolError("bookmarks need LogFile2, which cannot read this log");
  const auto& numbers = log.bookmark_numbers();

  if (action == "list") {
    for (size_t k = 0; k < numbers.size(); ++k) {
      const std::string comment = ReadComment(log2, static_cast<int64_t>(k));
      if (args.Has("json")) {
        PrintLine(Json()
                      .Add("bookmark", static_cast<int64_t>(k))
                      .Add("msg", numbers[k])
                      .Add("comment", comment)
                      .str());
      } else {
        std::printf("#%-4zu message %-10" PRId64 " \"%s\"\n", k, numbers[k],
                    EscapeText(comment).c_str());
      }
    }
    if (!args.Has("json") && numbers.empty()) PrintLine("no bookmarks in " + path);
    return kExitOk;
  }

  if (action == "add") {
    const int64_t n = ParseInt(args.positional()[2], "message number", 0, INT64_MAX);
    const Bstr text = Bstr::FromUtf8(args.positional()[3]);
    HRESULT hr = log2->InsertBookmark(n, text.get());
    if (static_cast<unsigned>(hr) == static_cast<unsigned>(E_CVR_MSG_COUNT_EXCEEDED) &&
        !QueryIndex(log2).present) {
      // Without an index the library knows no message count to check N
      // against: build the index, then try again.
      ClearError();
      BuildIndex(log2, log.path(), resolution, StderrIsTerminal());
      hr = log2->InsertBookmark(n, text.get());
    }
    Check(hr, "adding a bookmark at message " + std::to_string(n));
    LONGLONG k = 0;
    Check(log2->GetBookmarkIndexNumber(n, &k), "GetBookmarkIndexNumber");
    log.Close();
    PrintLine("added bookmark #" + std::to_string(k) + " at message " + std::to_string(n));
    return kExitOk;
  }

  const int64_t k = BookmarkNumber(log, args.positional()[2]);
  const std::string old = ReadComment(log2, k);
  Check(log2->BookmarkJump(k), "BookmarkJump");
  if (action == "edit") {
    const Bstr text = Bstr::FromUtf8(args.positional()[3]);
    Check(log2->BookmarkEdit(text.get()), "BookmarkEdit");
  } else {
    Check(log2->BookmarkDelete(), "BookmarkDelete");
  }
  log.Close();
  PrintLine(std::string(action == "edit" ? "edited" : "deleted") + " bookmark #" +
            std::to_string(k) + " at message " + std::to_string(numbers[k]) + " (was \"" +
            EscapeText(old) + "\")");
  return kExitOk;
}

}  // namespace cvrtool
