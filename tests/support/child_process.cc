#include "support/child_process.h"

#include <chrono>
#include <cstdlib>
#include <vector>

#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace corvane::test {

int RunProgram(const std::string& name, const std::vector<std::string>& args) {
  char exe[4096] = {};
#ifdef _WIN32
  const std::string self(exe, GetModuleFileNameA(nullptr, exe, sizeof exe));
  std::string command = "\"" + self.substr(0, self.find_last_of("\\/") + 1) + name + ".exe\"";
#else
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  const std::string self(exe, n > 0 ? static_cast<size_t>(n) : 0);
  std::string command = "\"" + self.substr(0, self.find_last_of('/') + 1) + name + "\"";
#endif
  for (const std::string& a : args) command += " \"" + a + "\"";
#ifdef _WIN32
  // Started directly, not through cmd.exe: one process to create instead of
  // two, and no shell between (under a loaded Wine, cmd.exe now and then
  // failed to start the program it was given).
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
#else
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

bool BackgroundProgram::AwaitFile(const std::string& path) {
  WaitUntil([&] { return finished_.load() || FileExists(path); });
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
