// Runs the built cvrtool as a user would and collects what it printed.
#ifndef CORVANE_TESTS_TOOLS_TOOL_RUNNER_H_
#define CORVANE_TESTS_TOOLS_TOOL_RUNNER_H_

#include <string>
#include <vector>

namespace corvane::test {

struct ToolRun {
  int exit_code = -1;
  std::string out;  // standard output
  std::string err;  // standard error
  std::vector<std::string> lines() const;  // `out` split into lines
};

// The cvrtool beside this test program (or where the build put it).
std::string ToolPath();

// Runs cvrtool with `args` through the shell (popen), standard output read
// through the pipe, standard error through a file in `scratch_dir`.
ToolRun RunTool(const std::vector<std::string>& args, const std::string& scratch_dir);

// `text` quoted for the shell (POSIX sh, or cmd on Windows).
std::string ShellQuote(const std::string& text);

// The command line of RunTool, for wrapping (e.g. in `script`).
std::string ToolCommand(const std::vector<std::string>& args);

// Runs any shell command and returns what it printed on standard output.
ToolRun RunShell(const std::string& command);

// The raw value of "key" in a one-line JSON object: a number as written, a
// string unescaped; "" when the key is missing.
std::string JsonField(const std::string& line, const std::string& key);
long long JsonInt(const std::string& line, const std::string& key);

}  // namespace corvane::test

#endif  // CORVANE_TESTS_TOOLS_TOOL_RUNNER_H_
