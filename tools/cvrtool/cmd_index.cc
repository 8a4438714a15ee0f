// index: builds (or rebuilds) the index beside a log.
#include <cinttypes>
#include <cstdio>

#include "args.h"
#include "commands.h"
#include "indexing.h"
#include "log_reader.h"
#include "output.h"
#include "progress.h"

namespace cvrtool {

const char kIndexHelp[] =
    "usage: cvrtool index LOG [--resolution N] [--json]\n"
    "\n"
    "Builds the index of LOG (LOG's name with the extension .idx), or builds\n"
    "it anew when one exists, so that readers can jump to any message. On a\n"
    "terminal a progress bar shows percent, throughput and time left.\n"
    "\n"
    "  --resolution N   one index entry every N messages (default 100): a jump\n"
    "                   reads at most N-1 headers, the index takes 24 bytes per entry\n"
    "  --json           print the result as one JSON object\n"
    "\n"
    "example: cvrtool index demo.cvr --resolution 50\n";

int RunIndex(const Words& words) {
  const Args args(words, {{"resolution", true}, {"json", false}});
  if (args.help()) return PrintHelp(kIndexHelp);
  args.ExpectPositional(1, 1);
  const std::string& path = args.positional()[0];
  const int64_t resolution = args.Int("resolution", kDefaultIndexResolution, 1, INT64_MAX);

  IndexState before;
  IndexRun run;
  {
    LogReader log(path);
    if (!log.log2()) throw ToolError("indexing needs LogFile2, which cannot read this log");
    before = QueryIndex(log.log2());
    run = BuildIndex(log.log2(), path, resolution, StderrIsTerminal());
  }  // releasing the object ends the indexing thread, if it still runs

  if (run.failed) {
    throw ToolError("the index of " + path + " was not " + (before.present ? "rebuilt" : "built") +
                    ": the indexing thread reported a failure (above)");
  }
  // What a reader finds now: the index the library opens with the log.
  LogReader reopened(path);
  const IndexState after = QueryIndex(reopened.log2());
  if (!after.present) {
    throw ToolError("the index of " + path + " was not completed (the pass reached offset " +
                    std::to_string(run.progress) + " of " + std::to_string(run.file_size) + ")");
  }
  if (after.resolution != resolution) {
    throw ToolError("the index of " + path + " was not rebuilt: the index in use has resolution " +
                    std::to_string(after.resolution));
  }
  if (!run.reached_end()) {
    std::fprintf(stderr, "cvrtool index: the pass stopped at offset %" PRId64 " of %" PRId64
                         "; the log may be damaged (cvrtool verify)\n",
                 run.progress, run.file_size);
  }
  if (args.Has("json")) {
    PrintLine(Json()
                  .Add("file", path)
                  .Add("rebuilt", before.present)
                  .Add("resolution", after.resolution)
                  .Add("records", after.records)
                  .Add("size", run.file_size)
                  .Add("complete", run.reached_end())
                  .str());
  } else {
    char rate[64] = "";
    if (run.seconds > 0) {
      std::snprintf(rate, sizeof rate, " in %.2f s", run.seconds);
    }
    PrintLine(std::string(before.present ? "rebuilt" : "built") + " the index of " + path + ": " +
              std::to_string(after.records) + " records (messages and bookmarks), resolution " +
              std::to_string(after.resolution) + ", " + HumanBytes(static_cast<double>(run.file_size)) +
              " read" + rate);
  }
  return run.reached_end() ? kExitOk : kExitFailure;
}

}  // namespace cvrtool
