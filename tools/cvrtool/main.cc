// cvrtool: look into, convert, index and bookmark trace logs.
//
//   cvrtool COMMAND [ARGS...]      cvrtool help      cvrtool --version
#include <corvane/corvane.h>

#include <cstdio>
#include <cstring>
#include <exception>

#include "com.h"
#include "commands.h"

#ifndef CVRTOOL_VERSION
#define CVRTOOL_VERSION "0.0"
#endif

namespace cvrtool {
namespace {

const Command kCommands[] = {
    {"info", "kind, size, counts, index and time span of a log", kInfoHelp, RunInfo},
    {"dump", "one line per record, from the start or from a message number", kDumpHelp, RunDump},
    {"index", "build or rebuild the index that lets readers jump", kIndexHelp, RunIndex},
    {"bookmarks", "list, add, edit or delete bookmarks", kBookmarksHelp, RunBookmarks},
    {"convert", "rewrite a log in another generation", kConvertHelp, RunConvert},
    {"verify", "read every record and report the first damage", kVerifyHelp, RunVerify},
    {"record", "write a demo log", kRecordHelp, RunRecord},
    {"export", "write the records as pcapng, JSON Lines or CSV", kExportHelp, RunExport},
    {"import", "read a pcap or pcapng capture into a log", kImportHelp, RunImport},
    {"slice", "a part of a log, by message number or time, as a new log", kSliceHelp, RunSlice},
    {"split", "cut a log into pieces by count, size or time", kSplitHelp, RunSplit},
    {"merge", "several logs into one, ordered by time stamp", kMergeHelp, RunMerge},
    {"repair", "every intact record of a damaged log into a new log", kRepairHelp, RunRepair},
    {"stats", "records and bytes per id and connection, span, rates, gaps", kStatsHelp, RunStats},
};

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: cvrtool COMMAND [ARGS...]\n"
               "       cvrtool COMMAND --help\n"
               "       cvrtool --version\n\ncommands:\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
  std::fprintf(out,
               "\nexit codes: 0 success, 1 failure or damaged log, 2 wrong arguments,\n"
               "            3 the library does not implement the operation\n");
}

int Main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  const std::string first = argv[1];
  if (first == "--version" || first == "version") {
    std::printf("cvrtool %s\n", CVRTOOL_VERSION);
    return kExitOk;
  }
  if (first == "help" || first == "--help" || first == "-h") {
    if (argc > 2) {
      for (const Command& c : kCommands) {
        if (argv[2] == std::string(c.name)) return PrintHelp(c.help);
      }
      std::fprintf(stderr, "cvrtool: unknown command '%s'\n", argv[2]);
      return kExitUsage;
    }
    PrintUsage(stdout);
    return kExitOk;
  }
  const Command* command = nullptr;
  for (const Command& c : kCommands) {
    if (first == c.name) command = &c;
  }
  if (!command) {
    std::fprintf(stderr, "cvrtool: unknown command '%s' (see 'cvrtool help')\n", first.c_str());
    return kExitUsage;
  }

  InitLibrary();
  const Words words(argv + 2, argv + argc);
  try {
    return command->run(words);
  } catch (const UsageError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "cvrtool %s: %s (see 'cvrtool %s --help')\n", command->name, e.what(),
                 command->name);
    return kExitUsage;
  } catch (const ToolError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "cvrtool %s: %s\n", command->name, e.what());
    return e.exit_code;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "cvrtool %s: %s\n", command->name, e.what());
    return kExitFailure;
  }
}

}  // namespace

int PrintHelp(const char* text) {
  std::fputs(text, stdout);
  return kExitOk;
}

}  // namespace cvrtool

int main(int argc, char** argv) { return cvrtool::Main(argc, argv); }
