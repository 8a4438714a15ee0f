// Fixture for the cvrtool tests: a scratch directory, the tool runner and
// demo logs recorded by the tool itself.
#ifndef CORVANE_TESTS_TOOLS_CVRTOOL_FIXTURE_H_
#define CORVANE_TESTS_TOOLS_CVRTOOL_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tools/tool_runner.h"

namespace corvane::test {

// cvrtool's exit codes.
constexpr int kExitOk = 0, kExitFailure = 1, kExitUsage = 2, kExitUnavailable = 3;

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
  std::vector<std::string> DumpJson(const std::string& path,
                                    std::vector<std::string> extra = {}) const {
    std::vector<std::string> args = {"dump", path, "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun r = Run(args);
    EXPECT_EQ(r.exit_code, kExitOk) << r.err;
    return r.lines();
  }

  // Builds the index of `path`; skips the test while the library has none.
  void IndexOrSkip(const std::string& path, const std::string& resolution = "10") const {
    const ToolRun r = Run({"index", path, "--resolution", resolution});
    if (r.exit_code == kExitUnavailable) {
      ASSERT_NE(r.err.find("not implemented"), std::string::npos) << r.err;
      GTEST_SKIP() << "indexing not available in this build of the library: " << r.err;
    }
    ASSERT_EQ(r.exit_code, kExitOk) << r.err;
  }

  TempDir dir_;
};

}  // namespace corvane::test

#endif  // CORVANE_TESTS_TOOLS_CVRTOOL_FIXTURE_H_
