// Peak resident memory of every path over one large log (MEMORY_BENCH_MIB,
// default 1024, of records with MEMORY_BENCH_PAYLOAD-byte payloads, default
// 1024), one pass per iteration, each reporting "peak_rss_mib":
//   in this process (VmHWM, reset before each benchmark; bench_util.h):
//     write 1.02 and e1.02 through WriteBlock with a 64 KiB disk buffer,
//     read both through ReadBlockHeader + ReadBlockData, CreateIndex with
//     default settings, and random Jump + ReadBlockHeader (MEMORY_BENCH_JUMPS,
//     default 10000) through that index;
//   the built cvrtool as a child process (its ru_maxrss and wall time):
//     verify of the plain and of the enciphered log, dump, info and index of
//     the plain log, and convert, export (pcapng, jsonl, csv), import,
//     slice, split and merge of it, output to /dev/null.
// The cvrtool verify pair is also the enciphered-against-plain wall-time row.
//
// Environment: CVRTOOL (path of cvrtool; default: beside this program),
// MEMORY_BENCH_MIB, MEMORY_BENCH_PAYLOAD, MEMORY_BENCH_JUMPS,
// CORVANE_BENCH_DIR, CORVANE_BENCH_KEEP.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench_util.h"

extern char** environ;

namespace corvane::bench {
namespace {

const size_t kPayload = EnvNumber("MEMORY_BENCH_PAYLOAD", 1024);
const uint64_t kMessages = (EnvNumber("MEMORY_BENCH_MIB", 1024) << 20) / (kRecordHeader + kPayload);
const uint64_t kJumps = EnvNumber("MEMORY_BENCH_JUMPS", 10000);

std::string Path(EnumFileVersion v) {
  static const std::filesystem::path dir = ScratchDir("corvane-memory-bench");
  return (dir / (v == FileVersionCVR_Ve102 ? "memory-e.cvr" : "memory.cvr")).string();
}

void BM_Memory_Write(benchmark::State& state, EnumFileVersion v) {
  std::vector<uint8_t> data = Payload(kPayload);
  PeakRss peak(state);
  for (auto _ : state) {
    LogFile2Object o;
    o.p->SetDiskBufferSize(64 * 1024);
    if (OpenLog(o.p, Path(v), FileAccessModeWriteCreateAlways, v) != S_OK) state.SkipWithError("open");
    for (uint64_t i = 0; i < kMessages; ++i) {
      LogBlockHeader h = Record(i, kPayload);
      o.p->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, data.data(), h.dwDataLength, 0);
    }
    o.p->Close();
    o.p->SetDiskBufferSize(0);
  }
}

void BM_Memory_Read(benchmark::State& state, EnumFileVersion v) {
  MakeLog(Path(v), kMessages, kPayload, v);
  std::vector<uint8_t> data(kPayload);
  PeakRss peak(state);
  for (auto _ : state) {
    LogFile2Object o;
    LogBlockHeader h;
    ULONG returned = 0;
    LONG eof = 0;
    uint64_t n = 0;
    OpenLog(o.p, Path(v), FileAccessModeReadOnly, FileVersionUnknown);
    while (o.p->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &eof) == S_OK && !eof &&
           o.p->ReadBlockData(data.data(), static_cast<ULONG>(data.size())) == S_OK) {
      ++n;
    }
    if (n != kMessages) state.SkipWithError("record count");
    o.p->Close();
  }
}

void BM_Memory_Index(benchmark::State& state) {
  const std::string path = Path(FileVersionCVR_V0102);
  MakeLog(path, kMessages, kPayload);
  PeakRss peak(state);
  for (auto _ : state) {
    LogFile2Object o;
    OpenLog(o.p, path, FileAccessModeReadOnly, FileVersionCVR_V0102);
    BuildIndex(o.p, path, kMessages, 100);
    o.p->Close();
  }
}

void BM_Memory_Jump(benchmark::State& state) {
  const std::string path = Path(FileVersionCVR_V0102);
  MakeLog(path, kMessages, kPayload);
  PeakRss peak(state);
  std::mt19937_64 random(42);
  std::uniform_int_distribution<LONGLONG> pick(0, static_cast<LONGLONG>(kMessages) - 1);
  for (auto _ : state) {
    LogFile2Object o;
    if (OpenIndexedLog(o.p, path, kMessages) != S_OK) state.SkipWithError("open");
    LogBlockHeader h;
    ULONG returned = 0;
    LONG eof = 0;
    for (uint64_t i = 0; i < kJumps; ++i) {
      const LONGLONG n = pick(random);
      if (o.p->Jump(n) != S_OK ||
          o.p->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &eof) != S_OK ||
          h.qwTimeStamp != static_cast<ULONGLONG>(n)) {
        state.SkipWithError("jump landed elsewhere");
        break;
      }
    }
    o.p->Close();
  }
}

std::string Cvrtool() {
  const char* v = std::getenv("CVRTOOL");
  if (v && *v) return v;
  return (std::filesystem::canonical("/proc/self/exe").parent_path() / "cvrtool").string();
}

// cvrtool as a child with its output sent to /dev/null: `command` is its
// argument words, where LOG stands for the log, OUT for a scratch file
// beside it, PCAPNG for the capture the pcapng export writes (exports run
// before the import) and COPY for the converted copy (convert runs first).
// The iteration time is the child's wall time, the counter its ru_maxrss.
void BM_Cvrtool(benchmark::State& state, const char* command, EnumFileVersion v) {
  const std::string log = Path(v);
  MakeLog(log, kMessages, kPayload, v);
  const std::string tool = Cvrtool();
  std::vector<std::string> words = {tool};
  std::istringstream in(command);
  for (std::string w; in >> w;) {
    words.push_back(w == "LOG"      ? log
                    : w == "OUT"    ? log + ".out"
                    : w == "PCAPNG" ? log + ".pcapng"
                    : w == "COPY"   ? log + ".copy.cvr"
                                    : w);
  }
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  long peak_kib = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int status = 0;
    rusage usage{};
    if (posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ) != 0 ||
        wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("cvrtool failed (run it by hand to see why)");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    peak_kib = std::max(peak_kib, usage.ru_maxrss);
  }
  posix_spawn_file_actions_destroy(&actions);
  state.counters["peak_rss_mib"] = static_cast<double>(peak_kib) / 1024;
}

void Once(benchmark::internal::Benchmark* b) { b->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime(); }
void Child(benchmark::internal::Benchmark* b) { b->Iterations(1)->Unit(benchmark::kMillisecond)->UseManualTime(); }
BENCHMARK_CAPTURE(BM_Memory_Write, plain, FileVersionCVR_V0102)->Apply(Once);
BENCHMARK_CAPTURE(BM_Memory_Write, enciphered, FileVersionCVR_Ve102)->Apply(Once);
BENCHMARK_CAPTURE(BM_Memory_Read, plain, FileVersionCVR_V0102)->Apply(Once);
BENCHMARK_CAPTURE(BM_Memory_Read, enciphered, FileVersionCVR_Ve102)->Apply(Once);
BENCHMARK(BM_Memory_Index)->Apply(Once);
BENCHMARK(BM_Memory_Jump)->Apply(Once);
BENCHMARK_CAPTURE(BM_Cvrtool, verify_plain, "verify LOG", FileVersionCVR_V0102)->Apply(Child);
BENCHMARK_CAPTURE(BM_Cvrtool, verify_enciphered, "verify LOG", FileVersionCVR_Ve102)->Apply(Child);
BENCHMARK_CAPTURE(BM_Cvrtool, dump, "dump LOG", FileVersionCVR_V0102)->Apply(Child);
BENCHMARK_CAPTURE(BM_Cvrtool, info, "info LOG", FileVersionCVR_V0102)->Apply(Child);
BENCHMARK_CAPTURE(BM_Cvrtool, index, "index LOG", FileVersionCVR_V0102)->Apply(Child);
// The tool's copying commands next to convert, which copies the same log.
BENCHMARK_CAPTURE(BM_Cvrtool, convert, "convert LOG COPY --to 1.02", FileVersionCVR_V0102)->Apply(Child);
BENCHMARK_CAPTURE(BM_Cvrtool, export_pcapng, "export LOG PCAPNG --format pcapng", FileVersionCVR_V0102)->Apply(Child);
BENCHMARK_CAPTURE(BM_Cvrtool, export_jsonl, "export LOG OUT --format jsonl", FileVersionCVR_V0102)->Apply(Child);
BENCHMARK_CAPTURE(BM_Cvrtool, export_csv, "export LOG OUT --format csv", FileVersionCVR_V0102)->Apply(Child);
BENCHMARK_CAPTURE(BM_Cvrtool, import, "import PCAPNG OUT", FileVersionCVR_V0102)->Apply(Child);
BENCHMARK_CAPTURE(BM_Cvrtool, slice, "slice LOG OUT --from 1", FileVersionCVR_V0102)->Apply(Child);
BENCHMARK_CAPTURE(BM_Cvrtool, split, "split LOG OUT --count 100000", FileVersionCVR_V0102)->Apply(Child);
// Two logs of the same size: twice convert's bytes.
BENCHMARK_CAPTURE(BM_Cvrtool, merge, "merge OUT LOG COPY", FileVersionCVR_V0102)->Apply(Child);

// Deletes the scratch files when the process ends (after the benchmarks).
ScratchCleanup cleanup{"corvane-memory-bench"};

}  // namespace
}  // namespace corvane::bench
