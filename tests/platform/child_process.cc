#include "child_process.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#ifndef CORVANE_TEST_EXE_SUFFIX
#define CORVANE_TEST_EXE_SUFFIX ""
#endif

namespace corvane::test {
namespace {

// The directory of the running test executable, with a trailing separator.
std::string ExecutableDirectory() {
  char path[4096] = {};
#ifdef _WIN32
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string exe(path, n);
  return exe.substr(0, exe.find_last_of("\\/") + 1);
#else
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string exe(path, n > 0 ? static_cast<size_t>(n) : 0);
  return exe.substr(0, exe.find_last_of('/') + 1);
#endif
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

int RunChild(const std::vector<std::string>& args) {
  std::string command = Quoted(ExecutableDirectory() + "platform_child" CORVANE_TEST_EXE_SUFFIX);
  for (const std::string& a : args) command += " " + Quoted(a);
#ifdef _WIN32
  // cmd.exe strips the outermost pair of quotes of the whole line.
  return std::system(Quoted(command).c_str());
#else
  int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace corvane::test
