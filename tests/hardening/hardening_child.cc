// The second process of the hardening tests. Exit code 0 for success, 1 for
// the refusal a command expects, 2 and above for other failures, 255 for a
// usage error. CLASS is corvane or logfile2; a holding command creates READY
// once it holds and lets go when RELEASE exists.
//   record-CLASS LOG READY RELEASE    records 50 blocks, holds the log
//   read-CLASS LOG READY RELEASE      holds LOG open for reading (LogFile2: its index too)
//   try-CLASS LOG                     reads LOG: 0 to a clean end, 1 refused
//   hold-file PATH READY RELEASE      holds PATH sharing read, as a bookmark load does
//   record-killed LOG FORMAT BUFFER COUNTS AFTER DELAY   records until SIGKILL
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "logfile2/log_file2_test_util.h"
#include "platform/file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#endif

using namespace corvane;
using namespace corvane::test;

namespace {

using Args = std::vector<std::string>;
[[maybe_unused]] uint32_t Number(const std::string& s) { return static_cast<uint32_t>(std::strtoul(s.c_str(), nullptr, 0)); }

// Creates READY, waits for RELEASE (at most two minutes, so a failed test
// leaves no child behind).
void Hold(const Args& a) {
  std::ofstream(a[2]) << "ready\n";
  WaitUntil([&] { return FileExists(a[3]); }, 120000);
}

template <class Log>
int Run(const std::string& verb, const Args& a) {
  auto log = New<Log>();
  const HRESULT hr = log ? OpenLog(log.get(), a[1], verb == "record") : E_FAIL;
  if (verb == "try") return hr == E_CVR_FILE_CREATION_FAILS ? 1 : FAILED(hr) ? 3 : ReadNumbered(log.get()).clean_end ? 0 : 4;
  if (FAILED(hr) || a.size() != 4) return 3;
  for (uint32_t i = 0; verb == "record" && i < 50; ++i)
    if (FAILED(WriteNumbered(log.get(), i))) return 4;
  Hold(a);
  return FAILED(log->Close()) ? 5 : 0;
}

int HoldFile(const Args& a) {
  std::unique_ptr<platform::File> file;
  if (!platform::OpenFile(a[1], {platform::kAccessRead, platform::kShareRead}, &file).ok()) return 3;
  return Hold(a), 0;
}

// A second thread kills the process DELAY microseconds after AFTER blocks;
// the count of complete blocks goes to COUNTS (4 bytes, host order) after each.
int RecordKilled(const Args& a) {
#ifdef _WIN32
  (void)a;
  return 255;
#else
  const uint32_t after = Number(a[5]), delay = Number(a[6]);
  auto log = New<ILogFile2>();
  const int counts = open(a[4].c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!log || counts < 0) return 2;
  log->SetDiskBufferSize(Number(a[3]));
  if (FAILED(OpenLog(log.get(), a[1], true, static_cast<EnumFileVersion>(Number(a[2]))))) return 3;
  std::atomic<uint32_t> done{0};
  std::thread killer([&] {
    WaitUntil([&] { return done.load() >= after; });
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
    kill(getpid(), SIGKILL);
  });
  for (uint32_t n = 1; n < 10000000; ++n) {  // bounded; the kill comes long before
    if (FAILED(WriteNumbered(log.get(), n - 1))) return 4;
    done.store(n);
    if (write(counts, &n, sizeof n) != sizeof n) return 5;
  }
  killer.join();
  return 6;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const Args a(argv + 1, argv + argc);
  if (a.size() < 2) return 255;
  if (a[0] == "record-killed" && a.size() == 7) return RecordKilled(a);
  if (a[0] == "hold-file" && a.size() == 4) return HoldFile(a);
  const std::string verb = a[0].substr(0, a[0].find('-')), cls = a[0].substr(verb.size());
  if (cls == "-corvane") return Run<ICorvane>(verb, a);
  return cls == "-logfile2" ? Run<ILogFile2>(verb, a) : 255;
}
