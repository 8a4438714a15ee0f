// The second process of the hardening tests. Exit code 0 for success, 1 for
// the refusal a command expects, 2 and above for other failures, 255 for a
// usage error. CLASS is corvane or logfile2; a holding command creates READY
// once it holds and lets go when RELEASE exists.
//   record-CLASS LOG READY RELEASE    records 50 blocks, holds the log
//   read-CLASS LOG READY RELEASE      holds LOG open for reading (LogFile2: its index too)
//   try-CLASS LOG                     reads LOG: 0 to a clean end, 1 refused
//   hold-file PATH READY RELEASE      holds PATH sharing read, as a bookmark load does
//   crash SCENARIO LOG KIND N COUNTS  a scenario killed at a call (Linux)
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "logfile2/log_file2_test_util.h"
#include "platform/file.h"

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "platform/posix/syscalls.h"
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

#ifndef _WIN32
// Crash points: the library's write, fsync, rename, unlink and ftruncate
// calls are counted (kinds 0 to 4); the Nth call of KIND kills the process
// before it is made. Kind 5: the Nth write, once it put half its bytes down.
std::atomic<uint64_t> g_calls[5];
uint64_t g_kind = 0, g_at = 0;
const platform::SyscallTable& Real() { return platform::SystemCalls(); }
// Counts a call of `kind` (a write passes its arguments); the chosen one kills.
void Point(uint64_t kind, int fd = -1, const void* b = nullptr, size_t n = 0) {
  if (++g_calls[kind] != g_at || (kind != g_kind && kind + 5 != g_kind)) return;
  if (g_kind == 5) Real().write(fd, b, n / 2);
  for (kill(getpid(), SIGKILL);;) pause();
}

// crash SCENARIO LOG KIND N COUNTS: record (1.02) or record-e (e1.02): 300
// numbered blocks, a bookmark block after every 50th, a 700-byte disk buffer,
// Close; index: CreateIndex(10) over LOG, Close; bookmarks: an insert and an
// edit of LOG's list, saved by Close. With N = 0 nothing kills it, and the
// count of each kind (write twice: kinds 0 and 5) goes to COUNTS.
int Crash(const Args& a) {
  g_kind = Number(a[3]), g_at = Number(a[4]);
  static platform::SyscallTable t = Real();
  t.write = [](int fd, const void* b, size_t n) { return Point(0, fd, b, n), Real().write(fd, b, n); };
  t.fsync = [](int fd) { return Point(1), Real().fsync(fd); };
  t.rename = [](const char* f, const char* to) { return Point(2), Real().rename(f, to); };
  t.rename_noreplace = [](const char* f, const char* to) { return Point(2), Real().rename_noreplace(f, to); };
  t.unlink = [](const char* p) { return Point(3), Real().unlink(p); };
  t.ftruncate = [](int fd, off_t n) { return Point(4), Real().ftruncate(fd, n); };
  platform::SetSyscalls(&t);
  auto log = New<ILogFile2>();
  const bool record = a[1][0] == 'r';
  if (record) log->SetDiskBufferSize(700);
  HRESULT hr = OpenLog(log.get(), a[2], record, a[1] == "record" ? FileVersionCVR_V0102 : FileVersionCVR_Ve102);
  for (uint32_t i = 0; record && i < 300 && SUCCEEDED(hr); ++i)  // a bookmark block after every 50th
    hr = FAILED(WriteNumbered(log.get(), i)) ? E_FAIL : i % 50 != 49 ? S_OK : Write(log.get(), MakeHeader(CVR_ID_BOOKMARK, 0, 0, 0, 0), Bytes(9, 'a' + i / 50));
  LONGLONG n = 0, res = 0;  // the pass has ended once it gives a count at resolution 10
  if (a[1] == "index" && SUCCEEDED(hr) && SUCCEEDED(hr = log->CreateIndex(10)))
    WaitUntil([&] { return log->GetIndexResolution(&res) == S_OK && res == 10 && log->GetIndexedRecCount(&n) == S_OK && n > 0; });
  if (a[1] == "bookmarks" && SUCCEEDED(hr) && SUCCEEDED(hr = log->InsertBookmark(5, Bstr("new").get())) && SUCCEEDED(hr = log->BookmarkJump(0)))
    hr = log->BookmarkEdit(Bstr("edited").get());
  if (FAILED(hr) || FAILED(log->Close())) return 3;
  std::ofstream(a[5]) << g_calls[0] << ' ' << g_calls[1] << ' ' << g_calls[2] << ' ' << g_calls[3] << ' ' << g_calls[4] << ' ' << g_calls[0];
  return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const Args a(argv + 1, argv + argc);
  if (a.size() < 2) return 255;
#ifndef _WIN32
  if (a[0] == "crash" && a.size() == 6) return Crash(a);
#endif
  if (a[0] == "hold-file" && a.size() == 4) return HoldFile(a);
  const std::string verb = a[0].substr(0, a[0].find('-')), cls = a[0].substr(verb.size());
  if (cls == "-corvane") return Run<ICorvane>(verb, a);
  return cls == "-logfile2" ? Run<ILogFile2>(verb, a) : 255;
}
