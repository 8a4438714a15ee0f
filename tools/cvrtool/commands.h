// The subcommands. Each takes the words after its name, prints its own help
// for -h/--help, and returns an exit code (com.h); failures are thrown.
#ifndef CVRTOOL_COMMANDS_H_
#define CVRTOOL_COMMANDS_H_

#include <string>
#include <vector>

namespace cvrtool {

using Words = std::vector<std::string>;

struct Command {
  const char* name;
  const char* summary;  // one line for `cvrtool help`
  const char* help;     // full text for `cvrtool NAME --help`
  int (*run)(const Words& words);
};

int RunInfo(const Words& words);
int RunDump(const Words& words);
int RunIndex(const Words& words);
int RunBookmarks(const Words& words);
int RunConvert(const Words& words);
int RunVerify(const Words& words);
int RunRecord(const Words& words);
int RunExport(const Words& words);
int RunImport(const Words& words);
int RunSlice(const Words& words);
int RunSplit(const Words& words);
int RunMerge(const Words& words);
int RunRepair(const Words& words);
int RunStats(const Words& words);

extern const char kInfoHelp[], kDumpHelp[], kIndexHelp[], kBookmarksHelp[], kConvertHelp[],
    kVerifyHelp[], kRecordHelp[], kExportHelp[],
    kImportHelp[], kSliceHelp[], kSplitHelp[], kMergeHelp[],
    kRepairHelp[], kStatsHelp[];

// Prints a command's help text to standard output.
int PrintHelp(const char* text);

}  // namespace cvrtool

#endif  // CVRTOOL_COMMANDS_H_
