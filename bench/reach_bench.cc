// Reaching record N, the middle record of a log of 10 million records
// (64-byte payloads, 80-byte blocks, warm in the page cache), and reading
// its header, next to baselines measured in the same run:
//   library:      Jump(N) through the index (resolution 100, built before
//                 the run: its cost is indexing_bench's) + ReadBlockHeader;
//   read() scan:  the same file from its start in 1 MiB reads, stepping from
//                 header to header by the data lengths;
//   stdio scan:   fread of each header and payload through a 1 MiB buffer;
//   pcap scan:    pcap_next_ex N + 1 times over the same records in a pcap
//                 file (no index exists for it);
//   offset table: pread of the header at an offset taken from an in-memory
//                 table of every record's position (8 bytes a record, built
//                 by one scan before timing): what a reader with its own
//                 full index pays.
// Every operation starts from the beginning of the log: the scans open the
// file; the library jumps back to record 0 (untimed) between jumps.
//
// The log is index_bench's jump log (same scratch directory and sizes), so a
// run after index_bench with CORVANE_BENCH_KEEP=1 reuses it and its index.
// Environment: JUMP_BENCH_MESSAGES (default 10000000), CORVANE_BENCH_DIR,
// CORVANE_BENCH_KEEP.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_util.h"

namespace corvane::bench {
namespace {

constexpr size_t kPayload = 64;
const uint64_t kMessages = EnvNumber("JUMP_BENCH_MESSAGES", 10000000);
const uint64_t kTarget = kMessages / 2;

const std::filesystem::path& Dir() {
  static const std::filesystem::path dir = ScratchDir("corvane-index-bench");
  return dir;
}

std::string Log() {
  const std::string path = (Dir() / "jump.cvr").string();
  MakeLog(path, kMessages, kPayload);
  return path;
}

// The same records as a pcap file; record i carries i in its time stamp.
std::string Pcap() {
  const std::string path = (Dir() / "reach.pcap").string();
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) == 24 + kMessages * (kRecordHeader + kPayload)) return path;
  pcap_t* dead = pcap_open_dead(DLT_USER0, 65535);
  pcap_dumper_t* d = pcap_dump_open(dead, path.c_str());
  std::vector<uint8_t> data = Payload(kPayload);
  pcap_pkthdr h{};
  h.caplen = h.len = kPayload;
  for (uint64_t i = 0; i < kMessages; ++i) {
    h.ts.tv_sec = static_cast<time_t>(i / 1000000);
    h.ts.tv_usec = static_cast<suseconds_t>(i % 1000000);
    pcap_dump(reinterpret_cast<u_char*>(d), &h, data.data());
  }
  pcap_dump_close(d);
  pcap_close(dead);
  return path;
}

void BM_Reach_Jump(benchmark::State& state) {
  const std::string path = Log();
  SetIndexingBuffer(Dir(), 1 << 20);
  LogFile2Object o;
  if (OpenIndexedLog(o.p, path, kMessages) != S_OK) {
    state.SkipWithError("open");
    return;
  }
  LogBlockHeader h;
  ULONG returned = 0;
  LONG eof = 0;
  auto jump = [&](uint64_t n) {
    return o.p->Jump(static_cast<LONGLONG>(n)) == S_OK &&
           o.p->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &eof) == S_OK &&
           h.qwTimeStamp == n;
  };
  for (auto _ : state) {
    if (!jump(0)) state.SkipWithError("jump to 0");
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = jump(kTarget);
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    if (!ok) {
      state.SkipWithError("jump landed elsewhere");
      break;
    }
  }
}

// Steps from header to header through 1 MiB reads; returns record n's
// stamp, or ~0 when the file ends first.
uint64_t ScanTo(int fd, uint64_t n, std::vector<uint8_t>& chunk, std::vector<uint64_t>* offsets) {
  uint64_t chunk_start = kLogFileHeader, chunk_size = 0;
  uint64_t at = kLogFileHeader;
  for (uint64_t i = 0;; ++i) {
    if (at + kRecordHeader > chunk_start + chunk_size) {
      chunk_start = at;
      const ssize_t got = ::pread(fd, chunk.data(), chunk.size(), static_cast<off_t>(at));
      chunk_size = got > 0 ? static_cast<uint64_t>(got) : 0;
      if (chunk_size < kRecordHeader) return ~0ull;
    }
    const uint8_t* header = chunk.data() + (at - chunk_start);
    if (offsets) offsets->push_back(at);
    if (i == n) return RecordStamp(header);
    at += kRecordHeader + RecordLength(header);
  }
}

void BM_Reach_RawScan(benchmark::State& state) {
  const std::string path = Log();
  std::vector<uint8_t> chunk(1 << 20);
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (ScanTo(fd, kTarget, chunk, nullptr) != kTarget) state.SkipWithError("scan landed elsewhere");
    ::close(fd);
  }
}

void BM_Reach_StdioScan(benchmark::State& state) {
  const std::string path = Log();
  std::vector<char> buffer(1 << 20);
  std::vector<uint8_t> data(kPayload);
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
      state.SkipWithError("fopen");
      break;
    }
    std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
    std::fseek(f, kLogFileHeader, SEEK_SET);
    uint8_t header[kRecordHeader];
    uint64_t i = 0;
    for (; std::fread(header, sizeof header, 1, f) == 1 && i < kTarget; ++i) {
      const uint32_t length = RecordLength(header);
      if (length > data.size() || std::fread(data.data(), 1, length, f) != length) break;
    }
    if (i != kTarget || RecordStamp(header) != kTarget) state.SkipWithError("scan landed elsewhere");
    std::fclose(f);
  }
}

void BM_Reach_PcapScan(benchmark::State& state) {
  const std::string path = Pcap();
  char error[PCAP_ERRBUF_SIZE];
  for (auto _ : state) {
    pcap_t* p = pcap_open_offline(path.c_str(), error);
    if (!p) {
      state.SkipWithError("pcap_open_offline");
      break;
    }
    pcap_pkthdr* h = nullptr;
    const u_char* bytes = nullptr;
    uint64_t i = 0;
    while (pcap_next_ex(p, &h, &bytes) == 1 && i < kTarget) ++i;
    if (i != kTarget || static_cast<uint64_t>(h->ts.tv_sec) * 1000000 + h->ts.tv_usec != kTarget) {
      state.SkipWithError("scan landed elsewhere");
    }
    pcap_close(p);
  }
}

void BM_Reach_RawOffsetTable(benchmark::State& state) {
  const std::string path = Log();
  int fd = ::open(path.c_str(), O_RDONLY);
  std::vector<uint64_t> offsets;
  offsets.reserve(kMessages);
  std::vector<uint8_t> chunk(1 << 20);
  ScanTo(fd, kMessages - 1, chunk, &offsets);
  uint8_t header[kRecordHeader];
  for (auto _ : state) {
    if (::pread(fd, header, sizeof header, static_cast<off_t>(offsets[kTarget])) != sizeof header ||
        RecordStamp(header) != kTarget) {
      state.SkipWithError("offset table landed elsewhere");
      break;
    }
  }
  ::close(fd);
}

BENCHMARK(BM_Reach_Jump)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Reach_RawOffsetTable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Reach_RawScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reach_StdioScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reach_PcapScan)->Unit(benchmark::kMillisecond);

// Deletes the scratch files when the process ends (after the benchmarks).
ScratchCleanup cleanup{"corvane-index-bench"};

}  // namespace
}  // namespace corvane::bench
