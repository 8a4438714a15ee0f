// The second process of the hardening tests. Exit code 0 for success, 1 for
// the refusal a command expects to meet, 2 and above for other failures,
// 255 for a usage error.
//
//   hardening_child hold-corvane LOG COUNT READY RELEASE
//       records COUNT numbered blocks with Corvane, creates READY, keeps
//       the log open until RELEASE exists, closes it
//   hardening_child try-corvane LOG
//       opens LOG with Corvane for reading: 0 opened (and read), 1 refused
//   hardening_child record LOG FORMAT BUFFER COUNT READY RELEASE
//       records COUNT numbered blocks with LogFile2 (generation FORMAT, disk
//       buffer BUFFER bytes), creates READY, closes at RELEASE
//   hardening_child try-logfile2 LOG
//       opens LOG with LogFile2 for reading: 0 opened and read to a clean
//       end, 1 refused with "File creation failed"
//   hardening_child hold-index LOG READY RELEASE
//       opens LOG with LogFile2 for reading (holding its complete index),
//       creates READY, closes at RELEASE
//   hardening_child hold-file PATH READY RELEASE
//       holds PATH open for reading, sharing read (as a bookmark load does)
//   hardening_child record-forever LOG FORMAT BUFFER
//       records numbered blocks with LogFile2 until killed, writing the
//       number of blocks completed (4 bytes, host order) to standard output
//       after each one
#include <corvane/corvane.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "hardening/hardening_util.h"
#include "platform/file.h"
#include "support/com_test_util.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace corvane;
using namespace corvane::test;

namespace {

uint32_t Number(const char* s) { return static_cast<uint32_t>(std::strtoul(s, nullptr, 0)); }

void Touch(const std::string& path) { std::ofstream(path) << "ready\n"; }

// Waits for the release file; at most two minutes, so that a test that
// failed before releasing cannot leave a child behind for ever.
void AwaitRelease(const std::string& path) {
  WaitUntil([&] { return FileExists(path); }, 120000);
}

int HoldCorvane(const std::string& log_path, uint32_t count, const std::string& ready,
                const std::string& release) {
  auto log = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  if (!log) return 2;
  if (FAILED(OpenCorvane(log.get(), log_path, CVRFileAccessModeWrite, CVRFileCreateModeAlways))) return 3;
  for (uint32_t i = 0; i < count; ++i) {
    if (FAILED(WriteNumbered(log.get(), i))) return 4;
  }
  Touch(ready);
  AwaitRelease(release);
  return FAILED(log->Close()) ? 5 : 0;
}

int TryCorvane(const std::string& log_path) {
  auto log = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  if (!log) return 2;
  HRESULT hr = OpenCorvane(log.get(), log_path, CVRFileAccessModeRead, CVRFileCreateModeExisting);
  if (hr == E_CVR_FILE_CREATION_FAILS) return 1;
  if (FAILED(hr)) return 3;
  ReadBack r = ReadNumbered(log.get());
  log->Close();
  return r.clean_end && !r.mismatch ? 0 : 4;
}

int Record(const std::string& log_path, int format, uint32_t buffer, uint32_t count,
           const std::string& ready, const std::string& release) {
  auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
  if (!log) return 2;
  log->SetDiskBufferSize(buffer);
  if (FAILED(OpenLogFile2(log.get(), log_path, FileAccessModeWriteCreateAlways,
                          static_cast<EnumFileVersion>(format)))) {
    return 3;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (FAILED(WriteNumbered(log.get(), i))) return 4;
  }
  Touch(ready);
  AwaitRelease(release);
  return FAILED(log->Close()) ? 5 : 0;
}

int TryLogFile2(const std::string& log_path) {
  auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
  if (!log) return 2;
  HRESULT hr = OpenLogFile2(log.get(), log_path, FileAccessModeReadOnly);
  if (hr == E_CVR_FILE_CREATION_FAILS) return 1;
  if (FAILED(hr)) return 3;
  ReadBack r = ReadNumbered(log.get());
  log->Close();
  return r.clean_end && !r.mismatch ? 0 : 4;
}

int HoldIndex(const std::string& log_path, const std::string& ready, const std::string& release) {
  auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
  if (!log) return 2;
  if (FAILED(OpenLogFile2(log.get(), log_path, FileAccessModeReadOnly))) return 3;
  Touch(ready);
  AwaitRelease(release);
  return FAILED(log->Close()) ? 5 : 0;
}

int HoldFile(const std::string& path, const std::string& ready, const std::string& release) {
  platform::OpenOptions o;
  o.access = platform::kAccessRead;
  o.share = platform::kShareRead;
  o.disposition = platform::Disposition::kOpenExisting;
  std::unique_ptr<platform::File> file;
  if (!platform::OpenFile(path, o, &file).ok()) return 3;
  Touch(ready);
  AwaitRelease(release);
  return 0;
}

int RecordForever(const std::string& log_path, int format, uint32_t buffer) {
#ifdef _WIN32
  (void)log_path, (void)format, (void)buffer;
  return 255;
#else
  auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
  if (!log) return 2;
  log->SetDiskBufferSize(buffer);
  if (FAILED(OpenLogFile2(log.get(), log_path, FileAccessModeWriteCreateAlways,
                          static_cast<EnumFileVersion>(format)))) {
    return 3;
  }
  // Bounded like every loop here: the test kills the child long before.
  for (uint32_t i = 0; i < 10000000; ++i) {
    if (FAILED(WriteNumbered(log.get(), i))) return 4;
    const uint32_t done = i + 1;
    if (write(1, &done, sizeof done) != sizeof done) return 5;
  }
  return 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 255;
  const std::string op = argv[1];
  if (op == "hold-corvane" && argc == 6) return HoldCorvane(argv[2], Number(argv[3]), argv[4], argv[5]);
  if (op == "try-corvane" && argc == 3) return TryCorvane(argv[2]);
  if (op == "record" && argc == 8) {
    return Record(argv[2], static_cast<int>(Number(argv[3])), Number(argv[4]), Number(argv[5]),
                  argv[6], argv[7]);
  }
  if (op == "try-logfile2" && argc == 3) return TryLogFile2(argv[2]);
  if (op == "hold-index" && argc == 5) return HoldIndex(argv[2], argv[3], argv[4]);
  if (op == "hold-file" && argc == 5) return HoldFile(argv[2], argv[3], argv[4]);
  if (op == "record-forever" && argc == 5) {
    return RecordForever(argv[2], static_cast<int>(Number(argv[3])), Number(argv[4]));
  }
  return 255;
}
