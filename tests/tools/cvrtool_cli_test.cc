// cvrtool's command line: help, usage errors, files it cannot read, and the
// progress bar on a terminal.
#include <cstdio>
#include <cstdlib>

#include "tools/cvrtool_fixture.h"

namespace corvane::test {
namespace {

using CvrtoolCliTest = CvrtoolTest;

TEST_F(CvrtoolCliTest, EveryCommandHasHelpAndTheToolItsVersion) {
  for (const std::string command : {"info", "dump", "index", "bookmarks", "convert", "verify", "record"}) {
    SCOPED_TRACE(command);
    const ToolRun r = Run({command, "--help"});
    EXPECT_EQ(r.exit_code, kExitOk);
    EXPECT_NE(r.out.find("usage: cvrtool " + command), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("example: cvrtool " + command), std::string::npos) << r.out;
    EXPECT_EQ(Run({"help", command}).out, r.out);
  }
  const ToolRun help = Run({"help"});
  EXPECT_EQ(help.exit_code, kExitOk);
  EXPECT_NE(help.out.find("exit codes"), std::string::npos);
  const ToolRun version = Run({"--version"});
  EXPECT_EQ(version.exit_code, kExitOk);
  EXPECT_EQ(version.out.rfind("cvrtool ", 0), 0u) << version.out;
}

TEST_F(CvrtoolCliTest, WrongArgumentsExitWithTwoAndSayWhatIsWrong) {
  const std::string log = Record("a.cvr", 20);
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{}, "usage: cvrtool COMMAND"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"dump"}, "missing arguments"},
      {{"verify", log, "extra"}, "unexpected argument 'extra'"},
      {{"dump", log, "--bogus"}, "unknown option '--bogus'"},
      {{"dump", log, "--count"}, "'--count' needs a value"},
      {{"dump", log, "--count", "-1"}, "--count must lie between 0"},
      {{"dump", log, "--data", "octal"}, "--data must be none, hex or ascii"},
      {{"dump", log, "--json=yes"}, "takes no value"},
      {{"record", File("b.cvr")}, "--demo"},
      {{"record", File("b.cvr"), "--demo", "5", "--format", "01.00"}, "--format must be one of"},
      {{"convert", log, File("b.cvr"), "--to", "1.00"}, "--to must be one of"},
      {{"convert", log, log, "--to", "u1.02"}, "same file"},
      {{"convert", log, File("a.log"), "--to", "u1.02"}, "share their .idx and .bmk"},
      {{"bookmarks", log, "rename", "1"}, "unknown action 'rename'"},
      {{"bookmarks", log, "edit", "first", "text"}, "bookmark number must be a whole number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const ToolRun r = Run(c.args);
    EXPECT_EQ(r.exit_code, kExitUsage) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(CvrtoolCliTest, FilesThatAreNoLogsFailWithOneAndAClearMessage) {
  const std::string text = File("notes.txt");
  WriteFileBytes(text, {'h', 'e', 'l', 'l', 'o', '\n'});
  const std::string missing = File("missing.cvr");
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{"info", missing}, "no such file"},
      {{"convert", missing, File("out.cvr"), "--to", "1.02"}, "no such file"},
      {{"info", text}, "not a log format the library reads"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const ToolRun r = Run(c.args);
    EXPECT_EQ(r.exit_code, kExitFailure);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}

#ifndef _WIN32
// `script` gives the tool a pseudo-terminal as standard error.
TEST_F(CvrtoolCliTest, ProgressBarOnATerminal) {
  if (RunShell("command -v script >/dev/null 2>&1").exit_code != 0) {
    GTEST_SKIP() << "no 'script' program to run the tool on a pseudo-terminal";
  }
  const std::string log = Record("a.cvr", 300);
  const std::string command = ToolCommand({"convert", log, File("b.cvr"), "--to", "u1.02"});
  const ToolRun r = RunShell("script -qec " + ShellQuote(command + " 2>&1") + " /dev/null");
  ASSERT_EQ(r.exit_code, kExitOk) << r.out;
  EXPECT_NE(r.out.find("converting"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("100.0%"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("MB/s"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find('\r'), std::string::npos) << r.out;
}
#endif

}  // namespace
}  // namespace corvane::test
