// Fuzzes the stream's reads: part 0 is a file that the stream opens for
// reading (its version detected, so plain, enciphered and hex-text files all
// come through), part 1 a list of moves and reads.
//
//   part 1, per step: [op] then its operands
//     op % 6 == 0  Seek from the start      (u32 distance)
//              1   Seek from the pointer    (i32 distance)
//              2   Seek from the end        (i32 distance)
//              3   Read                     (u16 count)
//              4   FillReadBuffer
//              5   Read a large count       (u32 count, at most 1 MiB)
//
// Properties: no read delivers more than asked or writes past the buffer;
// plain files deliver exactly the file's bytes; enciphered reads leave the
// pointer at the start plus the count; hex reads never move it backwards;
// the size and position queries agree with the moves.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "stream/file_format.h"
#include "stream/log_file_stream.h"

using corvane::fuzz::Controls;
using corvane::platform::SeekOrigin;
using corvane::stream::LogFileStream;

namespace {

LogFileStream& Stream() {
  // One stream per process: its construction reads the settings store,
  // and Open starts from scratch for every file.
  static LogFileStream* stream = new LogFileStream();
  return *stream;
}

void CheckRead(LogFileStream& s, std::span<const uint8_t> file, uint32_t n) {
  const int64_t before = s.GetPosition();
  std::vector<uint8_t> out(size_t{n} + 1, 0xEE);
  uint32_t delivered = 0;
  const corvane::Status st = s.Read(out.data(), n, &delivered);
  CORVANE_FUZZ_CHECK(out[n] == 0xEE);
  CORVANE_FUZZ_CHECK(delivered <= n);
  const int64_t after = s.GetPosition();
  const int v = s.version();
  if (v == FileVersionCvrConvHex || v == FileVersionVantrelHex) {
    if (st.ok()) CORVANE_FUZZ_CHECK(after >= before);
  } else if (s.enciphered()) {
    if (st.ok()) CORVANE_FUZZ_CHECK(after == before + n);
  } else {
    CORVANE_FUZZ_CHECK(st.ok());
    const auto size = static_cast<int64_t>(file.size());
    const int64_t exist = before < size ? size - before : 0;
    CORVANE_FUZZ_CHECK(delivered == std::min<int64_t>(n, exist));
    CORVANE_FUZZ_CHECK(std::equal(out.begin(), out.begin() + delivered, file.begin() + before));
    CORVANE_FUZZ_CHECK(after == before + delivered);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  corvane::fuzz::InitFuzzEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parts = corvane::fuzz::SplitInput(data, size, 2);
  std::span<const uint8_t> file = parts[0];
  const std::string path = corvane::fuzz::WriteScratchFile("stream.cvr", file);
  LogFileStream& s = Stream();
  corvane::platform::OpenOptions options;
  options.access = corvane::platform::kAccessRead;
  options.share = corvane::platform::kShareRead;
  options.disposition = corvane::platform::Disposition::kOpenExisting;
  if (!s.Open(path, options, FileVersionUnknown).ok()) return 0;
  CORVANE_FUZZ_CHECK(s.GetSize() == static_cast<int64_t>(file.size()));

  Controls c(parts[1]);
  if (c.empty()) {
    // Everything behind the header, in pieces of a block header and data.
    (void)s.Seek(s.header_length(), SeekOrigin::kBegin);
    for (int i = 0; i < 64 && s.GetPosition() < static_cast<int64_t>(file.size()); ++i) {
      CheckRead(s, file, 16);
      CheckRead(s, file, 100);
    }
  }
  for (int step = 0; step < 32 && !c.empty(); ++step) {
    switch (c.Byte() % 6) {
      case 0: {
        const int64_t to = c.U32() % (file.size() + 300);
        CORVANE_FUZZ_CHECK(s.Seek(to, SeekOrigin::kBegin).ok() && s.GetPosition() == to);
        break;
      }
      case 1: (void)s.Seek(static_cast<int32_t>(c.U32()), SeekOrigin::kCurrent); break;
      case 2: (void)s.Seek(static_cast<int32_t>(c.U32()), SeekOrigin::kEnd); break;
      case 3: CheckRead(s, file, c.U16()); break;
      case 4: {
        uint32_t delivered = 0;
        (void)s.FillReadBuffer(&delivered);
        CORVANE_FUZZ_CHECK(delivered <= s.read_buffer_capacity());
        break;
      }
      case 5: CheckRead(s, file, c.U32() % (1u << 20)); break;
    }
    CORVANE_FUZZ_CHECK(s.GetPosition() >= 0);
  }
  s.Close();
  return 0;
}
