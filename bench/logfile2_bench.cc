// LogFile2 recording and viewing next to baselines measured in the same run,
// for payloads of 16, 64, 256 and 1024 bytes (each record: a 16-byte header
// and the payload, 16 MiB of records per iteration):
//   write: WriteBlock through a 64 KiB disk buffer, plain (1.02) and
//          enciphered (e1.02); write() of the same bytes in 1 MiB chunks;
//          fwrite of each record's header and payload through a 1 MiB
//          stdio buffer; pcap_dump of the same records (16-byte record
//          header + payload);
//   read:  ReadBlockHeader + ReadBlockData; read() of 1 MiB chunks; fread
//          of each header and payload through a 1 MiB stdio buffer;
//          pcap_next_ex.
// Every iteration opens, fills or drains and closes its file. The settings
// store is a private file (CORVANE_REGISTRY), so the 64 KiB disk buffer
// never reaches the user's settings.
//
// Environment: LOGFILE2_BENCH_MIB (volume per iteration, default 16),
// LOGFILE2_BENCH_PAYLOADS (default "16 64 256 1024"), LOGFILE2_BENCH_BUFFER
// (disk buffer, default 65536), CORVANE_BENCH_DIR (scratch base).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_util.h"

namespace corvane::bench {
namespace {

const size_t kVolume = EnvNumber("LOGFILE2_BENCH_MIB", 16) << 20;
const ULONG kDiskBuffer = static_cast<ULONG>(EnvNumber("LOGFILE2_BENCH_BUFFER", 64 * 1024));
constexpr size_t kStdioBuffer = 1 << 20;

std::string Scratch(const std::string& name) {
  static const std::filesystem::path dir = ScratchDir("corvane-logfile2-bench");
  return (dir / name).string();
}

size_t Records(size_t payload) { return kVolume / (kRecordHeader + payload); }
size_t Bytes(size_t payload) { return Records(payload) * (kRecordHeader + payload); }

std::string LogPath(size_t payload, EnumFileVersion v) {
  return Scratch("log" + std::to_string(v) + "-" + std::to_string(payload) + ".cvr");
}

void WriteLog(benchmark::State& state, EnumFileVersion v) {
  const size_t payload = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> data = Payload(payload);
  LogFile2Object o;
  o.p->SetDiskBufferSize(kDiskBuffer);
  const std::string path = LogPath(payload, v);
  for (auto _ : state) {
    if (OpenLog(o.p, path, FileAccessModeWriteCreateAlways, v) != S_OK) state.SkipWithError("open");
    for (size_t i = 0; i < Records(payload); ++i) {
      LogBlockHeader h = Record(i, payload);
      o.p->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, data.data(), h.dwDataLength, 0);
    }
    o.p->Close();
  }
  state.SetBytesProcessed(state.iterations() * Bytes(payload));
}
void BM_WriteBlock_Plain(benchmark::State& s) { WriteLog(s, FileVersionCVR_V0102); }
void BM_WriteBlock_Enciphered(benchmark::State& s) { WriteLog(s, FileVersionCVR_Ve102); }

void BM_ReadBlock(benchmark::State& state) {
  const size_t payload = static_cast<size_t>(state.range(0));
  const std::string path = LogPath(payload, FileVersionCVR_V0102);
  std::vector<uint8_t> data(payload);
  LogFile2Object o;
  for (auto _ : state) {
    if (OpenLog(o.p, path, FileAccessModeReadOnly, FileVersionUnknown) != S_OK) {
      state.SkipWithError("run the write benchmark first");
      break;
    }
    LogBlockHeader h;
    ULONG returned = 0;
    LONG eof = 0;
    size_t n = 0;
    while (o.p->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &eof) == S_OK &&
           !eof) {
      o.p->ReadBlockData(data.data(), static_cast<ULONG>(data.size()));
      ++n;
    }
    if (n != Records(payload)) state.SkipWithError("record count");
    o.p->Close();
  }
  state.SetBytesProcessed(state.iterations() * Bytes(payload));
}

// The same bytes with write() / read() in 1 MiB chunks (and, to separate
// the cost of the chunk size from the cost of the library, in chunks of the
// disk buffer's size).
void RawWrite(benchmark::State& state, size_t chunk_size) {
  const size_t payload = static_cast<size_t>(state.range(0));
  const size_t total = Bytes(payload);
  std::vector<uint8_t> chunk(chunk_size, 0x5A);
  const std::string path = Scratch("raw-" + std::to_string(payload) + ".bin");
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (size_t left = total; left > 0;) {
      const size_t n = std::min(left, chunk.size());
      if (::write(fd, chunk.data(), n) != static_cast<ssize_t>(n)) state.SkipWithError("write");
      left -= n;
    }
    ::close(fd);
  }
  state.SetBytesProcessed(state.iterations() * total);
}
void BM_RawWrite(benchmark::State& s) { RawWrite(s, 1 << 20); }
void BM_RawWrite_DiskBufferChunks(benchmark::State& s) { RawWrite(s, kDiskBuffer); }

void BM_RawRead(benchmark::State& state) {
  const size_t payload = static_cast<size_t>(state.range(0));
  const std::string path = Scratch("raw-" + std::to_string(payload) + ".bin");
  std::vector<uint8_t> chunk(1 << 20);
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_RDONLY);
    while (::read(fd, chunk.data(), chunk.size()) > 0) benchmark::DoNotOptimize(chunk.data());
    ::close(fd);
  }
  state.SetBytesProcessed(state.iterations() * Bytes(payload));
}

// stdio with a 1 MiB buffer: one fwrite for each record's 16-byte header
// (the bytes a plain log holds) and one for its payload, as a simple
// recorder writes records.
void BM_StdioWrite(benchmark::State& state) {
  const size_t payload = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> data = Payload(payload);
  std::vector<char> buffer(kStdioBuffer);
  const std::string path = Scratch("stdio-" + std::to_string(payload) + ".bin");
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
      state.SkipWithError("fopen");
      break;
    }
    std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
    uint8_t header[kRecordHeader];
    for (size_t i = 0; i < Records(payload); ++i) {
      EncodeRecordHeader(Record(i, payload), header);
      std::fwrite(header, sizeof header, 1, f);
      std::fwrite(data.data(), 1, payload, f);
    }
    if (std::fclose(f) != 0) state.SkipWithError("fclose");
  }
  state.SetBytesProcessed(state.iterations() * Bytes(payload));
}

// fread of each header, then of the payload whose length it gives.
void BM_StdioRead(benchmark::State& state) {
  const size_t payload = static_cast<size_t>(state.range(0));
  const std::string path = Scratch("stdio-" + std::to_string(payload) + ".bin");
  std::vector<uint8_t> data(payload);
  std::vector<char> buffer(kStdioBuffer);
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
      state.SkipWithError("run the stdio write benchmark first");
      break;
    }
    std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
    uint8_t header[kRecordHeader];
    size_t n = 0;
    while (std::fread(header, sizeof header, 1, f) == 1) {
      const uint32_t length = RecordLength(header);
      if (length > data.size() || std::fread(data.data(), 1, length, f) != length) break;
      benchmark::DoNotOptimize(data.data());
      ++n;
    }
    if (n != Records(payload)) state.SkipWithError("record count");
    std::fclose(f);
  }
  state.SetBytesProcessed(state.iterations() * Bytes(payload));
}

void BM_PcapDump(benchmark::State& state) {
  const size_t payload = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> data = Payload(payload);
  const std::string path = Scratch("pcap-" + std::to_string(payload) + ".pcap");
  pcap_t* dead = pcap_open_dead(DLT_USER0, 65535);
  for (auto _ : state) {
    pcap_dumper_t* d = pcap_dump_open(dead, path.c_str());
    if (!d) state.SkipWithError("pcap_dump_open");
    pcap_pkthdr h{};
    h.caplen = h.len = static_cast<bpf_u_int32>(payload);
    for (size_t i = 0; i < Records(payload); ++i) {
      h.ts.tv_usec = static_cast<long>(i % 1000000);
      pcap_dump(reinterpret_cast<u_char*>(d), &h, data.data());
    }
    pcap_dump_close(d);
  }
  pcap_close(dead);
  state.SetBytesProcessed(state.iterations() * Bytes(payload));
}

void BM_PcapNextEx(benchmark::State& state) {
  const size_t payload = static_cast<size_t>(state.range(0));
  const std::string path = Scratch("pcap-" + std::to_string(payload) + ".pcap");
  char error[PCAP_ERRBUF_SIZE];
  for (auto _ : state) {
    pcap_t* p = pcap_open_offline(path.c_str(), error);
    if (!p) {
      state.SkipWithError("run the pcap_dump benchmark first");
      break;
    }
    pcap_pkthdr* h = nullptr;
    const u_char* bytes = nullptr;
    while (pcap_next_ex(p, &h, &bytes) == 1) benchmark::DoNotOptimize(bytes);
    pcap_close(p);
  }
  state.SetBytesProcessed(state.iterations() * Bytes(payload));
}

void Payloads(benchmark::internal::Benchmark* b) {
  for (int64_t p : EnvList("LOGFILE2_BENCH_PAYLOADS", {16, 64, 256, 1024})) b->Arg(p);
  b->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_RawWrite)->Apply(Payloads);
BENCHMARK(BM_RawWrite_DiskBufferChunks)->Apply(Payloads);
BENCHMARK(BM_StdioWrite)->Apply(Payloads);
BENCHMARK(BM_PcapDump)->Apply(Payloads);
BENCHMARK(BM_WriteBlock_Plain)->Apply(Payloads);
BENCHMARK(BM_WriteBlock_Enciphered)->Apply(Payloads);
BENCHMARK(BM_RawRead)->Apply(Payloads);
BENCHMARK(BM_StdioRead)->Apply(Payloads);
BENCHMARK(BM_PcapNextEx)->Apply(Payloads);
BENCHMARK(BM_ReadBlock)->Apply(Payloads);

// Deletes the scratch files when the process ends (after the benchmarks).
struct Cleanup {
  ~Cleanup() {
    if (KeepScratch()) return;
    std::error_code ignored;
    std::filesystem::remove_all(ScratchPath("corvane-logfile2-bench"), ignored);
  }
} cleanup;

}  // namespace
}  // namespace corvane::bench
