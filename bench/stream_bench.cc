// The stream engine's hot paths next to baselines measured in the same run:
//   cipher: Encipher / Decipher of 64 KiB buffers vs one XOR pass over them;
//   reads:  Read of 16-byte headers and 64-byte data through LogFileStream
//           vs 1 MiB system reads of the same file.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "bench_util.h"
#include "platform/file.h"
#include "stream/cipher.h"
#include "stream/file_format.h"
#include "stream/key_source.h"
#include "stream/log_file_stream.h"

namespace corvane::stream {
namespace {

constexpr size_t kBuffer = 64 * 1024;
constexpr size_t kFileBody = 256u << 20;

std::vector<uint8_t> Bytes(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
  return v;
}

CipherParameters SharedSet() { return ParametersFromKey(DefaultKeyMaterial().sets[1]); }
CipherParameters E100Set() { return ParametersFromKey(DefaultKeyMaterial().sets[0]); }

void BM_XorPass(benchmark::State& state) {
  std::vector<uint8_t> buf = Bytes(kBuffer);
  for (auto _ : state) {
    for (uint8_t& b : buf) b ^= 0xA7;
    benchmark::DoNotOptimize(buf.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBuffer);
}
BENCHMARK(BM_XorPass);

void RunCipher(benchmark::State& state, const CipherParameters& p, bool kEncipher) {
  std::vector<uint8_t> buf = Bytes(kBuffer);
  for (auto _ : state) {
    Status st = kEncipher ? EncipherInPlace(p, buf.data(), buf.size())
                          : DecipherInPlace(p, buf.data(), buf.size());
    benchmark::DoNotOptimize(st);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBuffer);
}
void BM_Encipher(benchmark::State& state, CipherParameters p) { RunCipher(state, p, true); }
void BM_Decipher(benchmark::State& state, CipherParameters p) { RunCipher(state, p, false); }
BENCHMARK_CAPTURE(BM_Encipher, shared_set, SharedSet());
BENCHMARK_CAPTURE(BM_Decipher, shared_set, SharedSet());
BENCHMARK_CAPTURE(BM_Encipher, e100_set, E100Set());
BENCHMARK_CAPTURE(BM_Decipher, e100_set, E100Set());

// A key whose taps sit next to the block's ends: the byte-wise path.
CipherParameters EdgeTaps() {
  KeySetBytes k = {0x11, 0x22, 1, 1, 2, 3, 4, 5, 59, 60, 61, 62, 63, 64};
  return ParametersFromKey(k);
}
BENCHMARK_CAPTURE(BM_Encipher, edge_taps, EdgeTaps());
BENCHMARK_CAPTURE(BM_Decipher, edge_taps, EdgeTaps());

const std::string& LargeFile() {
  static const std::string path = [] {
    std::string p = (std::filesystem::temp_directory_path() / "corvane-bench.cvr").string();
    std::unique_ptr<platform::File> f;
    platform::OpenOptions o{platform::kAccessWrite, platform::kShareRead,
                            platform::Disposition::kCreateAlways, false};
    if (!platform::OpenFile(p, o, &f).ok()) return p;
    std::vector<uint8_t> header = BuildHeader(FileVersionCVR_V0102);
    uint32_t w = 0;
    (void)f->Write(header.data(), 128, &w);
    std::vector<uint8_t> chunk = Bytes(1 << 20);
    for (size_t i = 0; i < kFileBody / chunk.size(); ++i) {
      (void)f->Write(chunk.data(), static_cast<uint32_t>(chunk.size()), &w);
    }
    return p;
  }();
  return path;
}

void BM_SystemRead1MiB(benchmark::State& state) {
  std::vector<uint8_t> buf(1 << 20);
  platform::OpenOptions o{platform::kAccessRead, platform::kShareRead,
                          platform::Disposition::kOpenExisting, false};
  for (auto _ : state) {
    std::unique_ptr<platform::File> f;
    if (!platform::OpenFile(LargeFile(), o, &f).ok()) state.SkipWithError("no file");
    uint32_t got = 0;
    while (f && f->Read(buf.data(), static_cast<uint32_t>(buf.size()), &got).ok() && got) {
      benchmark::DoNotOptimize(buf.data());
    }
  }
  state.SetBytesProcessed(state.iterations() * (kFileBody + 128));
}
BENCHMARK(BM_SystemRead1MiB)->Unit(benchmark::kMillisecond);

void BM_StreamRead16Plus64(benchmark::State& state) {
  uint8_t header[16], data[64];
  platform::OpenOptions o{platform::kAccessRead, platform::kShareRead,
                          platform::Disposition::kOpenExisting, false};
  for (auto _ : state) {
    LogFileStream s;
    if (!s.Open(LargeFile(), o, 0).ok()) state.SkipWithError("no file");
    (void)s.Seek(128, platform::SeekOrigin::kBegin);
    uint32_t got = 0;
    for (;;) {
      if (!s.Read(header, 16, &got).ok() || got < 16) break;
      if (!s.Read(data, 64, &got).ok() || got < 64) break;
      benchmark::DoNotOptimize(data);
    }
  }
  state.SetBytesProcessed(state.iterations() * kFileBody);
}
BENCHMARK(BM_StreamRead16Plus64)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvane::stream
