// LogFile2 recording and viewing next to baselines measured in the same run,
// for payloads of 16, 64, 256 and 1024 bytes (each record: a 16-byte header
// and the payload, 16 MiB of records per iteration):
//   write: WriteBlock through a 64 KiB disk buffer, plain (1.02) and
//          enciphered (e1.02); write() of the same bytes in 1 MiB chunks;
//          pcap_dump of the same records (16-byte record header + payload);
//   read:  ReadBlockHeader + ReadBlockData; read() of 1 MiB chunks;
//          pcap_next_ex.
// Every iteration opens, fills or drains and closes its file. The settings
// store is a private file (CORVANE_REGISTRY), so the 64 KiB disk buffer
// never reaches the user's settings.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "logfile2/log_file2.h"

namespace corvane::logfile2 {
namespace {

constexpr size_t kVolume = 16u << 20;
const ULONG kDiskBuffer = std::getenv("LOGFILE2_BENCH_BUFFER") ? std::atoi(std::getenv("LOGFILE2_BENCH_BUFFER")) : 64 * 1024;

std::string Scratch(const std::string& name) {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / "corvane-logfile2-bench";
    std::filesystem::create_directories(d);
    setenv("CORVANE_REGISTRY", (d / "registry").string().c_str(), 1);
    return d;
  }();
  return (dir / name).string();
}

size_t Records(size_t payload) { return kVolume / (16 + payload); }

struct Object {
  ILogFile2* p = nullptr;
  Object() { CreateLogFile2(nullptr, IID_ILogFile2, reinterpret_cast<void**>(&p)); }
  ~Object() { p->Release(); }
};

HRESULT OpenLog(ILogFile2* f, const std::string& path, EnumFileAccessMode mode, EnumFileVersion v) {
  std::u16string wide(path.begin(), path.end());
  BSTR name = SysAllocString(reinterpret_cast<const OLECHAR*>(wide.c_str()));
  HRESULT hr = f->Open(name, mode, &v, 0);
  SysFreeString(name);
  return hr;
}

std::string LogPath(size_t payload, EnumFileVersion v) {
  return Scratch("log" + std::to_string(v) + "-" + std::to_string(payload) + ".cvr");
}

void WriteLog(benchmark::State& state, EnumFileVersion v) {
  const size_t payload = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> data(payload, 0x5A);
  LogBlockHeader h{};
  h.wBlockID = CVR_ID_QUIVOX_MSG;
  h.dwDataLength = static_cast<ULONG>(payload);
  Object o;
  o.p->SetDiskBufferSize(kDiskBuffer);
  const std::string path = LogPath(payload, v);
  for (auto _ : state) {
    if (OpenLog(o.p, path, FileAccessModeWriteCreateAlways, v) != S_OK) state.SkipWithError("open");
    for (size_t i = 0; i < Records(payload); ++i) {
      h.qwTimeStamp = i;
      o.p->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, data.data(), h.dwDataLength, 0);
    }
    o.p->Close();
  }
  state.SetBytesProcessed(state.iterations() * Records(payload) * (16 + payload));
}
void BM_WriteBlock_Plain(benchmark::State& s) { WriteLog(s, FileVersionCVR_V0102); }
void BM_WriteBlock_Enciphered(benchmark::State& s) { WriteLog(s, FileVersionCVR_Ve102); }

void BM_ReadBlock(benchmark::State& state) {
  const size_t payload = static_cast<size_t>(state.range(0));
  const std::string path = LogPath(payload, FileVersionCVR_V0102);
  std::vector<uint8_t> data(payload);
  Object o;
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
  state.SetBytesProcessed(state.iterations() * Records(payload) * (16 + payload));
}

// The same bytes with write() / read() in 1 MiB chunks (and, to separate
// the cost of the chunk size from the cost of the library, in chunks of the
// disk buffer's size).
void RawWrite(benchmark::State& state, size_t chunk_size) {
  const size_t payload = static_cast<size_t>(state.range(0));
  const size_t total = Records(payload) * (16 + payload);
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
  state.SetBytesProcessed(state.iterations() * Records(payload) * (16 + payload));
}

void BM_PcapDump(benchmark::State& state) {
  const size_t payload = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> data(payload, 0x5A);
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
  state.SetBytesProcessed(state.iterations() * Records(payload) * (16 + payload));
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
  state.SetBytesProcessed(state.iterations() * Records(payload) * (16 + payload));
}

#define PAYLOADS ->Arg(16)->Arg(64)->Arg(256)->Arg(1024)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_RawWrite) PAYLOADS;
BENCHMARK(BM_RawWrite_DiskBufferChunks) PAYLOADS;
BENCHMARK(BM_PcapDump) PAYLOADS;
BENCHMARK(BM_WriteBlock_Plain) PAYLOADS;
BENCHMARK(BM_WriteBlock_Enciphered) PAYLOADS;
BENCHMARK(BM_RawRead) PAYLOADS;
BENCHMARK(BM_PcapNextEx) PAYLOADS;
BENCHMARK(BM_ReadBlock) PAYLOADS;

}  // namespace
}  // namespace corvane::logfile2
