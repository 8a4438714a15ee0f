// Helper programs built beside the tests, run as second processes, and
// bounded waits for what they do.
#ifndef CORVANE_TESTS_SUPPORT_CHILD_PROCESS_H_
#define CORVANE_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace corvane::test {

// Runs program `name`, from the directory of the running test, to its end:
// its exit code, or -1 when it did not exit normally.
int RunProgram(const std::string& name, const std::vector<std::string>& args);

// Polls `done` about every millisecond, at most `limit` times. The bound
// only keeps a broken build from hanging; it says nothing about speed.
bool WaitUntil(const std::function<bool()>& done, int limit = 120000);
void PauseMs(int ms);

// Runs a program on a thread of its own, so that the test can act while the
// program holds a file. Join waits for the exit code.
class BackgroundProgram {
 public:
  BackgroundProgram(const std::string& name, std::vector<std::string> args)
      : thread_([this, name, args = std::move(args)] { code_ = RunProgram(name, args); finished_ = true; }) {}
  ~BackgroundProgram() { Join(); }
  int Join() {
    if (thread_.joinable()) thread_.join();
    return code_;
  }
  // Waits (bounded) until `path` exists or the program has ended; true when
  // the file is there.
  bool AwaitFile(const std::string& path);

 private:
  std::atomic<bool> finished_{false};  // declared before the thread that writes it
  int code_ = -1;
  std::thread thread_;
};

}  // namespace corvane::test

#endif  // CORVANE_TESTS_SUPPORT_CHILD_PROCESS_H_
