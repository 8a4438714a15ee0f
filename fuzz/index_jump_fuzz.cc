// Fuzzes the index file and Jump through ILogFile2: part 0 is the log,
// part 1 the index file beside it ("idx"), part 2 the bookmark file (none
// when empty), part 3 a list of jumps.
//
//   part 3, per step: [u32 target] [b]: Jump(target % (indexed count + 3)),
//   then read b % 8 records with their data. Without part 3: sixteen jumps
//   spread over the indexed count and one to its last message, each
//   followed by two reads.
//
// Open takes a complete index of sub-version 1 or later and believes its
// resolution and count; Jump reads one index record and reads forward from
// the place it names. A damaged index may name any place in the log, any
// count and any resolution.
//
// Properties: no crash or hang; Jump either fails with an error or leaves
// the reader where ReadBlockHeader works on (success, error or end);
// caller buffers are never written past their length.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "com_util.h"
#include "fuzz_input.h"

using corvane::fuzz::Controls;
using corvane::fuzz::Owned;
using corvane::fuzz::OwnedBstr;

namespace {

constexpr uint8_t kGuard = 0xEE;

void ReadAfterJump(ILogFile2* log, int records, size_t file_size) {
  for (int i = 0; i < records; ++i) {
    LogBlockHeader header{};
    ULONG returned = 0;
    LONG eof = 0;
    if (FAILED(log->ReadBlockHeader(reinterpret_cast<BYTE*>(&header), sizeof header, &returned, &eof)) ||
        eof) {
      return;
    }
    if (header.dwDataLength > file_size + 4096) continue;
    std::vector<uint8_t> data(size_t{header.dwDataLength} + 1, kGuard);
    (void)log->ReadBlockData(data.data(), header.dwDataLength);
    CORVANE_FUZZ_CHECK(data[header.dwDataLength] == kGuard);
  }
}

void Place(const std::string& name, std::span<const uint8_t> bytes, bool present) {
  if (present) {
    corvane::fuzz::WriteScratchFile(name, bytes);
  } else {
    corvane::fuzz::RemoveScratchFile(name);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  corvane::fuzz::InitFuzzEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parts = corvane::fuzz::SplitInput(data, size, 4);
  const std::string path = corvane::fuzz::WriteScratchFile("jump.cvr", parts[0]);
  Place("jump.idx", parts[1], true);
  Place("jump.bmk", parts[2], !parts[2].empty());

  Owned<ILogFile2> log;
  corvane::fuzz::CreateObject(CLSID_LogFile2, IID_ILogFile2, &log);
  CORVANE_FUZZ_CHECK(log.get() != nullptr);
  OwnedBstr name(path);
  EnumFileVersion version = FileVersionUnknown;
  if (SUCCEEDED(log->Open(name.get(), FileAccessModeReadOnly, &version, 0))) {
    LONGLONG count = 0, resolution = 0;
    CORVANE_FUZZ_CHECK(SUCCEEDED(log->GetIndexedRecCount(&count)));
    (void)log->GetIndexResolution(&resolution);
    const uint64_t span = static_cast<uint64_t>(std::max<LONGLONG>(count, 0)) + 3;
    const size_t file_size = parts[0].size();
    Controls c(parts[3]);
    if (c.empty()) {
      for (uint64_t i = 0; i <= 16; ++i) {
        const uint64_t target = i < 16 ? (span - 3) / 16 * i : span - 4;
        if (SUCCEEDED(log->Jump(static_cast<LONGLONG>(target)))) ReadAfterJump(log.get(), 2, file_size);
      }
    }
    for (int step = 0; step < 24 && !c.empty(); ++step) {
      const uint64_t target = c.U32() % span;
      const int records = c.Byte() % 8;
      if (SUCCEEDED(log->Jump(static_cast<LONGLONG>(target)))) ReadAfterJump(log.get(), records, file_size);
    }
    (void)log->Close();
  }
  corvane::fuzz::ClearErrorInfo();
  return 0;
}
