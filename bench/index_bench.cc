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
// (CORVANE_BENCH_KEEP=1 or INDEX_BENCH_KEEP=1 keeps them for another run or
// for reach_bench, which jumps in the same log).
//
// Environment: INDEX_BENCH_MIB (indexing log, default 1024),
// JUMP_BENCH_MESSAGES (jump log, default 10000000), JUMP_BENCH_ITERATIONS
// (jumps per repetition, default 20000), CORVANE_BENCH_DIR (scratch base).
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
const uint64_t kIndexingMessages = (EnvNumber("INDEX_BENCH_MIB", 1024) << 20) / (kRecordHeader + kPayload);
const uint64_t kJumpMessages = EnvNumber("JUMP_BENCH_MESSAGES", 10000000);
const int64_t kJumpIterations = static_cast<int64_t>(EnvNumber("JUMP_BENCH_ITERATIONS", 20000));

const std::filesystem::path& Dir() {
  static const std::filesystem::path dir = ScratchDir("corvane-index-bench");
  return dir;
}

std::string IndexingLog() {
  const std::string path = (Dir() / "index.cvr").string();
  MakeLog(path, kIndexingMessages, kPayload);
  return path;
}

std::string JumpLog() {
  const std::string path = (Dir() / "jump.cvr").string();
  MakeLog(path, kJumpMessages, kPayload);
  return path;
}

void BM_RawRead_1MiB(benchmark::State& state) {
  const std::string path = IndexingLog();
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
  const std::string path = IndexingLog();
  SetIndexingBuffer(Dir(), static_cast<uint32_t>(state.range(0)));
  for (auto _ : state) {
    LogFile2Object o;
    OpenLog(o.p, path, FileAccessModeReadOnly, FileVersionCVR_V0102);
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

BENCHMARK(BM_RawRead_1MiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Indexing)->Arg(2048)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RandomPread_Baseline)->Iterations(kJumpIterations);
BENCHMARK(BM_Jump)->Iterations(kJumpIterations);

// Deletes the scratch files when the process ends (after the benchmarks).
struct Cleanup {
  ~Cleanup() {
    if (KeepScratch("INDEX_BENCH_KEEP")) return;
    std::error_code ignored;
    std::filesystem::remove_all(ScratchPath("corvane-index-bench"), ignored);
  }
} cleanup;

}  // namespace
}  // namespace corvane::bench
