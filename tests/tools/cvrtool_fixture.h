// The cvrtool tests' helpers: running the built tool as a user would, the
// fields of its JSON lines, and a fixture with a scratch directory and demo
// logs recorded by the tool itself.
#ifndef CORVANE_TESTS_TOOLS_CVRTOOL_FIXTURE_H_
#define CORVANE_TESTS_TOOLS_CVRTOOL_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace corvane::test {

// cvrtool's exit codes.
constexpr int kExitOk = 0, kExitFailure = 1, kExitUsage = 2;

struct ToolRun {
  int exit_code = -1;
  std::string out, err;  // standard output and error
  std::vector<std::string> lines() const;  // `out` split into lines
};

// `text` quoted for the shell (POSIX sh, or cmd on Windows).
std::string ShellQuote(const std::string& text);
// The command line that runs cvrtool (the one beside this test program on
// Windows) with `args`.
std::string ToolCommand(const std::vector<std::string>& args);
// Runs a shell command (popen) and collects its standard output.
ToolRun RunShell(const std::string& command);
// Runs cvrtool; standard error goes through a file in `scratch_dir`.
ToolRun RunTool(const std::vector<std::string>& args, const std::string& scratch_dir);

// The raw value of "key" in a one-line JSON object: a number as written, a
// string unescaped; "" (JsonInt: -1) when the key is missing.
std::string JsonField(const std::string& line, const std::string& key);
long long JsonInt(const std::string& line, const std::string& key);

class CvrtoolTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name) const { return dir_.File(name); }
  ToolRun Run(const std::vector<std::string>& args) const { return RunTool(args, dir_.path()); }

  // Records a demo log of `messages` messages; fails the test if that fails.
  std::string Record(const std::string& name, int messages, const std::string& format = "1.02",
                     int seed = 1) const {
    const std::string path = File(name);
    const ToolRun r = Run({"record", path, "--demo", std::to_string(messages), "--format", format,
                           "--seed", std::to_string(seed)});
    EXPECT_EQ(r.exit_code, kExitOk) << r.err;
    return path;
  }

  // `dump --json` of a log, one JSON object per record.
  std::vector<std::string> DumpJson(const std::string& path, std::vector<std::string> extra = {}) const {
    std::vector<std::string> args = {"dump", path, "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun r = Run(args);
    EXPECT_EQ(r.exit_code, kExitOk) << r.err;
    return r.lines();
  }

  TempDir dir_;
};

}  // namespace corvane::test

#endif  // CORVANE_TESTS_TOOLS_CVRTOOL_FIXTURE_H_
