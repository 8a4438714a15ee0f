// cvrtool driven as a user would, through the shell: usage errors, a
// conversion round trip per writable generation, bookmarks that persist, and
// dumps from a message through the index. (verify on logs cut at every crash
// point: tests/hardening/process_test.cc.)
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "support/log_bytes.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

namespace corvane::test {
namespace {

constexpr int kExitOk = 0, kExitFailure = 1, kExitUsage = 2;
const char* const kFormats[] = {"1.02", "u1.02", "e1.02", "e1.01"};

struct ToolRun {
  int exit_code = -1;
  std::string out, err;  // standard output and error
  std::vector<std::string> lines() const {
    std::vector<std::string> result;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) result.push_back(line.substr(0, line.find_last_not_of('\r') + 1));
    return result;
  }
};

std::string ShellQuote(const std::string& arg) {
#ifdef _WIN32
  return "\"" + arg + "\"";  // the tests pass no double quotes inside arguments
#else
  std::string q = "'";
  for (const char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
#endif
}

// Runs cvrtool (on Windows the one beside this program), or `program`, with
// `args`; standard output and error go through files in `scratch`.
ToolRun RunTool(const std::vector<std::string>& args, const std::string& scratch, std::string program = "") {
#ifdef _WIN32
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string tool(self);
  tool = tool.substr(0, tool.find_last_of("\\/") + 1) + "cvrtool.exe";
#else
  const std::string tool = CVRTOOL_PATH;
#endif
  const std::string out_path = scratch + "/stdout.txt", err_path = scratch + "/stderr.txt";
  std::string command = program.empty() ? ShellQuote(tool) : program;
  for (const std::string& a : args) command += " " + ShellQuote(a);
  command += " >" + ShellQuote(out_path) + " 2>" + ShellQuote(err_path);
  auto take = [](const std::string& path) { const Bytes bytes = ReadFileBytes(path); return std::string(bytes.begin(), bytes.end()); };
#ifdef _WIN32
  // cmd /c drops the first and the last quote of a line that starts with one.
  const int exit_code = std::system(("\"" + command + "\"").c_str());
#else
  const int status = std::system(command.c_str());
  const int exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
  return {exit_code, take(out_path), take(err_path)};
}

// The number that follows "key": in a one-line JSON object; -1 when missing.
long long Number(const std::string& line, const std::string& key) {
  std::smatch m;
  return std::regex_search(line, m, std::regex("\"" + key + "\":(-?[0-9]+)")) ? std::stoll(m[1]) : -1;
}

class CvrtoolTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name) const { return dir_.File(name); }
  ToolRun Run(const std::vector<std::string>& args) const { return RunTool(args, dir_.path()); }
  // Another program, through the shell; false when it is not installed.
  bool Have(const std::string& program) const { return RunTool({program}, dir_.path(), "command -v").exit_code == 0; }
  ToolRun Shell(const std::string& program, const std::vector<std::string>& args) const { return RunTool(args, dir_.path(), program); }
  // Records a demo log of `messages` messages (about a quarter of them in
  // bulk blocks, three bookmarks).
  std::string Record(const std::string& name, int messages, const std::string& format = "1.02") const {
    const ToolRun r = Run({"record", File(name), "--demo", std::to_string(messages), "--format", format, "--seed", "1"});
    EXPECT_EQ(r.exit_code, kExitOk) << r.err;
    return File(name);
  }
  // `dump --json`: one JSON object per record, without the fields named in
  // `drop` (by default those a conversion changes: the time stamp mode, which
  // becomes an explicit stamp, and the file offset).
  std::vector<std::string> DumpJson(const std::string& path, std::vector<std::string> extra = {},
                                    const std::string& drop = "mode|offset") const {
    extra.insert(extra.begin(), {"dump", path, "--json"});
    const ToolRun r = Run(extra);
    EXPECT_EQ(r.exit_code, kExitOk) << r.err;
    std::vector<std::string> lines = r.lines();
    const std::regex field("\"(" + drop + ")\":(\"[^\"]*\"|[0-9]+),");
    for (std::string& line : lines) line = std::regex_replace(line, field, "");
    return lines;
  }

  TempDir dir_;
};

TEST_F(CvrtoolTest, WrongArgumentsExitWithTwoAndFilesThatAreNoLogsWithOne) {
  const std::string log = Record("a.cvr", 20), text = File("notes.txt"), held = Record("held.cvr", 20);
  WriteFileBytes(text, {'h', 'e', 'l', 'l', 'o', '\n'});
  std::filesystem::remove(File("held.bmk"));
  std::filesystem::create_directory(File("held.bmk"));  // a bookmark file that exists but cannot be read
  const struct { std::vector<std::string> args; int exit_code; std::string says; } cases[] = {
      {{}, kExitUsage, "usage: cvrtool COMMAND"},
      {{"frobnicate"}, kExitUsage, "unknown command 'frobnicate'"},
      {{"verify", log, "extra"}, kExitUsage, "unexpected argument 'extra'"},
      {{"dump", log, "--count", "-1"}, kExitUsage, "--count must lie between 0"},
      {{"convert", log, File("b.cvr"), "--to", "1.00"}, kExitUsage, "--to must be one of"},
      {{"convert", log, File("a.log"), "--to", "u1.02"}, kExitUsage, "share their .idx and .bmk"},
      {{"bookmarks", log, "edit", "first", "text"}, kExitUsage, "bookmark number must be a whole number"},
      {{"info", File("missing.cvr")}, kExitFailure, "no such file"},
      {{"info", text}, kExitFailure, "not a log format the library reads"},
      {{"bookmarks", held, "add", "1", "x"}, kExitFailure, "cannot open the bmk file " + File("held.bmk")},
      {{"dump", log, "--since", "1.5"}, kExitUsage, "--since must be a time such as"},
      {{"slice", log, File("b.cvr"), "--from", "1", "--since", "1ms"}, kExitUsage, "either --from N"},
      {{"export", log, File("b.txt"), "--format", "xml"}, kExitUsage, "--format must be pcapng, jsonl or csv"},
      {{"import", text, File("b.cvr")}, kExitFailure, "is neither pcap nor pcapng"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const ToolRun r = Run(c.args);
    EXPECT_TRUE(r.exit_code == c.exit_code && r.err.find(c.says) != std::string::npos) << r.exit_code << r.err;
  }
}

// Every field survives a conversion into each writable generation and back
// (the time stamp modes become explicit stamps, offsets move): what comes back
// whole was carried by the converted file. (The padding some generations give
// a bulk block's messages: the LogFile2 blocks test.)
TEST_F(CvrtoolTest, ConvertRoundTripsThroughEveryWritableGeneration) {
  const std::string source = Record("src.cvr", 300);
  const auto original = DumpJson(source);
  for (const std::string to : kFormats) {
    const std::string there = File("to-" + to + ".cvr"), back = File("back-" + to + ".cvr");
    ASSERT_EQ(Run({"convert", source, there, "--to", to}).exit_code, kExitOk) << to;
    ASSERT_EQ(Run({"convert", there, back, "--to", "1.02"}).exit_code, kExitOk) << to;
    EXPECT_EQ(DumpJson(back), original) << to;
  }
}

// Message numbers count bookmarks: deleting the first moves the later ones
// down by one, adding one before them moves them back up.
TEST_F(CvrtoolTest, BookmarkChangesPersistInTheBookmarkFile) {
  const std::string log = Record("a.cvr", 100);
  auto list = [&] { return Run({"bookmarks", log, "list", "--json"}).lines(); };
  const auto initial = list();
  ASSERT_EQ(initial.size(), 3u);
  ASSERT_TRUE(Run({"bookmarks", log, "edit", "1", "handover, second try"}).exit_code == kExitOk &&
              Run({"bookmarks", log, "delete", "0"}).exit_code == kExitOk && Run({"bookmarks", log, "add", "20", "look here"}).exit_code == kExitOk);
  std::string edited = initial[1];
  edited.replace(edited.find("checkpoint 2"), 12, "handover, second try");
  EXPECT_EQ(list(), (std::vector<std::string>{R"({"bookmark":0,"msg":20,"comment":"look here"})", edited, initial[2]}));
}

// A dump from the middle builds a missing index; index rebuilds it; a dump
// from any message then matches the full dump.
TEST_F(CvrtoolTest, IndexThenDumpFromAnyMessageMatchesTheFullDump) {
  const std::string log = Record("a.cvr", 1000, "u1.02");
  const ToolRun first = Run({"dump", log, "--from", "150", "--count", "1", "--json"});
  EXPECT_TRUE(first.exit_code == kExitOk && Number(first.out, "msg") == 150 && FileExists(File("a.idx"))) << first.err;
  const ToolRun again = Run({"index", log, "--resolution", "25", "--json"});
  EXPECT_TRUE(again.exit_code == kExitOk && Number(again.out, "records") == 1003) << again.out << again.err;
  // Right after a jump the tool cannot tell whether a message began a bulk
  // block, so kinds are left out.
  const auto all = DumpJson(log, {}, "kind");
  for (const size_t from : {24, 25, 26, 1002}) {
    EXPECT_EQ(DumpJson(log, {"--from", std::to_string(from), "--count", "5"}, "kind"),
              std::vector<std::string>(all.begin() + from, all.begin() + std::min(from + 5, all.size()))) << from;
  }
  const ToolRun past = Run({"dump", log, "--from", "1003"});
  EXPECT_TRUE(past.exit_code == kExitFailure && past.err.find("exceeds record count") != std::string::npos) << past.err;
}

// export to pcapng and import it back: every record, stamp, connection, block
// id, bulk block and bookmark returns, in any generation. Real tools read the
// capture (count, first and last stamp, comments), and a capture in the old
// pcap format (micro- and nanosecond stamps, written by editcap and by
// libpcap through tcpdump) imports.
TEST_F(CvrtoolTest, ExportedCaptureImportsBackAndRealToolsReadIt) {
  const std::string log = Record("a.cvr", 400), cap = File("a.pcapng");
  const auto original = DumpJson(log);
  ASSERT_EQ(Run({"export", log, cap, "--format", "pcapng"}).exit_code, kExitOk);
  ASSERT_EQ(Run({"import", cap, File("b.cvr")}).exit_code, kExitOk);
  EXPECT_TRUE(DumpJson(File("b.cvr")) == original);
  for (const std::string format : {"jsonl", "csv"}) {
    ASSERT_EQ(Run({"export", log, File("a.txt"), "--format", format}).exit_code, kExitOk);
    const Bytes text = ReadFileBytes(File("a.txt"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 403 + (format == "csv")) << format;
  }
  if (!Have("tshark") || !Have("editcap")) GTEST_SKIP() << "tshark/editcap not installed (scripts/install-deps.sh --bench)";
  const ToolRun shark = Shell("tshark", {"-r", cap, "-T", "fields", "-e", "frame.time_epoch", "-e", "frame.comment"});
  const auto lines = shark.lines();
  ASSERT_EQ(lines.size(), original.size()) << shark.err;
  EXPECT_EQ(std::regex_replace(shark.err, std::regex("Running as user.*\n"), ""), "");
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("checkpoint") != std::string::npos; }), 3);
  const auto stamp = [](const std::string& line) { std::smatch m; std::regex_search(line, m, std::regex("\"ns\":([0-9]+)")); return std::stoll(m[1]); };
  EXPECT_EQ(std::llround(std::stod(lines.front()) * 1e9), stamp(original.front()));
  EXPECT_EQ(std::llround(std::stod(lines.back()) * 1e9), stamp(original.back()));
  // pcap written by editcap (micro-, nanoseconds) and by libpcap (tcpdump -w).
  for (const std::vector<std::string>& w : {std::vector<std::string>{"editcap", "-F", "pcap", cap}, {"editcap", "-F", "nsecpcap", cap},
                                           {"tcpdump", "--time-stamp-precision=nano", "-r", cap, "-w"}}) {
    if (!Have(w[0])) continue;
    std::vector<std::string> args(w.begin() + 1, w.end());
    args.push_back(File("a.pcap"));
    ASSERT_EQ(Shell(w[0], args).exit_code, kExitOk) << w[0];
    const ToolRun in = Run({"import", File("a.pcap"), File("c.cvr"), "--json"});
    EXPECT_TRUE(in.exit_code == kExitOk && Number(in.out, "packets") == 403) << w[0] << in.out << in.err;
    const auto back = DumpJson(File("c.cvr"));
    EXPECT_EQ(stamp(back.back()) / 1000, stamp(original.back()) / 1000) << w[0] << w[2];
  }
}

// The fields a copy keeps (message numbers and kinds move with a cut).
std::vector<std::string> Kept(std::vector<std::string> lines) {
  for (std::string& l : lines) l = std::regex_replace(l, std::regex("\"(msg|kind|bookmark)\":(\"[^\"]*\"|[0-9]+),"), "");
  return lines;
}

// slice by number and by time, dump and export by time: the part that the
// original's full dump says, found on a log whose stamps rise by bisection
// (a few dozen jumps for 3000 records), and by reading it whole where they
// do not rise (the demo log's first record is stamped last).
TEST_F(CvrtoolTest, SliceAndTimeRangesLandOnTheRightRecords) {
  const std::string demo = Record("demo.cvr", 3000), log = File("rise.cvr");
  ASSERT_EQ(Run({"slice", demo, log, "--from", "1"}).exit_code, kExitOk);
  const auto all = DumpJson(log);
  const auto stamp = [&](size_t i) { return Number(all[i], "ns"); };
  // Where a range from `t` starts: behind the last record stamped before t.
  const auto at = [&](long long t) {
    size_t i = all.size();
    while (i > 0 && (all[i - 1].find("\"bookmark\"") != std::string::npos || stamp(i - 1) >= t)) --i;
    return i;
  };
  const size_t n = all.size();
  const auto part = [&](size_t first, size_t end) { return std::vector<std::string>(all.begin() + first, all.begin() + end); };
  // Read whole: the records stamped within the range, and the bookmarks behind them.
  std::vector<std::string> scanned;
  bool inside = false;
  for (const std::string& line : DumpJson(demo)) {
    if (line.find("\"bookmark\"") == std::string::npos) inside = Number(line, "ns") >= stamp(n - 200) && Number(line, "ns") < stamp(n - 50);
    if (inside) scanned.push_back(line);
  }
  const struct { std::string log; std::vector<std::string> range; std::vector<std::string> expected; } cases[] = {
      {log, {"--from", "150", "--count", "20"}, part(150, 170)},
      {log, {"--since", std::to_string(stamp(1234)), "--until", std::to_string(stamp(2000) / 1000) + ".000us"}, part(at(stamp(1234)), at(stamp(2000) / 1000 * 1000))},
      {log, {"--since", std::to_string(stamp(n - 1) + 1)}, {}},
      {demo, {"--since", std::to_string(stamp(n - 200)), "--until", std::to_string(stamp(n - 50))}, scanned},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.range));
    std::vector<std::string> args = {"slice", c.log, File("part.cvr"), "--json"};
    args.insert(args.end(), c.range.begin(), c.range.end());
    const ToolRun r = Run(args);
    ASSERT_EQ(r.exit_code, kExitOk) << r.err;
    EXPECT_EQ(Kept(DumpJson(File("part.cvr"))), Kept(c.expected));
    EXPECT_LT(Number(r.out, "jumps"), 40);
    EXPECT_EQ(r.err.find("do not rise") != std::string::npos, c.log == demo && c.range[0] == "--since") << r.err;
  }
  const std::string since = std::to_string(stamp(500) / 1000) + "us", until = std::to_string(stamp(600) / 1000000) + "." + std::to_string(stamp(600) % 1000000 + 1000000).substr(1) + "ms";
  const ToolRun dump = Run({"dump", log, "--since", since, "--until", until, "--json"});
  const ToolRun exported = Run({"export", log, File("part.jsonl"), "--format", "jsonl", "--since", since, "--until", until, "--json"});
  ASSERT_EQ(Number(exported.out, "records"), static_cast<long long>(dump.lines().size())) << dump.err;
  EXPECT_TRUE(Number(dump.lines().front(), "ns") >= stamp(500) / 1000 * 1000 && Number(dump.lines().front(), "ns") <= stamp(500)) << dump.lines().front();
  EXPECT_EQ(Number(dump.lines().back(), "ns"), stamp(599));
}

// split by count, size and time; merging the pieces (given in any order)
// gives the log back; merging two logs orders their records by stamp and
// keeps every bookmark.
TEST_F(CvrtoolTest, SplitPiecesMergeBackAndMergeOrdersByStamp) {
  const std::string demo = Record("demo.cvr", 3000), log = File("rise.cvr");
  ASSERT_EQ(Run({"slice", demo, log, "--from", "1"}).exit_code, kExitOk);
  const auto all = DumpJson(log);
  const long long span = Number(all.back(), "ns") - Number(all.front(), "ns");
  // Pieces of a third of the log's size: three, and a fourth for the file
  // headers they repeat unless a piece's last block went past the limit.
  const struct { std::vector<std::string> how; long long min, max; } cases[] = {
      {{"--count", "1000"}, 4, 4},
      {{"--size", std::to_string(std::filesystem::file_size(log) / 3)}, 3, 4},
      {{"--interval", std::to_string(span / 2 + 1) + "ns"}, 2, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.how));
    std::vector<std::string> args = {"split", log, File("p"), "--json"};
    args.insert(args.end(), c.how.begin(), c.how.end());
    const ToolRun r = Run(args);
    const long long pieces = Number(r.out, "pieces");
    ASSERT_TRUE(r.exit_code == kExitOk && pieces >= c.min && pieces <= c.max) << r.out << r.err;
    std::vector<std::string> merge = {"merge", File("m.cvr")};
    for (long long k = pieces; k >= 1; --k) merge.push_back(File("p-000" + std::to_string(k) + ".cvr"));
    ASSERT_EQ(Run(merge).exit_code, kExitOk);
    EXPECT_TRUE(Kept(DumpJson(File("m.cvr"))) == Kept(all));
  }
  ASSERT_EQ(Run({"slice", Record("b.cvr", 500, "e1.02"), File("b-rise.cvr"), "--from", "1"}).exit_code, kExitOk);
  const ToolRun m = Run({"merge", File("m.cvr"), log, File("b-rise.cvr"), "--json"});
  EXPECT_TRUE(m.exit_code == kExitOk && Number(m.out, "records") == 3504 && Number(m.out, "bookmarks") == 6) << m.out << m.err;
  long long last = 0;
  for (const std::string& line : DumpJson(File("m.cvr"))) {
    if (line.find("\"bookmark\"") != std::string::npos) continue;
    EXPECT_GE(Number(line, "ns"), last);
    last = Number(line, "ns");
  }
}

// repair keeps every record before a cut (inside a block's data, inside a
// block header) and reports the bytes it dropped; a clean
// log comes out with the same records.
TEST_F(CvrtoolTest, RepairKeepsTheIntactRecordsOfACutLog) {
  const std::string log = Record("a.cvr", 1000);
  const auto all = DumpJson(log);
  const auto size = static_cast<long long>(std::filesystem::file_size(log));
  const long long block = Number(Run({"dump", log, "--from", "500", "--count", "1", "--json"}).out, "offset");
  for (const long long cut : {size, block + 3, block - 10}) {
    SCOPED_TRACE(cut);
    // Removed first: MinGW's copy_file refuses to overwrite an existing file.
    for (const char* f : {"cut.cvr", "cut.bmk"}) std::filesystem::remove(File(f));
    std::filesystem::copy_file(log, File("cut.cvr"));
    std::filesystem::copy_file(File("a.bmk"), File("cut.bmk"));
    std::filesystem::resize_file(File("cut.cvr"), static_cast<uintmax_t>(cut));
    const ToolRun r = Run({"repair", File("cut.cvr"), File("fixed.cvr"), "--json"});
    const long long kept = Number(r.out, "records");
    ASSERT_TRUE(r.exit_code == kExitOk && kept > 400) << r.out << r.err;
    EXPECT_EQ(r.out.find("\"clean\":true") != std::string::npos, cut == size) << r.out;
    EXPECT_EQ(Number(r.out, "dropped_bytes") > 0, cut != size) << r.out;
    EXPECT_EQ(Run({"verify", File("fixed.cvr")}).exit_code, kExitOk);
    EXPECT_TRUE(DumpJson(File("fixed.cvr")) == std::vector<std::string>(all.begin(), all.begin() + kept));
    EXPECT_TRUE(cut != size || kept == static_cast<long long>(all.size()));
  }
}

// stats --json: counts per id and connection add up to the messages, the span
// and the largest gap agree with the stamps a dump shows.
TEST_F(CvrtoolTest, StatsCountsAndGapsAgreeWithTheDump) {
  const std::string log = Record("a.cvr", 500);
  const ToolRun r = Run({"stats", log, "--json", "--gaps", "1"});
  ASSERT_EQ(r.exit_code, kExitOk) << r.err;
  long long low = LLONG_MAX, high = 0, last = -1, gap = 0, messages = 0;
  for (const std::string& line : DumpJson(log)) {
    if (line.find("\"bookmark\"") != std::string::npos) continue;
    const long long ns = Number(line, "ns");
    low = std::min(low, ns), high = std::max(high, ns), ++messages;
    if (last >= 0) gap = std::max(gap, ns - last);
    last = ns;
  }
  const struct { const char* field; long long value; } fields[] = {
      {"messages", messages}, {"bookmarks", 3}, {"low_ns", low}, {"high_ns", high}, {"span_ns", high - low}};
  for (const auto& f : fields) EXPECT_EQ(Number(r.out, f.field), f.value) << f.field;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex("\"gaps\":\\[\\{\"ns\":([0-9]+)")));
  EXPECT_EQ(std::stoll(m[1]), gap);
  for (const char* table : {"ids", "connections"}) {
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex(std::string("\"") + table + "\":\\[([^\\]]*)\\]")));
    long long sum = 0;
    const std::string body = m[1];
    const std::regex records("\"records\":([0-9]+)");
    for (std::sregex_iterator it(body.begin(), body.end(), records), end; it != end; ++it) sum += std::stoll((*it)[1]);
    EXPECT_EQ(sum, messages) << table;
  }
}

}  // namespace
}  // namespace corvane::test
