// Recording and viewing the same records through the library and through
// baselines measured in the same run, for payloads of 16, 64, 256 and 1024
// bytes (each record: a block header and the payload; LOGFILE2_BENCH_MIB of
// 1.02 records per iteration, default 16; rates count the bytes of the
// same records in 1.02):
//   write: WriteBlock through a 64 KiB disk buffer (SetDiskBufferSize) in
//          1.02, e1.02 and u1.02; write() of the records laid out in memory,
//          in 1 MiB chunks; two fwrite per record (header, payload) through
//          a 64 KiB setvbuf buffer; pcap_dump of the same payloads;
//   read:  ReadBlockHeader + ReadBlockData through LogFile2 on 1.02, e1.02
//          and u1.02, and through LogFile on e1.00, e1.01, 01.00 and a
//          hexadecimal dump of the same records; read() of the 1.02 log in
//          1 MiB chunks; two fread per record through a 64 KiB buffer;
//          pcap_next_ex.
// Every iteration opens, fills or drains and closes its file; every
// benchmark reports its peak resident memory (bench_util.h, PeakRss). The
// settings store is a private file (CORVANE_REGISTRY), so the disk buffer
// never reaches the user's settings.
//
// Environment: LOGFILE2_BENCH_MIB, LOGFILE_BENCH_MIB, LOGFILE2_BENCH_PAYLOADS (default
// "16 64 256 1024"), LOGFILE2_BENCH_BUFFER (disk buffer, default 65536),
// CORVANE_BENCH_DIR (scratch base), CORVANE_BENCH_KEEP.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "bench_util.h"
#include "logfile/log_file.h"
#include "stream/cipher.h"

namespace corvane::bench {
namespace {

const size_t kVolume = EnvNumber("LOGFILE2_BENCH_MIB", 16) << 20;
// LogFile reads the older generations with a system call per read, about a
// hundred times slower than LogFile2: its logs hold fewer records
// (LOGFILE_BENCH_MIB, default 4), and the table compares rates.
const size_t kOldVolume = EnvNumber("LOGFILE_BENCH_MIB", 4) << 20;
const ULONG kDiskBuffer = static_cast<ULONG>(EnvNumber("LOGFILE2_BENCH_BUFFER", 64 * 1024));
constexpr size_t kStdioBuffer = 64 * 1024;

std::string Scratch(const std::string& name) {
  static const std::filesystem::path dir = ScratchDir("corvane-logfile2-bench");
  return (dir / name).string();
}

size_t PayloadOf(benchmark::State& state) { return static_cast<size_t>(state.range(0)); }
size_t Records(size_t payload, size_t volume = kVolume) { return volume / (kRecordHeader + payload); }
size_t Bytes(size_t payload, size_t volume = kVolume) { return Records(payload, volume) * (kRecordHeader + payload); }

std::string LogPath(size_t payload, EnumFileVersion v) {
  return Scratch("log" + std::to_string(v) + "-" + std::to_string(payload) + ".cvr");
}

// The 1.02-family log of `payload` (written by the write benchmark of the
// same version, or here when that did not run).
std::string Log(size_t payload, EnumFileVersion v) {
  const std::string path = LogPath(payload, v);
  MakeLog(path, Records(payload), payload, v);
  return path;
}

// The records of a plain 1.02 log laid out in memory (headers + payloads).
std::vector<uint8_t> Image(size_t payload) {
  std::vector<uint8_t> image(Bytes(payload), 0x5A);
  for (size_t i = 0; i < Records(payload); ++i) {
    EncodeRecordHeader(Record(i, payload), image.data() + i * (kRecordHeader + payload));
  }
  return image;
}

void WriteLog(benchmark::State& state, EnumFileVersion v) {
  const size_t payload = PayloadOf(state);
  std::vector<uint8_t> data = Payload(payload);
  PeakRss peak(state);
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

// Every record's header and data through ReadBlockHeader + ReadBlockData
// of `f` (LogFile2 or LogFile); false when the count is not `records`.
template <typename File>
bool ReadAll(File* f, std::vector<uint8_t>& data, size_t records) {
  LogBlockHeader h;
  ULONG returned = 0;
  LONG eof = 0;
  size_t n = 0;
  while (f->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &eof) == S_OK && !eof) {
    if (f->ReadBlockData(data.data(), static_cast<ULONG>(data.size())) != S_OK) return false;
    ++n;
  }
  return n == records;
}

void ReadLog(benchmark::State& state, EnumFileVersion v) {
  const size_t payload = PayloadOf(state);
  const std::string path = Log(payload, v);
  std::vector<uint8_t> data(payload);
  PeakRss peak(state);
  LogFile2Object o;
  for (auto _ : state) {
    if (OpenLog(o.p, path, FileAccessModeReadOnly, FileVersionUnknown) != S_OK ||
        !ReadAll(o.p, data, Records(payload))) {
      state.SkipWithError("open or record count");
      break;
    }
    o.p->Close();
  }
  state.SetBytesProcessed(state.iterations() * Bytes(payload));
}

// The older generations LogFile reads, made here from the same records:
// 01.00 and e1.00 (60-byte header, 12-byte big-endian block headers with the
// record number as milliseconds; e1.00 enciphered behind the header),
// e1.01 (written by LogFile2), and a converted hex dump (value 5: ">> "
// lines of the 12-byte header's bytes, then of the payload's).
std::string OldLog(size_t payload, EnumFileVersion v) {
  static std::set<std::string> made;
  const std::string path = LogPath(payload, v);
  if (!made.insert(path).second) return path;
  if (v == FileVersionCVR_Ve101) {
    std::filesystem::remove(path);
    MakeLog(path, Records(payload, kOldVolume), payload, v);
    return path;
  }
  std::string out;
  if (v != FileVersionCvrConvHex) {
    out = v == FileVersionCVR_Ve100 ? "KRV Binary Log File V e1.00\n\r" : "KRV Binary Log File V 01.00\n\r";
    out += "Benchmark log, made by hand\n\r";
    out.resize(59, '\0');
    out += '\x1a';
  }
  const size_t header_end = out.size();
  static const char kHex[] = "0123456789ABCDEF";
  auto put = [&](const uint8_t* b, size_t n) {
    if (v != FileVersionCvrConvHex) {
      out.append(reinterpret_cast<const char*>(b), n);
      return;
    }
    out += ">>";
    for (size_t i = 0; i < n; ++i) out += {' ', kHex[b[i] >> 4], kHex[b[i] & 15]};
    out += "\r\n";
  };
  const std::vector<uint8_t> data = Payload(payload);
  for (size_t i = 0; i < Records(payload, kOldVolume); ++i) {
    uint8_t h[12] = {};
    EncodeBE16(h, CVR_ID_QUIVOX_MSG);
    EncodeBE32(h + 4, static_cast<uint32_t>(i));
    EncodeBE32(h + 8, static_cast<uint32_t>(payload));
    put(h, sizeof h);
    put(data.data(), payload);
  }
  if (v == FileVersionCVR_Ve100) {
    stream::CipherParameters p;
    if (!p.Load(FileVersionCVR_Ve100).ok()) return path;
    (void)stream::EncipherInPlace(p, reinterpret_cast<uint8_t*>(out.data()) + header_end, out.size() - header_end);
  }
  std::ofstream(path, std::ios::binary).write(out.data(), static_cast<std::streamsize>(out.size()));
  return path;
}

void ReadOldLog(benchmark::State& state, EnumFileVersion v) {
  const size_t payload = PayloadOf(state);
  const std::string path = OldLog(payload, v);
  std::u16string wide(path.begin(), path.end());
  BSTR name = SysAllocString(reinterpret_cast<const OLECHAR*>(wide.c_str()));
  std::vector<uint8_t> data(payload + 4);  // LogFile may round lengths up to 4
  PeakRss peak(state);
  ILogFile* f = nullptr;
  logfile::CreateLogFile(nullptr, IID_ILogFile, reinterpret_cast<void**>(&f));
  for (auto _ : state) {
    EnumFileVersion found = FileVersionUnknown;
    if (f->Open(name, FileAccessModeReadOnly, &found) != S_OK || found != v ||
        !ReadAll(f, data, Records(payload, kOldVolume))) {
      state.SkipWithError("open, generation or record count");
      break;
    }
    f->Close();
  }
  f->Release();
  SysFreeString(name);
  state.SetBytesProcessed(state.iterations() * Bytes(payload, kOldVolume));
}

void BM_WriteBlock_Plain(benchmark::State& s) { WriteLog(s, FileVersionCVR_V0102); }
void BM_WriteBlock_Enciphered(benchmark::State& s) { WriteLog(s, FileVersionCVR_Ve102); }
void BM_WriteBlock_BigEndian(benchmark::State& s) { WriteLog(s, FileVersionCVR_Vu102); }
void BM_ReadBlock(benchmark::State& s) { ReadLog(s, FileVersionCVR_V0102); }
void BM_ReadBlock_Enciphered(benchmark::State& s) { ReadLog(s, FileVersionCVR_Ve102); }
void BM_ReadBlock_BigEndian(benchmark::State& s) { ReadLog(s, FileVersionCVR_Vu102); }
void BM_LogFileRead_e100(benchmark::State& s) { ReadOldLog(s, FileVersionCVR_Ve100); }
void BM_LogFileRead_e101(benchmark::State& s) { ReadOldLog(s, FileVersionCVR_Ve101); }
void BM_LogFileRead_0100(benchmark::State& s) { ReadOldLog(s, FileVersionCVR_V0100); }
void BM_LogFileRead_Hex(benchmark::State& s) { ReadOldLog(s, FileVersionCvrConvHex); }

// The records laid out in memory, written with write() in 1 MiB chunks.
void BM_RawWrite(benchmark::State& state) {
  const size_t payload = PayloadOf(state);
  const std::vector<uint8_t> image = Image(payload);
  const std::string path = Scratch("raw-" + std::to_string(payload) + ".bin");
  PeakRss peak(state);
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (size_t at = 0; at < image.size();) {
      const size_t n = std::min<size_t>(image.size() - at, 1 << 20);
      if (::write(fd, image.data() + at, n) != static_cast<ssize_t>(n)) state.SkipWithError("write");
      at += n;
    }
    ::close(fd);
  }
  state.SetBytesProcessed(state.iterations() * image.size());
}

// read() of the plain log in 1 MiB chunks, without looking at a record.
void BM_RawRead(benchmark::State& state) {
  const size_t payload = PayloadOf(state);
  const std::string path = Log(payload, FileVersionCVR_V0102);
  std::vector<uint8_t> chunk(1 << 20);
  PeakRss peak(state);
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_RDONLY);
    while (::read(fd, chunk.data(), chunk.size()) > 0) benchmark::DoNotOptimize(chunk.data());
    ::close(fd);
  }
  state.SetBytesProcessed(state.iterations() * Bytes(payload));
}

// One fwrite for each record's 16-byte header (the bytes a plain log holds)
// and one for its payload, through a 64 KiB buffer: a simple recorder.
void BM_StdioWrite(benchmark::State& state) {
  const size_t payload = PayloadOf(state);
  std::vector<uint8_t> data = Payload(payload);
  std::vector<char> buffer(kStdioBuffer);
  const std::string path = Scratch("stdio-" + std::to_string(payload) + ".bin");
  PeakRss peak(state);
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

// fread of each header of the plain log, then of the payload it announces.
void BM_StdioRead(benchmark::State& state) {
  const size_t payload = PayloadOf(state);
  const std::string path = Log(payload, FileVersionCVR_V0102);
  std::vector<uint8_t> data(payload);
  std::vector<char> buffer(kStdioBuffer);
  PeakRss peak(state);
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "rb");
    std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
    std::fseek(f, kLogFileHeader, SEEK_SET);
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

std::string PcapPath(size_t payload) { return Scratch("pcap-" + std::to_string(payload) + ".pcap"); }

void DumpPcap(const std::string& path, size_t payload) {
  std::vector<uint8_t> data = Payload(payload);
  pcap_t* dead = pcap_open_dead(DLT_USER0, 65535);
  pcap_dumper_t* d = pcap_dump_open(dead, path.c_str());
  pcap_pkthdr h{};
  h.caplen = h.len = static_cast<bpf_u_int32>(payload);
  for (size_t i = 0; d && i < Records(payload); ++i) {
    h.ts.tv_usec = static_cast<long>(i % 1000000);
    pcap_dump(reinterpret_cast<u_char*>(d), &h, data.data());
  }
  if (d) pcap_dump_close(d);
  pcap_close(dead);
}

void BM_PcapDump(benchmark::State& state) {
  PeakRss peak(state);
  for (auto _ : state) DumpPcap(PcapPath(PayloadOf(state)), PayloadOf(state));
  state.SetBytesProcessed(state.iterations() * Bytes(PayloadOf(state)));
}

void BM_PcapNextEx(benchmark::State& state) {
  const size_t payload = PayloadOf(state);
  const std::string path = PcapPath(payload);
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) != 24 + Bytes(payload)) DumpPcap(path, payload);
  char error[PCAP_ERRBUF_SIZE];
  PeakRss peak(state);
  for (auto _ : state) {
    pcap_t* p = pcap_open_offline(path.c_str(), error);
    if (!p) {
      state.SkipWithError("pcap_open_offline");
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
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}
BENCHMARK(BM_RawWrite)->Apply(Payloads);
BENCHMARK(BM_StdioWrite)->Apply(Payloads);
BENCHMARK(BM_PcapDump)->Apply(Payloads);
BENCHMARK(BM_WriteBlock_Plain)->Apply(Payloads);
BENCHMARK(BM_WriteBlock_Enciphered)->Apply(Payloads);
BENCHMARK(BM_WriteBlock_BigEndian)->Apply(Payloads);
BENCHMARK(BM_RawRead)->Apply(Payloads);
BENCHMARK(BM_StdioRead)->Apply(Payloads);
BENCHMARK(BM_PcapNextEx)->Apply(Payloads);
BENCHMARK(BM_ReadBlock)->Apply(Payloads);
BENCHMARK(BM_ReadBlock_Enciphered)->Apply(Payloads);
BENCHMARK(BM_ReadBlock_BigEndian)->Apply(Payloads);
BENCHMARK(BM_LogFileRead_e100)->Apply(Payloads);
BENCHMARK(BM_LogFileRead_e101)->Apply(Payloads);
BENCHMARK(BM_LogFileRead_0100)->Apply(Payloads);
BENCHMARK(BM_LogFileRead_Hex)->Apply(Payloads);

// Deletes the scratch files when the process ends (after the benchmarks).
ScratchCleanup cleanup{"corvane-logfile2-bench"};

}  // namespace
}  // namespace corvane::bench
