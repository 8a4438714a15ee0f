// Runs the built cvrtool through the shell and reads its JSON lines.
#include "tools/cvrtool_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

namespace corvane::test {
std::string ShellQuote(const std::string& arg) {
#ifdef _WIN32
  return "\"" + arg + "\"";  // the tests pass no double quotes inside arguments
#else
  std::string q = "'";
  for (const char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
#endif
}

std::vector<std::string> ToolRun::lines() const {
  std::vector<std::string> result;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    result.push_back(line);
  }
  return result;
}

std::string ToolCommand(const std::vector<std::string>& args) {
#ifdef _WIN32
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string tool(self);
  tool = tool.substr(0, tool.find_last_of("\\/") + 1) + "cvrtool.exe";
#else
  const std::string tool = CVRTOOL_PATH;
#endif
  std::string command = ShellQuote(tool);
  for (const std::string& a : args) command += " " + ShellQuote(a);
  return command;
}

ToolRun RunShell(const std::string& command) {
  ToolRun run;
#ifdef _WIN32
  // cmd /c drops the first and the last quote of a line that starts with one.
  FILE* pipe = _popen(("\"" + command + "\"").c_str(), "rb");
#else
  FILE* pipe = popen(command.c_str(), "r");
#endif
  if (!pipe) return run;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
#ifdef _WIN32
  run.exit_code = _pclose(pipe);
#else
  const int status = pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
  return run;
}

ToolRun RunTool(const std::vector<std::string>& args, const std::string& scratch_dir) {
  static int counter = 0;
  const std::string err_path = scratch_dir + "/stderr-" + std::to_string(++counter) + ".txt";
  ToolRun run = RunShell(ToolCommand(args) + " 2>" + ShellQuote(err_path));
  std::ifstream in(err_path, std::ios::binary);
  run.err.assign(std::istreambuf_iterator<char>(in), {});
  in.close();
  std::remove(err_path.c_str());
  return run;
}

std::string JsonField(const std::string& line, const std::string& key) {
  const std::string tag = "\"" + key + "\":";
  const size_t at = line.find(tag);
  if (at == std::string::npos) return "";
  size_t i = at + tag.size();
  std::string value;
  if (i < line.size() && line[i] == '"') {
    for (++i; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        const char e = line[++i];
        value += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
      } else {
        value += line[i];
      }
    }
    return value;
  }
  int depth = 0;
  for (; i < line.size(); ++i) {
    const char c = line[i];
    if (depth == 0 && (c == ',' || c == '}')) break;
    if (c == '{' || c == '[') ++depth;
    if (c == '}' || c == ']') --depth;
    value += c;
  }
  return value;
}

long long JsonInt(const std::string& line, const std::string& key) {
  const std::string v = JsonField(line, key);
  return v.empty() ? -1 : std::strtoll(v.c_str(), nullptr, 10);
}

}  // namespace corvane::test
