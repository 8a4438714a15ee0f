// Helpers shared by the benchmarks: the scratch directory, sizes from the
// environment, the sleeping thread every program starts, peak resident
// memory, LogFile2 objects, and the records every program writes (one
// generator, so the library, write()/read(), stdio and libpcap handle the
// same records).
#ifndef CORVANE_BENCH_BENCH_UTIL_H_
#define CORVANE_BENCH_BENCH_UTIL_H_

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "logfile2/log_file2.h"
#include "platform/byte_order.h"
#include "stream/index_format.h"
#include "stream/settings.h"

namespace corvane::bench {

// Size of a 1.02 log's file header; blocks follow it.
inline constexpr uint64_t kLogFileHeader = 128;
// A block header on disk (16-byte form).
inline constexpr uint64_t kRecordHeader = 16;

// A thread that sleeps on a condition variable for the whole process,
// started before main: with a second thread alive, glibc and the library
// take their locks the way they do in a viewer (no single-thread shortcuts).
// The mutex and condition variable are never destroyed: destroying a
// condition variable with a waiter would block the process's exit.
inline const bool kSleepingThreadStarted = [] {
  auto* m = new std::mutex;
  auto* never = new std::condition_variable;
  std::thread([m, never] {
    std::unique_lock<std::mutex> lock(*m);
    never->wait(lock, [] { return false; });
  }).detach();
  return true;
}();

// Peak resident memory of this process over one benchmark (all its
// repetitions' iterations): at construction the heap's free memory goes
// back to the system (malloc_trim; earlier benchmarks' buffers would count
// otherwise) and the high-water mark is reset (/proc/self/clear_refs, "5");
// at destruction VmHWM becomes the counter "peak_rss_mib". It includes the
// program's own few MiB.
class PeakRss {
 public:
  explicit PeakRss(benchmark::State& state) : state_(state) {
    malloc_trim(0);
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
      std::fputs("5", f);
      std::fclose(f);
    }
  }
  ~PeakRss() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("VmHWM:", 0) == 0) state_.counters["peak_rss_mib"] = std::stod(line.substr(6)) / 1024;
    }
  }
  PeakRss(const PeakRss&) = delete;
  PeakRss& operator=(const PeakRss&) = delete;

 private:
  benchmark::State& state_;
};

// The scratch directory of one program: <temp>/<name>, where <temp> is
// $CORVANE_BENCH_DIR if set, else the system's temporary directory.
inline std::filesystem::path ScratchPath(const char* name) {
  const char* base = std::getenv("CORVANE_BENCH_DIR");
  return (base && *base ? std::filesystem::path(base) : std::filesystem::temp_directory_path()) / name;
}
// Creates it and points the settings store (CORVANE_REGISTRY) into it, so no
// benchmark setting reaches the user's store.
inline std::filesystem::path ScratchDir(const char* name) {
  auto d = ScratchPath(name);
  std::filesystem::create_directories(d);
  setenv("CORVANE_REGISTRY", (d / "registry").string().c_str(), 1);
  return d;
}

// Scratch files stay after the run when this is set (the next run reuses them).
inline bool KeepScratch(const char* legacy_variable = nullptr) {
  return std::getenv("CORVANE_BENCH_KEEP") || (legacy_variable && std::getenv(legacy_variable));
}

// Deletes a program's scratch directory when the process ends (after the
// benchmarks), unless KeepScratch(legacy_variable) asks to keep it.
struct ScratchCleanup {
  const char* name;
  const char* legacy_variable = nullptr;
  ~ScratchCleanup() {
    if (KeepScratch(legacy_variable)) return;
    std::error_code ignored;
    std::filesystem::remove_all(ScratchPath(name), ignored);
  }
};

// A non-negative number from the environment, or `fallback`.
inline uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::strtoull(v, nullptr, 10) : fallback;
}

// A space- or comma-separated list of numbers from the environment.
inline std::vector<int64_t> EnvList(const char* name, std::vector<int64_t> fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  std::string s(v);
  for (char& c : s) c = c == ',' ? ' ' : c;
  std::istringstream in(s);
  std::vector<int64_t> out;
  for (int64_t n; in >> n;) out.push_back(n);
  return out.empty() ? fallback : out;
}

struct LogFile2Object {
  ILogFile2* p = nullptr;
  LogFile2Object() { logfile2::CreateLogFile2(nullptr, IID_ILogFile2, reinterpret_cast<void**>(&p)); }
  ~LogFile2Object() { p->Release(); }
  LogFile2Object(const LogFile2Object&) = delete;
  LogFile2Object& operator=(const LogFile2Object&) = delete;
};

// Open with a narrow path; `version` is the version to write, or
// FileVersionUnknown to detect it when reading.
inline HRESULT OpenLog(ILogFile2* f, const std::string& path, EnumFileAccessMode mode,
                       EnumFileVersion version) {
  std::u16string wide(path.begin(), path.end());
  BSTR name = SysAllocString(reinterpret_cast<const OLECHAR*>(wide.c_str()));
  HRESULT hr = f->Open(name, mode, &version, 0);
  SysFreeString(name);
  return hr;
}

// Record number i with a payload of `payload` bytes: a message on
// connection 0, time stamp i (so a reader can tell which record it reached).
inline LogBlockHeader Record(uint64_t i, size_t payload) {
  LogBlockHeader h{};
  h.wBlockID = CVR_ID_QUIVOX_MSG;
  h.qwTimeStamp = i;
  h.dwDataLength = static_cast<ULONG>(payload);
  return h;
}

// The 16 bytes a plain 1.02 log holds for `h` (little-endian id, connection,
// stamp mode, time stamp, data length): the baselines write and parse them.
inline void EncodeRecordHeader(const LogBlockHeader& h, uint8_t out[kRecordHeader]) {
  EncodeLE16(out, h.wBlockID);
  out[2] = h.byConnID;
  out[3] = h.byTimeStampMode;
  EncodeLE64(out + 4, h.qwTimeStamp);
  EncodeLE32(out + 12, h.dwDataLength);
}
inline uint64_t RecordStamp(const uint8_t* header) { return DecodeLE64(header + 4); }
inline uint32_t RecordLength(const uint8_t* header) { return DecodeLE32(header + 12); }

inline std::vector<uint8_t> Payload(size_t payload) { return std::vector<uint8_t>(payload, 0x5A); }

// A 1.02-family log (plain by default) of `messages` records with
// `payload`-byte payloads at `path`, written through the library once and
// reused while its size fits.
inline void MakeLog(const std::string& path, uint64_t messages, size_t payload,
                    EnumFileVersion version = FileVersionCVR_V0102) {
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) == kLogFileHeader + messages * (kRecordHeader + payload)) return;
  LogFile2Object o;
  o.p->SetDiskBufferSize(1 << 20);
  OpenLog(o.p, path, FileAccessModeWriteCreateAlways, version);
  std::vector<uint8_t> data = Payload(payload);
  for (uint64_t i = 0; i < messages; ++i) {
    LogBlockHeader h = Record(i, payload);
    o.p->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, data.data(), h.dwDataLength, 0);
  }
  o.p->Close();
  o.p->SetDiskBufferSize(0);
}

// The index file beside a log (same name, extension .idx).
inline std::string IndexPath(const std::string& log) { return log.substr(0, log.rfind('.')) + ".idx"; }

// The record count a completed indexing pass wrote into an index file, or 0.
inline uint64_t IndexedCountInFile(const std::string& idx) {
  std::ifstream in(idx, std::ios::binary);
  uint8_t b[8] = {};
  in.seekg(stream::kIndexRecordCountOffset);
  in.read(reinterpret_cast<char*>(b), 8);
  return in ? DecodeLE64(b) : 0;
}

// The settings store of `dir` with one "Indexing Buffer Size"; read by the
// streams an indexing thread constructs.
inline void SetIndexingBuffer(const std::filesystem::path& dir, uint32_t bytes) {
  std::ofstream(dir / "registry") << "[HKEY_CURRENT_USER\\" << stream::kSettingsKey
                                  << "]\n\"Indexing Buffer Size\"=dword:" << bytes << "\n";
}

// CreateIndex on the open log `f` and wait for the complete index file
// (polled every 200 us).
inline void BuildIndex(ILogFile2* f, const std::string& log, uint64_t messages, LONGLONG resolution) {
  std::filesystem::remove(IndexPath(log));
  f->CreateIndex(resolution);
  while (IndexedCountInFile(IndexPath(log)) != messages) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

// Opens `log` (made by MakeLog) for reading with a complete index of
// resolution 100, building the index first when it is missing or stale.
inline HRESULT OpenIndexedLog(ILogFile2* f, const std::string& log, uint64_t messages) {
  HRESULT hr = OpenLog(f, log, FileAccessModeReadOnly, FileVersionCVR_V0102);
  if (hr != S_OK || IndexedCountInFile(IndexPath(log)) == messages) return hr;
  BuildIndex(f, log, messages, 100);
  f->Close();
  return OpenLog(f, log, FileAccessModeReadOnly, FileVersionCVR_V0102);  // as a viewer finds it
}

}  // namespace corvane::bench

#endif  // CORVANE_BENCH_BENCH_UTIL_H_
