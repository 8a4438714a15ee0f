// The second process of the hardening tests. Exit code 0 for success, 1 for
// the refusal a command expects, 2 and above for other failures, 255 for a
// usage error. CLASS is corvane or logfile2; a holding command creates READY
// once it holds and lets go when RELEASE exists.
//   record CLASS LOG FORMAT BUFFER COUNT READY RELEASE   records COUNT blocks, holds the log
//   try CLASS LOG                     reads LOG: 0 to a clean end, 1 refused
//   hold-index LOG READY RELEASE      holds LOG and its index open (LogFile2)
//   hold-file PATH READY RELEASE      holds PATH sharing read, as a bookmark load does
//   record-killed LOG FORMAT BUFFER COUNTS AFTER DELAY   records until SIGKILL
#include <corvane/corvane.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "hardening/hardening_util.h"
#include "platform/file.h"
#include "support/com_test_util.h"
#include "support/temp_dir.h"

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

uint32_t Number(const char* s) { return static_cast<uint32_t>(std::strtoul(s, nullptr, 0)); }

// Creates READY, waits for RELEASE (at most two minutes, so a failed test
// leaves no child behind).
void Hold(const std::string& ready, const std::string& release) {
  std::ofstream(ready) << "ready\n";
  WaitUntil([&] { return FileExists(release); }, 120000);
}

template <class Log>
int RecordAndHold(ComPtr<Log> log, char** a) {
  if (!log) return 2;
  SetBuffer(log.get(), Number(a[2]));
  if (FAILED(OpenLog(log.get(), a[0], true, static_cast<EnumFileVersion>(Number(a[1]))))) return 3;
  for (uint32_t i = 0; i < Number(a[3]); ++i) {
    if (FAILED(WriteNumbered(log.get(), i))) return 4;
  }
  Hold(a[4], a[5]);
  return FAILED(log->Close()) ? 5 : 0;
}

template <class Log>
int TryReading(ComPtr<Log> log, const std::string& path) {
  if (!log) return 2;
  HRESULT hr = OpenLog(log.get(), path, false);
  if (hr == E_CVR_FILE_CREATION_FAILS) return 1;
  if (FAILED(hr)) return 3;
  ReadBack r = ReadNumbered(log.get());
  log->Close();
  return r.clean_end && !r.mismatch ? 0 : 4;
}

int HoldIndex(const std::string& log_path, const std::string& ready, const std::string& release) {
  auto log = New<ILogFile2>();
  if (!log || FAILED(OpenLog(log.get(), log_path, false))) return 3;
  Hold(ready, release);
  return FAILED(log->Close()) ? 5 : 0;
}

int HoldFile(const std::string& path, const std::string& ready, const std::string& release) {
  platform::OpenOptions o;
  o.access = platform::kAccessRead;
  o.share = platform::kShareRead;
  o.disposition = platform::Disposition::kOpenExisting;
  std::unique_ptr<platform::File> file;
  if (!platform::OpenFile(path, o, &file).ok()) return 3;
  Hold(ready, release);
  return 0;
}

// A second thread kills the process DELAY microseconds after AFTER blocks;
// the count of complete blocks goes to COUNTS (4 bytes, host order) after each.
int RecordKilled(char** a) {
#ifdef _WIN32
  (void)a;
  return 255;
#else
  const uint32_t after = Number(a[4]), delay = Number(a[5]);
  auto log = New<ILogFile2>();
  const int counts = open(a[3], O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!log || counts < 0) return 2;
  log->SetDiskBufferSize(Number(a[2]));
  if (FAILED(OpenLog(log.get(), a[0], true, static_cast<EnumFileVersion>(Number(a[1]))))) return 3;
  std::atomic<uint32_t> done{0};
  std::thread killer([&] {
    WaitUntil([&] { return done.load() >= after; });
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
    kill(getpid(), SIGKILL);
  });
  for (uint32_t i = 0; i < 10000000; ++i) {  // bounded; the kill comes long before
    if (FAILED(WriteNumbered(log.get(), i))) return 4;
    done.store(i + 1);
    const uint32_t n = i + 1;
    if (write(counts, &n, sizeof n) != sizeof n) return 5;
  }
  killer.join();
  return 6;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 255;
  const std::string op = argv[1], cls = argv[2];
  if ((op == "record" && argc == 9) || (op == "try" && argc == 4)) {
    if (cls != "corvane" && cls != "logfile2") return 255;
    int code = 255;
    WithNew(cls == "corvane" ? Kind::kCorvane : Kind::kLogFile2, [&](auto log) {
      code = op == "record" ? RecordAndHold(log, argv + 3) : TryReading(log, argv[3]);
    });
    return code;
  }
  if (op == "hold-index" && argc == 5) return HoldIndex(argv[2], argv[3], argv[4]);
  if (op == "hold-file" && argc == 5) return HoldFile(argv[2], argv[3], argv[4]);
  if (op == "record-killed" && argc == 8) return RecordKilled(argv + 2);
  return 255;
}
