// LogFile2 indexing and jumps next to baselines measured in the same run:
//   indexing: CreateIndex(100) with default settings (no "Indexing Buffer
//             Size" in the settings store) over a log of INDEX_BENCH_MIB
//             (default 128) for each payload size, until the index file is
//             complete; baseline: read() of the same file in 1 MiB chunks;
//   jump:     Jump to a random message of a log of 10 million messages at
//             resolution 100, then one ReadBlockHeader, per operation;
//             counters give p50 and p99 in microseconds; baseline: two
//             pread() of 4 KiB at random places (the index page and the log
//             page a jump needs at least).
// The files are warm in the page cache, as a viewer's log is after it was
// written. They are made in a scratch directory and deleted at the end
// (CORVANE_BENCH_KEEP=1 or INDEX_BENCH_KEEP=1 keeps them for another run or
// for reach_bench, which jumps in the same log).
//
// Environment: INDEX_BENCH_MIB, LOGFILE2_BENCH_PAYLOADS (default
// "16 64 256 1024"), JUMP_BENCH_MESSAGES (jump log, default 10000000),
// JUMP_BENCH_ITERATIONS (jumps per repetition, default 20000),
// CORVANE_BENCH_DIR (scratch base).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"

namespace corvane::bench {
namespace {

constexpr size_t kPayload = 64;
const uint64_t kIndexingBytes = EnvNumber("INDEX_BENCH_MIB", 128) << 20;
uint64_t IndexingMessages(size_t payload) { return kIndexingBytes / (kRecordHeader + payload); }
const uint64_t kJumpMessages = EnvNumber("JUMP_BENCH_MESSAGES", 10000000);
const int64_t kJumpIterations = static_cast<int64_t>(EnvNumber("JUMP_BENCH_ITERATIONS", 20000));

const std::filesystem::path& Dir() {
  static const std::filesystem::path dir = ScratchDir("corvane-index-bench");
  return dir;
}

std::string IndexingLog(size_t payload) {
  const std::string path = (Dir() / ("index-" + std::to_string(payload) + ".cvr")).string();
  MakeLog(path, IndexingMessages(payload), payload);
  return path;
}

std::string JumpLog() {
  const std::string path = (Dir() / "jump.cvr").string();
  MakeLog(path, kJumpMessages, kPayload);
  return path;
}

void BM_RawRead_1MiB(benchmark::State& state) {
  const std::string path = IndexingLog(static_cast<size_t>(state.range(0)));
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
  const size_t payload = static_cast<size_t>(state.range(0));
  const std::string path = IndexingLog(payload);
  std::filesystem::remove(Dir() / "registry");  // default settings
  PeakRss peak(state);
  for (auto _ : state) {
    LogFile2Object o;
    OpenLog(o.p, path, FileAccessModeReadOnly, FileVersionCVR_V0102);
    BuildIndex(o.p, path, IndexingMessages(payload), 100);
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
  const std::string path = JumpLog();
  SetIndexingBuffer(Dir(), 1 << 20);
  LogFile2Object o;
  if (OpenIndexedLog(o.p, path, kJumpMessages) != S_OK) {
    state.SkipWithError("open");
    return;
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
  const std::string path = JumpLog();
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

void Payloads(benchmark::internal::Benchmark* b) {
  for (int64_t p : EnvList("LOGFILE2_BENCH_PAYLOADS", {16, 64, 256, 1024})) b->Arg(p);
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}
BENCHMARK(BM_RawRead_1MiB)->Apply(Payloads);
BENCHMARK(BM_Indexing)->Apply(Payloads);
BENCHMARK(BM_RandomPread_Baseline)->Iterations(kJumpIterations);
BENCHMARK(BM_Jump)->Iterations(kJumpIterations);

// Deletes the scratch files when the process ends (after the benchmarks).
ScratchCleanup cleanup{"corvane-index-bench", "INDEX_BENCH_KEEP"};

}  // namespace
}  // namespace corvane::bench
