// merge: several logs into one, ordered by time stamp.
#include <deque>
#include <memory>
#include <queue>

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

const char kMergeHelp[] =
    "usage: cvrtool merge OUT LOG LOG... [--to F] [--json]\n"
    "\n"
    "Writes the records of every LOG to the new log OUT in the order of their\n"
    "time stamps (a k-way merge holding one record per input; records with the\n"
    "same stamp in the order of the inputs). A bookmark keeps its place behind\n"
    "the record before it in its log; bulk blocks stay whole where no other\n"
    "input's record falls within them.\n"
    "\n"
    "  --to F    generation of OUT (default the first LOG's, or 1.02)\n"
    "  --json    print the summary as one JSON object\n"
    "\n"
    "example: cvrtool merge all.cvr morning.cvr noon.cvr\n";

namespace {

struct Input {
  std::unique_ptr<LogReader> log;
  // The next record, behind the bookmarks that open the log (held until
  // the record after them tells their place).
  std::deque<Record> next;
  uint64_t key = 0;  // the stamp they are ordered by
  bool stamped = false;
};

}  // namespace

int RunMerge(const Words& words) {
  const Args args(words, {{"to", true}, {"json", false}});
  if (args.help()) return PrintHelp(kMergeHelp);
  args.ExpectPositional(3, SIZE_MAX);
  const std::vector<std::string>& paths = args.positional();
  const std::string& out_path = paths[0];
  std::vector<Input> inputs(paths.size() - 1);
  int64_t total = 0, done_bytes = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    CheckDistinct(paths[i + 1], out_path);
    inputs[i].log = std::make_unique<LogReader>(paths[i + 1]);
    total += inputs[i].log->FileSize();
  }
  LogWriter out(out_path, OutputVersion(args, inputs[0].log->version()));
  RecordCopier copier(&out, true);
  // Smallest (key, input) first.
  auto later = [&](size_t a, size_t b) {
    return inputs[a].key != inputs[b].key ? inputs[a].key > inputs[b].key : a > b;
  };
  std::priority_queue<size_t, std::vector<size_t>, decltype(later)> queue(later);
  auto advance = [&](size_t i) {
    Input& in = inputs[i];
    // A bookmark carries no stamp: it is ordered as the record before it,
    // or, at the start of its log, as the record after it.
    do {
      in.next.emplace_back();
      if (!in.log->Next(&in.next.back(), true)) {
        in.next.pop_back();
        break;
      }
      if (!in.next.back().is_bookmark) {
        in.key = in.next.back().header.qwTimeStamp;
        in.stamped = true;
      }
    } while (!in.stamped);
    if (!in.next.empty()) queue.push(i);
  };
  for (size_t i = 0; i < inputs.size(); ++i) advance(i);
  Progress bar("merging", StderrIsTerminal());
  int64_t records = 0;
  while (!queue.empty()) {
    const size_t i = queue.top();
    queue.pop();
    copier.Add(inputs[i].next.front(), static_cast<int>(i));
    inputs[i].next.pop_front();
    if (inputs[i].next.empty()) advance(i); else queue.push(i);
    if ((++records & 0x3FF) == 0 && bar.enabled()) {
      done_bytes = 0;
      for (Input& in : inputs) done_bytes += in.log->Position();
      bar.Update(done_bytes, total);
    }
  }
  copier.Flush();
  out.Close();
  bar.Finish();
  if (args.Has("json")) {
    PrintLine(Json()
                  .Add("to", out_path)
                  .Add("to_format", FileVersionName(out.version()))
                  .Add("inputs", static_cast<int64_t>(inputs.size()))
                  .Add("records", records)
                  .Add("messages", out.messages())
                  .Add("bookmarks", out.bookmarks())
                  .str());
  } else {
    PrintLine("merged " + std::to_string(inputs.size()) + " logs into " + out_path + ": " +
              std::to_string(out.messages()) + " messages, " + std::to_string(out.bookmarks()) +
              " bookmarks");
  }
  return kExitOk;
}

}  // namespace cvrtool
