// LogFile2 indexing and jumps next to baselines measured in the same run:
//   indexing: CreateIndex(100) over a log of about 1 GiB (64-byte payloads,
//             80-byte blocks) until the index file is complete, for
//             "Indexing Buffer Size" 2048 (the default), 64 KiB and 1 MiB;
//             baseline: read() of the same file in 1 MiB chunks;
//   jump:     Jump to a random message of a log of 10 million messages at
//             resolution 100, then one ReadBlockHeader, per operation;
//             counters give p50 and p99 in microseconds; baseline: two
//             pread() of 4 KiB at random places (the index page and the log
//             page a jump needs at least).
// Both files are warm in the page cache, as a viewer's log is after it was
// written. They are made in a scratch directory and deleted at the end
// (INDEX_BENCH_KEEP=1 keeps them for another run).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "logfile2/log_file2.h"
#include "stream/settings.h"

namespace corvane::logfile2 {
namespace {

const uint64_t kIndexingMessages = (1ull << 30) / 80;  // 1 GiB of 80-byte blocks
constexpr uint64_t kJumpMessages = 10000000;

std::filesystem::path ScratchDir() {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / "corvane-index-bench";
    std::filesystem::create_directories(d);
    setenv("CORVANE_REGISTRY", (d / "registry").string().c_str(), 1);
    return d;
  }();
  return dir;
}

// The settings store with one "Indexing Buffer Size"; read by the streams
// the indexing thread constructs.
void SetIndexingBuffer(uint32_t bytes) {
  std::ofstream(ScratchDir() / "registry")
      << "[HKEY_CURRENT_USER\\" << stream::kSettingsKey << "]\n\"Indexing Buffer Size\"=dword:"
      << bytes << "\n";
}

struct Object {
  ILogFile2* p = nullptr;
  Object() { CreateLogFile2(nullptr, IID_ILogFile2, reinterpret_cast<void**>(&p)); }
  ~Object() { p->Release(); }
};

HRESULT OpenLog(ILogFile2* f, const std::string& path, EnumFileAccessMode mode) {
  EnumFileVersion v = FileVersionCVR_V0102;
  std::u16string wide(path.begin(), path.end());
  BSTR name = SysAllocString(reinterpret_cast<const OLECHAR*>(wide.c_str()));
  HRESULT hr = f->Open(name, mode, &v, 0);
  SysFreeString(name);
  return hr;
}

std::string IndexPath(const std::string& log) { return log.substr(0, log.rfind('.')) + ".idx"; }

// A log of `messages` blocks with 64-byte payloads, made once per run.
std::string MakeLog(const std::string& name, uint64_t messages) {
  const std::string path = (ScratchDir() / name).string();
  if (std::filesystem::exists(path) &&
      std::filesystem::file_size(path) == 128 + messages * 80) {
    return path;
  }
  Object o;
  o.p->SetDiskBufferSize(1 << 20);
  OpenLog(o.p, path, FileAccessModeWriteCreateAlways);
  std::vector<uint8_t> data(64, 0x5A);
  LogBlockHeader h{};
  h.wBlockID = 0x20;
  h.dwDataLength = 64;
  for (uint64_t i = 0; i < messages; ++i) {
    h.qwTimeStamp = i;
    o.p->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, data.data(), 64, 0);
  }
  o.p->Close();
  o.p->SetDiskBufferSize(0);
  return path;
}

uint64_t IndexedCountInFile(const std::string& idx) {
  std::ifstream in(idx, std::ios::binary);
  uint8_t b[8] = {};
  in.seekg(136);
  in.read(reinterpret_cast<char*>(b), 8);
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
  return in ? v : 0;
}

// CreateIndex and wait for the complete index file (polled every 200 us).
void BuildIndex(ILogFile2* f, const std::string& log, uint64_t messages, LONGLONG resolution) {
  std::filesystem::remove(IndexPath(log));
  f->CreateIndex(resolution);
  while (IndexedCountInFile(IndexPath(log)) != messages) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

void BM_RawRead_1MiB(benchmark::State& state) {
  const std::string path = MakeLog("index.cvr", kIndexingMessages);
  std::vector<char> buffer(1 << 20);
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_RDONLY);
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
  }
  state.SetBytesProcessed(state.iterations() * std::filesystem::file_size(path));
}

void BM_Indexing(benchmark::State& state) {
  const std::string path = MakeLog("index.cvr", kIndexingMessages);
  SetIndexingBuffer(static_cast<uint32_t>(state.range(0)));
  for (auto _ : state) {
    Object o;
    OpenLog(o.p, path, FileAccessModeReadOnly);
    BuildIndex(o.p, path, kIndexingMessages, 100);
    o.p->Close();
  }
  state.SetBytesProcessed(state.iterations() * std::filesystem::file_size(path));
  std::filesystem::remove(IndexPath(path));
}

void ReportPercentiles(benchmark::State& state, std::vector<double>& us) {
  std::sort(us.begin(), us.end());
  if (us.empty()) return;
  state.counters["p50_us"] = us[us.size() / 2];
  state.counters["p99_us"] = us[us.size() * 99 / 100];
  state.counters["max_us"] = us.back();
}

void BM_Jump(benchmark::State& state) {
  const std::string path = MakeLog("jump.cvr", kJumpMessages);
  SetIndexingBuffer(1 << 20);
  Object o;
  OpenLog(o.p, path, FileAccessModeReadOnly);
  if (!std::filesystem::exists(IndexPath(path)) ||
      IndexedCountInFile(IndexPath(path)) != kJumpMessages) {
    BuildIndex(o.p, path, kJumpMessages, 100);
    o.p->Close();
    OpenLog(o.p, path, FileAccessModeReadOnly);  // the complete index, as a viewer finds it
  }
  std::mt19937_64 random(42);
  std::uniform_int_distribution<LONGLONG> pick(0, kJumpMessages - 1);
  std::vector<double> us;
  LogBlockHeader h;
  ULONG returned = 0;
  LONG eof = 0;
  for (auto _ : state) {
    const LONGLONG n = pick(random);
    const auto t0 = std::chrono::steady_clock::now();
    if (o.p->Jump(n) != S_OK ||
        o.p->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &eof) != S_OK ||
        h.qwTimeStamp != static_cast<ULONGLONG>(n)) {
      state.SkipWithError("jump landed elsewhere");
      break;
    }
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
  }
  ReportPercentiles(state, us);
}

void BM_RandomPread_Baseline(benchmark::State& state) {
  const std::string path = MakeLog("jump.cvr", kJumpMessages);
  const uint64_t size = std::filesystem::file_size(path);
  int fd = ::open(path.c_str(), O_RDONLY);
  std::mt19937_64 random(7);
  std::uniform_int_distribution<uint64_t> pick(0, size - 4096);
  std::vector<char> page(4096);
  std::vector<double> us;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(::pread(fd, page.data(), page.size(), pick(random) & ~4095ull));
    benchmark::DoNotOptimize(::pread(fd, page.data(), page.size(), pick(random) & ~4095ull));
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
  }
  ::close(fd);
  ReportPercentiles(state, us);
}

BENCHMARK(BM_RawRead_1MiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Indexing)->Arg(2048)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RandomPread_Baseline)->Iterations(20000);
BENCHMARK(BM_Jump)->Iterations(20000);

// Deletes the scratch files when the process ends (after the benchmarks).
struct Cleanup {
  ~Cleanup() {
    if (std::getenv("INDEX_BENCH_KEEP")) return;
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::temp_directory_path() / "corvane-index-bench", ignored);
  }
} cleanup;

}  // namespace
}  // namespace corvane::logfile2
