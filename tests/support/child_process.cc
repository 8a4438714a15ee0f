#include "support/child_process.h"

#include <chrono>
#include <cstdlib>
#include <utility>

#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace corvane::test {
namespace {
std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string SiblingProgram(const std::string& name) {
  char path[4096] = {};
#ifdef _WIN32
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  const std::string exe(path, n);
  return exe.substr(0, exe.find_last_of("\\/") + 1) + name + ".exe";
#else
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  const std::string exe(path, n > 0 ? static_cast<size_t>(n) : 0);
  return exe.substr(0, exe.find_last_of('/') + 1) + name;
#endif
}
}  // namespace

int RunProgram(const std::string& name, const std::vector<std::string>& args) {
  std::string command = Quoted(SiblingProgram(name));
  for (const std::string& a : args) command += " " + Quoted(a);
#ifdef _WIN32
  // cmd.exe strips the outermost pair of quotes of the whole line.
  return std::system(Quoted(command).c_str());
#else
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

BackgroundProgram::BackgroundProgram(const std::string& name, std::vector<std::string> args)
    : thread_([this, name, args = std::move(args)] {
        code_ = RunProgram(name, args);
        finished_.store(true);
      }) {}

int BackgroundProgram::Join() {
  if (!joined_) {
    thread_.join();
    joined_ = true;
  }
  return code_;
}

bool BackgroundProgram::AwaitFile(const std::string& path) {
  WaitUntil([&] { return finished() || FileExists(path); });
  return FileExists(path);
}

void PauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool WaitUntil(const std::function<bool()>& done, int limit) {
  for (int i = 0; i < limit; ++i) {
    if (done()) return true;
    PauseMs(1);
  }
  return done();
}

}  // namespace corvane::test
